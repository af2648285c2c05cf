#include "planning/logic/planning_map.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <utility>

#include "core/api/failure.h"
#include "planning/logic/order_rows.h"

namespace dorvik::planning {

namespace {

constexpr std::array<const char*, 6> kPalette{"#B34B16", "#24659B", "#357243", "#794C98", "#AF4051", "#346D76"};

struct ModeEntry {
  PlanningMapMode mode;
  const char* label;
};
constexpr std::array<ModeEntry, 3> kModes{{
    {PlanningMapMode::view, "Просмотр карты"},
    {PlanningMapMode::coordinates, "Исправить координаты"},
    {PlanningMapMode::transfer, "Передать курьеру"},
}};

// The first order of the plan whose identity is `id`.
const JSONValue* findOrder(const JSONValue& planner, const std::string& id) {
  for (const JSONValue& order : planner["orders"].array()) {
    if (orderID(order) == id) return &order;
  }
  return nullptr;
}

// The order stands exactly at `point`.
bool standsAt(const JSONValue& planner, const std::string& id, MapPoint point) {
  const JSONValue* order = findOrder(planner, id);
  if (!order) return false;
  const std::optional<MapPoint> at = MapPoint::from(*order);
  return at && *at == point;
}

// A failure of work started here reaches the model's alert, unless it is a cancellation or belongs to a workspace
// that is gone.
void report(AppModel& model, const std::string& generation, std::exception_ptr failure) {
  if (model.generation() != generation) return;
  if (auto text = failureText(failure)) model.setError(std::move(*text));
}

async::Task<void> correctBack(std::shared_ptr<AppModel> model, MapWork work, std::string id, MapPoint point,
                              std::string generation) {
  std::exception_ptr failure;
  try {
    async::Task<void> correction = work.correctCoordinate(id, point.lat, point.lon);
    co_await std::move(correction);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) report(*model, generation, failure);
}

// A drag's correction; recorded for undo only when the order ends up exactly where it was dragged.
async::Task<void> correctDragged(std::shared_ptr<AppModel> model, MapWork work, std::weak_ptr<UndoStack> undo,
                                 std::string id, MapPoint old, MapPoint target, std::string generation) {
  std::exception_ptr failure;
  try {
    async::Task<void> correction = work.correctCoordinate(id, target.lat, target.lon);
    co_await std::move(correction);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    report(*model, generation, failure);
    co_return;
  }
  if (model->generation() != generation) co_return;
  if (!standsAt(model->planner(), id, target)) co_return;
  if (std::shared_ptr<UndoStack> stack = undo.lock()) {
    registerCoordinateUndo(stack, model, work, id, old, target, generation);
  }
}

}  // namespace

const std::vector<PlanningMapMode>& planningMapModes() {
  static const std::vector<PlanningMapMode> modes{PlanningMapMode::view, PlanningMapMode::coordinates,
                                                  PlanningMapMode::transfer};
  return modes;
}

std::string modeLabel(PlanningMapMode mode) {
  for (const ModeEntry& entry : kModes) {
    if (entry.mode == mode) return entry.label;
  }
  return {};
}

std::optional<PlanningMapMode> planningMapMode(std::string_view label) {
  for (const ModeEntry& entry : kModes) {
    if (label == entry.label) return entry.mode;
  }
  return std::nullopt;
}

std::string routeColor(std::int64_t index) { return kPalette[static_cast<std::size_t>(std::llabs(index % 6))]; }

std::vector<MapPin> planningPins(const JSONValue& planner, const std::set<std::string>& selected, bool qualityColors) {
  std::vector<MapPin> pins;
  const JSONArray& orders = planner["orders"].array();
  pins.reserve(orders.size() + 1);
  for (const JSONValue& order : orders) {
    const std::optional<MapPoint> point = MapPoint::from(order);
    if (!point) continue;
    std::string label;
    for (const char* key : {"_drv", "title", "address"}) {
      std::string part = order[key].string();
      if (part.empty()) continue;
      if (!label.empty()) label += " · ";
      label += part;
    }
    std::string number = order["_seq"].string();
    if (number.empty()) number = "•";
    MapPin pin(orderID(order), std::move(label), std::move(number), *point);
    pin.movable = true;
    pin.selected = selected.count(pin.id) > 0;
    const JSONValue& route = order["_rt"];
    if (qualityColors) {
      pin.color = order["source"].string() == "manual" ? kManualSourceColor : kOtherSourceColor;
    } else {
      pin.color = route.isNull() ? kUnroutedColor : routeColor(route.intValue());
    }
    // intValue saturates and reads NaN as 0, so a wild "_rt" cannot stop the program.
    if (route.doubleValue()) pin.vehicle = route.intValue();
    pins.push_back(std::move(pin));
  }
  const JSONValue& depot = planner["depot"];
  if (const std::optional<MapPoint> point = MapPoint::from(depot)) {
    MapPin pin("depot", depot["name"].string(), "С", *point);
    pin.color = kUnroutedColor;
    pins.push_back(std::move(pin));
  }
  return pins;
}

std::vector<std::vector<MapPoint>> routeLines(const JSONValue& planner) {
  const JSONArray& orders = planner["orders"].array();
  const auto count = static_cast<std::int64_t>(orders.size());
  std::vector<std::vector<MapPoint>> lines;
  for (const JSONValue& route : planner["routes"].array()) {
    std::vector<MapPoint> line;
    for (const JSONValue& position : route.path("orders").array()) {
      const std::int64_t i = position.intValue();
      if (i < 0 || i >= count) continue;
      if (const std::optional<MapPoint> point = MapPoint::from(orders[static_cast<std::size_t>(i)])) {
        line.push_back(*point);
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> lineColors(const JSONValue& planner) {
  std::vector<std::string> colors;
  for (const JSONValue& route : planner["routes"].array()) colors.push_back(routeColor(route.path("ci").intValue()));
  return colors;
}

std::vector<std::vector<MapPoint>> zonePolygons(const std::vector<JSONValue>& zones) {
  std::vector<std::vector<MapPoint>> polygons;
  for (const JSONValue& zone : zones) {
    if (zone["isHidden"].boolValue()) continue;
    std::vector<MapPoint> polygon;
    for (const JSONValue& element : zone["points"].array()) {
      if (!element.isArray() || element.size() != 2) continue;
      const JSONValue pair = JSONValue::object({{"lat", element.at(0)}, {"lon", element.at(1)}});
      if (const std::optional<MapPoint> point = MapPoint::from(pair)) polygon.push_back(*point);
    }
    polygons.push_back(std::move(polygon));
  }
  return polygons;
}

bool mapEditing(PlanningMapMode mode, bool busy) { return mode == PlanningMapMode::coordinates && !busy; }

bool mapTransferring(PlanningMapMode mode, bool planned, bool busy, bool geocoding) {
  return mode == PlanningMapMode::transfer && planned && !busy && !geocoding;
}

std::string mapHint(PlanningMapMode mode, bool planned) {
  switch (mode) {
    case PlanningMapMode::view:
      return "Выберите точку. «Свойства» открывают заказ; Ctrl или Shift добавляют точки к выбору.";
    case PlanningMapMode::coordinates:
      return "Перетащите точку на правильное здание. Esc — отмена.";
    case PlanningMapMode::transfer:
      return planned ? "Выберите точки нажатием и перетащите на точку другого курьера. Адреса останутся на месте."
                     : "Сначала нажмите «Рассчитать», чтобы распределять заказы между курьерами.";
  }
  return {};
}

MapWork modelMapWork(const std::shared_ptr<AppModel>& model) {
  MapWork work;
  work.correctCoordinate = [model](std::string id, double latitude, double longitude) {
    return model->correctCoordinate(std::move(id), latitude, longitude);
  };
  work.transferOrders = [model](std::vector<std::string> ids, std::int64_t vehicle, std::int64_t revision) {
    return model->transferPlanningOrders(std::move(ids), vehicle, revision);
  };
  work.undoTransfer = [model](JSONValue record) { return model->undoPlanningTransfer(std::move(record)); };
  return work;
}

void registerCoordinateUndo(const std::shared_ptr<UndoStack>& stack, const std::shared_ptr<AppModel>& model,
                            const MapWork& work, const std::string& id, MapPoint old, MapPoint now,
                            const std::string& generation) {
  if (!stack) return;
  std::weak_ptr<UndoStack> weak = stack;
  stack->registerUndo(kCoordinateUndoName, [weak, model, work, id, old, now, generation] {
    if (model->generation() != generation) return;
    if (!standsAt(model->planner(), id, now)) return;
    if (std::shared_ptr<UndoStack> undo = weak.lock())
      registerCoordinateUndo(undo, model, work, id, now, old, generation);
    async::spawn(correctBack(model, work, id, old, generation));
  });
}

// PlanningMap -----------------------------------------------------------------------------------------------

std::shared_ptr<PlanningMap> PlanningMap::create(std::shared_ptr<AppModel> model, MapWork work) {
  return std::shared_ptr<PlanningMap>(new PlanningMap(std::move(model), std::move(work)));
}

void PlanningMap::setMode(PlanningMapMode mode) {
  if (mode_ == mode) return;
  mode_ = mode;
  changed();
}

void PlanningMap::setShowZones(bool on) {
  if (showZones_ == on) return;
  showZones_ = on;
  changed();
}

void PlanningMap::setQualityColors(bool on) {
  if (qualityColors_ == on) return;
  qualityColors_ = on;
  changed();
}

bool PlanningMap::editing() const { return mapEditing(mode_, model_->busy()); }

bool PlanningMap::transferring() const {
  return mapTransferring(mode_, model_->planner()["planned"].boolValue(), model_->busy(), model_->geocoding());
}

MapContent PlanningMap::content() const {
  const JSONValue& planner = model_->planner();
  MapContent content;
  content.pins = planningPins(planner, model_->selectedOrders(), qualityColors_);
  content.lines = routeLines(planner);
  content.lineColors = lineColors(planner);
  if (showZones_) content.polygons = zonePolygons(model_->zones());
  content.editing = editing();
  content.drawing = false;
  content.transferring = transferring();
  content.planRevision = planner["revision"].intValue();
  const std::size_t vehicles = planner["vehicles"].array().size();
  for (std::size_t i = 0; i < vehicles; ++i) content.vehicles.push_back(static_cast<std::int64_t>(i));
  return content;
}

bool PlanningMap::canPickMode() const { return !model_->busy() && !model_->geocoding(); }

std::string PlanningMap::selectionText() const { return "Выбрано: " + std::to_string(model_->selectedOrders().size()); }

bool PlanningMap::canAssign() const { return transferring() && !model_->selectedOrders().empty(); }

std::vector<std::string> PlanningMap::assignTitles() const {
  std::vector<std::string> titles;
  for (const JSONValue& vehicle : model_->planner()["vehicles"].array()) titles.push_back(vehicle["ref"].string());
  return titles;
}

bool PlanningMap::canClearSelection() const { return !model_->selectedOrders().empty(); }

bool PlanningMap::canUndoTransfer() const {
  // A transfer of another workspace (before a depot switch) can never be taken back here, whatever its revision.
  return !transferUndo_.isNull() && transferUndo_["generation"].string() == model_->generation() &&
         transferUndo_["expectedRevision"] == model_->planner()["revision"] && !model_->busy();
}

void PlanningMap::interact(const MapInteraction& interaction, const std::shared_ptr<UndoStack>& undo) {
  if (const auto* select = interaction.as<MapInteraction::Select>()) {
    const std::vector<std::string> ids = model_->orderIDs();
    if (std::find(ids.begin(), ids.end(), select->id) == ids.end()) return;
    std::set<std::string> selection{select->id};
    if (select->additive) {
      selection = model_->selectedOrders();
      if (!selection.erase(select->id)) selection.insert(select->id);
    }
    model_->setSelectedOrders(std::move(selection));
  } else if (const auto* move = interaction.as<MapInteraction::Move>()) {
    if (!editing()) return;
    const std::vector<MapPin> pins = planningPins(model_->planner(), model_->selectedOrders(), qualityColors_);
    auto pin = std::find_if(pins.begin(), pins.end(), [&](const MapPin& p) { return p.id == move->id; });
    if (pin == pins.end() || !pin->movable) return;
    const std::string generation = model_->generation();
    const MapPoint old = pin->point;
    model_->setSelectedOrders({move->id});
    async::spawn(correctDragged(model_, work_, undo, move->id, old, move->point, generation));
  } else if (const auto* transfer = interaction.as<MapInteraction::Transfer>()) {
    if (!transferring()) return;
    this->transfer(transfer->ids, transfer->vehicle, transfer->revision);
  }
  // A vertex means nothing on the planning map.
}

void PlanningMap::assignSelection(std::int64_t position) {
  if (!canAssign()) return;
  const std::set<std::string>& selected = model_->selectedOrders();
  std::vector<std::string> ids;
  for (const std::string& id : model_->orderIDs()) {
    if (selected.count(id)) ids.push_back(id);
  }
  transfer(std::move(ids), position, model_->planner()["revision"].intValue());
}

void PlanningMap::clearSelection() { model_->setSelectedOrders({}); }

namespace {

async::Task<void> runTransfer(std::shared_ptr<AppModel> model, MapWork work, std::weak_ptr<PlanningMap> map,
                              std::function<void(PlanningMap&, JSONValue)> keep, std::vector<std::string> ids,
                              std::int64_t vehicle, std::int64_t revision) {
  const std::string generation = model->generation();
  std::optional<JSONValue> record;
  std::exception_ptr failure;
  try {
    async::Task<std::optional<JSONValue>> transfer = work.transferOrders(std::move(ids), vehicle, revision);
    record = co_await std::move(transfer);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) report(*model, generation, failure);
  if (!record) co_return;
  if (std::shared_ptr<PlanningMap> kept = map.lock()) keep(*kept, std::move(*record));
}

async::Task<void> runTransferUndo(std::shared_ptr<AppModel> model, MapWork work, std::weak_ptr<PlanningMap> map,
                                  std::function<void(PlanningMap&)> forget, JSONValue record) {
  const std::string generation = model->generation();
  bool undone = false;
  std::exception_ptr failure;
  try {
    async::Task<bool> undo = work.undoTransfer(std::move(record));
    undone = co_await std::move(undo);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) report(*model, generation, failure);
  if (!undone) co_return;
  if (std::shared_ptr<PlanningMap> kept = map.lock()) forget(*kept);
}

}  // namespace

void PlanningMap::transfer(std::vector<std::string> ids, std::int64_t vehicle, std::int64_t revision) {
  auto keep = [](PlanningMap& map, JSONValue record) {
    map.transferUndo_ = std::move(record);
    map.changed();
  };
  async::spawn(runTransfer(model_, work_, weak_from_this(), keep, std::move(ids), vehicle, revision));
}

void PlanningMap::undoTransfer() {
  if (!canUndoTransfer()) return;
  auto forget = [](PlanningMap& map) {
    map.transferUndo_ = JSONValue();
    map.changed();
  };
  async::spawn(runTransferUndo(model_, work_, weak_from_this(), forget, transferUndo_));
}

}  // namespace dorvik::planning
