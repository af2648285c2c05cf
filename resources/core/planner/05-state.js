// The engine-wide constants and state of the planner component (the component object itself is declared first,
// in 00-core.js).
PlannerCore.actions = {};

const Prelude = globalThis.NativePrelude;
const refuse = Prelude.fail;

// Paid road-routing requests granted to a plan (shown by the road refinement sheet).
const ROUTING_QUOTA = 1000;
const ARCHIVE_FORMAT = "planner-archive";
const ARCHIVE_VERSION = 1;
const DEFAULT_CONFIG = planningParameterTable(function (p) { return p.default; });
const CONFIG_RANGES = planningParameterTable(function (p) { return [p.low, p.high]; });
const DEFAULT_SHIFT = "09:00-18:00";

const MSG = Object.freeze({
  stale: "План изменился. Обновите и повторите.",
  staleTransfer: "План изменился. Повторите перенос.",
  orderMissing: "Заказ не найден в плане. Обновите план.",
  vehicleMissing: "Машина не найдена в плане.",
  notPlanned: "Сначала рассчитайте маршруты.",
  reorder: "Порядок маршрута изменился. Повторите.",
  badDate: "Неверная дата рейса.",
  depotRange: "Координаты склада вне допустимого диапазона.",
  noDepot: "Укажите склад с координатами.",
  noVehicles: "Нет машин на смене. Добавьте транспорт или включите «На смене».",
  config: PLANNING_PARAMETERS.rangeMessage,
  noRoutes: "В плане нет маршрутов для отправки.",
  badLeg: "Некорректное плечо маршрута.",
  unreadable: "План не удалось прочитать целиком. Текущий план не изменён."
});

// Engine-wide state: the current document, what the workspace entry told us, and the highest revision issued.
const plannerState = {
  doc: null,
  identity: { companyId: null, author: null },
  zones: [],
  lastRevision: 0
};
