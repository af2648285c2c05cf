// Workbooks: import, the working export's round trip, the route sheets, table sheets and the publication body.

function book(sheets, type) {
  const wb = XLSX.utils.book_new();
  sheets.forEach(function (s) { XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(s[1]), s[0]); });
  return XLSX.write(wb, { type: "base64", bookType: type || "xlsx" });
}
const DAMAGED = "Не удалось прочитать файл Excel: файл повреждён.";
const NOT_A_BOOK = "Не удалось прочитать файл Excel: это не книга Excel.";

function readBack(base64) { return XLSX.read(base64, { type: "base64" }); }
function rowsOf(wb, name) { return XLSX.utils.sheet_to_json(wb.Sheets[name], { header: 1, defval: null }); }

const EDITABLE = ["id", "title", "address", "phone", "window", "units", "lat", "lon", "hardWindow", "serviceS", "sharedS",
  "comments", "instructions", "source"];
function editable(o) { const out = {}; EDITABLE.forEach(function (k) { out[k] = o[k] === undefined ? null : o[k]; }); return out; }

function planned() {
  run("identity", { companyId: "c-1", author: "Иванова Анна" });
  run("load", {
    routeDate: "2026-09-22", fileName: "Заказы.xlsx",
    depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "08:00-20:00" },
    config: { CITY_KMH: 30, ROAD_FACTOR: 1.4, SERVICE_MIN: 7, LATE_TOL_MIN: 5 },
    vehicles: [{ id: "ivanov", ref: "Иванов", shift: "09:00-18:00", zone: "Центр", use: true, back: true, capacity: 20, mileage: 150 },
               { id: "petrov", ref: "Петров: [смена]/2", shift: "10:00-19:00", zone: "", use: false, back: false, capacity: null, mileage: null }],
    orders: [
      { id: "1001", title: "Кофейня", address: "Москва, Тверская улица, 6", phone: "+7 900 000-00-01", window: "09:00-12:00", units: 4,
        lat: 55.7606, lon: 37.6095, hardWindow: "да", serviceS: 300, sharedS: null, comments: "звонить", instructions: "вход со двора", source: "manual" },
      { id: "1002", title: "Магазин", address: "Москва, улица Петровка, 12", phone: "", window: "", units: null,
        lat: null, lon: null, hardWindow: "", serviceS: null, sharedS: 600, comments: "", instructions: "", extraColumn: "доп" },
      { id: "1003", title: "Офис", address: "Москва, Тверская улица, 6", phone: "", window: "09:00-", units: 2,
        lat: 55.7606, lon: 37.6095, hardWindow: "", serviceS: null, sharedS: null, comments: "", instructions: "" }
    ]
  });
  return run("calculate");
}

test("a working workbook imports back to the same plan", function () {
  const doc = planned();
  const exported = run("export", { kind: "working" });
  assertEqual(exported.name, "Рабочая книга 2026-09-22.xlsx");
  const wb = readBack(exported.base64);
  assertEqual(wb.SheetNames, ["Заказы", "Транспорт", "Склад", "Параметры"]);
  assertEqual(rowsOf(wb, "Заказы")[0][0], "Номер заказа");
  const imported = run("import", { base64: exported.base64, name: exported.name, routeDate: "2026-09-23" });
  assertEqual(imported.orders.map(editable), doc.orders.map(editable));
  assertEqual(imported.orders[1].extraColumn, "доп", "extra columns survive");
  assertEqual(imported.vehicles, doc.vehicles);
  assertEqual(imported.depot, doc.depot);
  assertEqual(imported.config, doc.config);
  assertEqual([imported.routeDate, imported.fileName, imported.planned, imported.routes], ["2026-09-23", exported.name, false, []]);
  assertEqual(imported.importedBook, [{ address: "Москва, Тверская улица, 6", lat: 55.7606, lon: 37.6095 }],
    "each address and point of the book once");
  assert(imported.orders.every(function (o) { return doc.orders.every(function (d) { return d._nativeID !== o._nativeID; }); }), "new ids");
  assertEqual(run("archive").workbook, exported.base64, "the source workbook is kept for the history");
  // Stored by the program under a cache entry, the book is kept by that entry's name only, also across a load.
  const ref = "history-workbook-" + "0123456789abcdef".repeat(4);
  run("import", { base64: exported.base64, name: exported.name, routeDate: "2026-09-23", workbookRef: ref });
  assertEqual([run("archive").workbook, run("archive").workbookRef], ["", ref]);
  run("load", Object.assign(run("archive"), { workbook: exported.base64 }));
  assertEqual([run("archive").workbook, run("archive").workbookRef], ["", ref], "a restored book is not kept twice");
  run("import", { base64: exported.base64, name: exported.name, routeDate: "2026-09-23", workbookRef: "../planner" });
  assertEqual([run("archive").workbook, run("archive").workbookRef], [exported.base64, undefined], "no other entry");
  assert(!("importedBook" in run("archive")));
  assert(!("importedBook" in run("date", { date: "2026-09-24" })));
});

// A hand-kept sheet with the usual mistakes, read the three ways a book reaches the import (.xlsx through the
// workbook library and through the lean reader, and .xls): every row with a value is an order, and each value
// that cannot be read is noted on its order with its column and the text as typed.
test("every row of a hand-kept sheet becomes an order, with what could not be read noted on it", function () {
  const rows = [
    ["Отчёт за день"],
    ["№", "Получатель", "Адрес доставки", "Окно с", "Окно до", "Места", "Вес", "Координаты", "Комментарий"],
    [1001, "Кафе", "Москва, Арбат, 10", 0.375, 0.5, "2,5", 12, "55.7502, 37.5932", "x"],
    [null, null, null, null, null, null, null, null, null],
    [1002, "Офис", "", null, null, 3, null, null, null],
    [1003, "Склад", "Москва, Покровка, 12", "18:00", "09:00", "три", "два кг", "", ""],
    [1001, "Дубль", "Москва, Арбат, 10", null, null, null, null, "55.7502, 37.5932", ""],
    ["", "Без номера", "Москва, Тверская, 1", "", "  ", 1, null, "555, 37.6", "вход @@@ со двора"],
    [1006, "Аптека", "Москва, Покровка, 12", "10:00", "", "", null, "", ""]
  ];
  // id, sheet row (for the orders to check and those without an address), window, units, lat, the notes (member,
  // column, text)
  const expected = [
    ["1001", 3, "09:00-12:00", 2.5, 55.7502, []],
    ["1002", 5, "", 3, null, []],
    ["1003", 6, "18:00-09:00", null, null, [["window", "Окно с – Окно до", "18:00-09:00"], ["units", "Места", "три"]]],
    ["1001", 7, "", null, 55.7502, []],
    ["", 8, "", 1, null, [["coordinates", "Координаты", "555, 37.6"]]],
    ["1006", null, "10:00-", null, null, []]
  ];
  function texts(value) {
    if (typeof value === "string") return [value];
    if (!value || typeof value !== "object") return [];
    return [].concat.apply([], Object.keys(value).map(function (k) { return texts(k).concat(texts(value[k])); }));
  }
  // The marker "@@@" of the comment becomes a lone surrogate as a damaged book holds it: three bytes of UTF-8 that
  // encode a surrogate (.xlsx), or "@" in UTF-16 become one (.xls).
  function damaged(type) {
    const bytes = new Uint8Array(XLSX.write(XLSX.read(book([["Лист1", rows]], type), { type: "base64" }), { type: "array", bookType: type }));
    const marker = type === "xlsx" ? [0x40, 0x40, 0x40] : [0x40, 0, 0x40, 0, 0x40, 0];
    const lone = type === "xlsx" ? [0xed, 0xa0, 0x80] : [0, 0xd8, 0x20, 0, 0x20, 0];
    let at = -1;
    for (let i = 0; at < 0 && i + marker.length <= bytes.length; i++) {
      if (marker.every(function (b, k) { return bytes[i + k] === b; })) at = i;
    }
    assert(at >= 0, "the marker is in the " + type + " book");
    bytes.set(lone, at);
    return bytesBase64(bytes);
  }
  [["xlsx", Infinity, "the workbook library", "вход \uFFFD со двора"], ["xlsx", 0, "the lean reader", "вход \uFFFD со двора"],
   ["biff8", Infinity, ".xls", "вход \uFFFD   со двора"]].forEach(function (way) {
    PlannerCore.leanReader.threshold = way[1];
    const doc = run("import", { base64: damaged(way[0]), name: "day.xlsx", routeDate: "2026-09-22" });
    const label = way[2];
    assertEqual(doc.orders.map(function (o) {
      return [o.id, o._row === undefined ? null : o._row, o.window, o.units, o.lat, (o._unread || []).map(function (e) { return [e.key, e.column, e.text]; })];
    }), expected, label);
    assertEqual(doc.orders[2]["Вес"], "два кг", label + ": a column the plan does not read keeps the text");
    assertEqual(doc.orders[4].comments, way[3], label + ": a lone surrogate is a damaged character");
    assert(texts(doc).every(function (t) { return t.isWellFormed(); }), label + ": every text of the answer is well-formed");
    assertEqual(doc.status, "Загружено заказов: 6; с координатами: 2. Требуют проверки: 4 — вкладка «Проверка».", label);
    assertEqual(doc.importSummary, "Загружено заказов: 6; с координатами: 2.", label);
  });

  // The working workbook writes each unread value back as typed: nothing is lost on the way round.
  const again = run("import", { base64: run("export", { kind: "working" }).base64, name: "w.xlsx", routeDate: "2026-09-22" });
  assertEqual(again.orders.map(function (o) { return (o._unread || []).map(function (e) { return e.text; }); }),
    [[], [], ["18:00-09:00", "три"], [], ["555, 37.6"], []]);
  assertEqual(run("archive").importSummary, again.importSummary, "the summary is kept with the plan");

  // The orders of a second sheet are not read: the summary names the sheet and its rows.
  const two = run("import", { base64: book([["Север", [["Адрес"], ["Москва, Арбат, 10"]]], ["Юг", [["Адрес"], ["a2"], ["a3"]]]]),
    name: "two.xlsx", routeDate: "2026-09-22" });
  assertEqual(two.importSummary, "Загружено заказов: 1; с координатами: 0. Не загружены другие листы с заказами (строк): " +
    "«Юг» (2). Чтобы загрузить их, сохраните каждый в отдельную книгу.");
});

test("unreadable, empty, protected and address-less books give their messages", function () {
  planned();
  const before = run("archive");
  assertThrows(function () { run("import", { base64: "VGhpcyBpcyBub3QgYSB3b3JrYm9vay4=", name: "x.xlsx", routeDate: "2026-09-22" }); },
    NOT_A_BOOK);
  assertThrows(function () { run("import", { base64: "", name: "x.xlsx", routeDate: "2026-09-22" }); }, NOT_A_BOOK);
  assertThrows(function () { run("import", { base64: "UEsDBAoAAAAAAA==", name: "x.xlsx", routeDate: "2026-09-22" }); },
    DAMAGED);
  assertThrows(function () { run("import", { base64: book([["Лист1", []]]), name: "x.xlsx", routeDate: "2026-09-22" }); },
    "В книге нет заказов.");
  assertThrows(function () { run("import", { base64: book([["Лист1", [["Адрес", "Клиент"]]]]), name: "x.xlsx", routeDate: "2026-09-22" }); },
    "В книге нет заказов.");
  assertThrows(function () { run("import", { base64: book([["Лист1", [["Клиент", "Телефон"], ["a", "b"]]]]), name: "x.xlsx", routeDate: "2026-09-22" }); },
    "В книге не найден лист с заказами: нужна колонка «Адрес».");
  // An encrypted package: a compound file holding the encryption description and the encrypted stream.
  const cfb = XLSX.CFB.utils.cfb_new();
  const xml = "<?xml version=\"1.0\"?><encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\"></encryption>";
  const info = [4, 0, 4, 0, 0x40, 0, 0, 0].concat(Array.from(xml).map(function (c) { return c.charCodeAt(0); }));
  XLSX.CFB.utils.cfb_add(cfb, "/EncryptionInfo", info);
  XLSX.CFB.utils.cfb_add(cfb, "/EncryptedPackage", new Array(64).fill(7));
  assertThrows(function () { run("import", { base64: XLSX.CFB.write(cfb, { type: "base64" }), name: "p.xlsx", routeDate: "2026-09-22" }); },
    "Не удалось прочитать файл Excel: файл защищён паролем. Снимите пароль и откройте снова.");
  assertEqual(run("archive"), before, "a refused import leaves the plan as it was");
});

test("route sheets need a calculation and name one sheet per route", function () {
  const doc = planned();
  const routes = run("export", { kind: "routes" });
  assertEqual(routes.name, "Маршрутные листы 2026-09-22.xlsx");
  const wb = readBack(routes.base64);
  assertEqual(wb.SheetNames.length, doc.routes.length + 1);
  assertEqual(wb.SheetNames[0], "Сводка");
  const sheet = rowsOf(wb, wb.SheetNames[1]);
  const header = sheet.findIndex(function (r) { return r[0] === "№"; });
  assertEqual(sheet.length - header - 1, doc.routes[0].orders.length, "one row per stop");
  run("load", { orders: [{ id: "1", address: "x" }], routeDate: "2026-09-22" });
  assertThrows(function () { run("export", { kind: "routes" }); }, "Сначала рассчитайте маршруты.");
  assert(run("export", { kind: "working" }).base64.length > 0, "the working book works before a calculation");
});

test("sheet writes cells of every JSON kind under a safe sheet name", function () {
  const out = run("sheet", {
    rows: [["Текст", "Число", "Да/нет", "Пусто", "Объект", "Список"], ["a", 1.5, true, null, { name: "Иванов", id: 3 }, [1, "b"]],
           ["b", -2, false, null, { id: 3 }, []]],
    name: "Отчёт: курьеры/смены [март]?*", fileName: "Отчёт/март"
  });
  assertEqual(out.name, "Отчёт_март.xlsx");
  const wb = readBack(out.base64);
  assertEqual(wb.SheetNames, ["Отчёт_ курьеры_смены _март___"]);
  const rows = rowsOf(wb, wb.SheetNames[0]);
  assertEqual(rows[1], ["a", 1.5, true, null, "Иванов", "1, b"]);
  assertEqual(rows[2][4], "{\"id\":3}");
  const long = run("sheet", { rows: [], name: "Очень длинное название страницы отчёта за период", fileName: "x.xlsx" });
  assertEqual(readBack(long.base64).SheetNames[0].length, 31);
  assertEqual(readBack(run("sheet", { rows: [], name: "", fileName: "" }).base64).SheetNames, ["Лист1"]);
});

test("the publication body carries the day, identity, routes and shared points", function () {
  const doc = planned();
  const body = run("payload").payload;
  assertEqual(body.date, "2026-09-22");
  assertEqual([body.companyId, body.author], ["c-1", "Иванова Анна"]);
  assertEqual(body.routes.length, doc.routes.length);
  const route = body.routes[0];
  assertEqual(route.courierLogin, "ivanov");
  assertEqual(route.externalRouteId, "2026-09-22 · Иванов");
  assertEqual(route.points.length, 1, "two orders at one point are one point");
  assertEqual(route.points[0].orders.map(function (o) { return o.orderId; }).sort(), ["1001", "1003"]);
  const first = route.points[0].orders.find(function (o) { return o.orderId === "1001"; });
  assertEqual(first.window, { from: "09:00", to: "12:00" });
  assertEqual(first.phones, ["+7 900 000-00-01"]);
  assert(/^\d\d:\d\d$/.test(route.points[0].plannedArrival));
  assertEqual(run("payload"), { payload: body }, "deterministic for an unchanged plan");
  run("load", { routeDate: "2026-09-22" });
  assertThrows(function () { run("payload"); }, "В плане нет маршрутов для отправки.");
});

// Every time given for an order, in the routes' stops, the orders and the published points, lies in the order's own
// window; only a late stop (marked with its minutes) is after it.
function checkTimesWithinWindows(doc, body) {
  const late = {};
  doc.routes.forEach(function (r) {
    r.stops.forEach(function (s) {
      const o = doc.orders[s.index], w = NativePrelude.parseWindow(o.window) || { start: null, end: null };
      assert(s.arr >= w.start, "order " + o.id + " at " + s.arr + " before its window " + o.window);
      assertEqual(s.late, w.end === null ? 0 : Math.max(0, s.arr - w.end), "late minutes of order " + o.id);
      assertEqual(o._arr, s.arr);
      late[o.id] = s.late;
    });
  });
  body.routes.forEach(function (r) {
    r.points.forEach(function (p) {
      const time = NativePrelude.parseTime(p.plannedArrival);
      p.orders.forEach(function (o) {
        const from = o.window.from === null ? 0 : NativePrelude.parseTime(o.window.from);
        const to = o.window.to === null ? Infinity : NativePrelude.parseTime(o.window.to);
        assert(time >= from && (time <= to || late[o.orderId] > 0), "order " + o.orderId + " published at " + p.plannedArrival);
      });
    });
  });
}

test("orders at one building are given times within their own windows, planned or put in a row by hand", function () {
  const building = { address: "Москва, Тверская улица, 6", lat: 55.7606, lon: 37.6095 };
  run("load", {
    routeDate: "2026-09-22", depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "08:00-20:00" },
    vehicles: [{ id: "ivanov", ref: "Иванов", shift: "08:00-18:00", use: true, back: true }],
    orders: [
      Object.assign({ id: "1", window: "09:00-10:00" }, building),
      Object.assign({ id: "2", window: "12:00-13:00" }, building),
      Object.assign({ id: "3", window: "16:00-17:00" }, building),
      { id: "4", address: "Москва, улица Петровка, 12", lat: 55.7635, lon: 37.6185, window: "10:00-12:00" },
      { id: "5", address: "Москва, Мясницкая улица, 20", lat: 55.7632, lon: 37.6363, window: "13:00-16:00" },
      { id: "6", address: "Москва, улица Арбат, 10", lat: 55.7502, lon: 37.5932, window: "" }
    ]
  });
  let doc = run("calculate");
  assertEqual(doc.unassigned, []);
  checkTimesWithinWindows(doc, run("payload").payload);

  // The three orders one after another: the courier waits at the building, and each order keeps its own time.
  doc = run("reorder", { vehicle: 0, indices: [0, 1, 2, 3, 4, 5] });
  assertEqual(doc.routes[0].stops.slice(0, 3).map(function (s) { return [s.arr, s.late]; }), [[540, 0], [720, 0], [960, 0]]);
  assert(doc.routes[0].stops[1].wait > 60, "the wait before order 2 is shown as such");
  const body = run("payload").payload;
  checkTimesWithinWindows(doc, body);
  assertEqual(body.routes[0].points.slice(0, 3).map(function (p) { return [p.stopNumber, p.address, p.plannedArrival]; }),
    [[1, building.address, "09:00"], [2, building.address, "12:00"], [3, building.address, "16:00"]],
    "orders at one building whose windows do not meet are points of their own");

  // Put after the last window has closed, order 1 is late and says by how much.
  doc = run("reorder", { vehicle: 0, indices: [1, 2, 0, 3, 4, 5] });
  assertEqual([doc.routes[0].stops[2].arr, doc.routes[0].stops[2].late], [970, 370]);
  checkTimesWithinWindows(doc, run("payload").payload);
});

test("the lean reader of large books reads what the library reads", function () {
  const rows = [["Заметка"], ["№", "Клиент", "Адрес", "Окно с", "Окно до", "Места", "Широта", "Долгота", "Комментарий"],
    [1001, "Кафе & Ко <1>", "Москва, Арбат, 10", 0.375, 0.5, "2,5", 55.7502, 37.5932, "x\"y'z"],
    [null, null, null],
    [1002, "Офис 😀", "Москва, Покровка, 12", "9:00", "", 1, null, null, true]];
  const vehicles = [["Имя", "Логин курьера / код машины", "На смене"], ["Иван", "iv", "да"]];
  function strip(d) {
    return [d.orders.map(function (o) { const x = Object.assign({}, o); delete x._nativeID; return x; }), d.vehicles, d.importedBook, d.status];
  }
  [{}, { bookSST: true }, { compression: true }, { bookSST: true, compression: true }].forEach(function (opts) {
    const wb = XLSX.utils.book_new();
    XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(vehicles), "Транспорт");
    XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(rows), "Лист1");
    const base64 = XLSX.write(wb, Object.assign({ type: "base64", bookType: "xlsx" }, opts));
    PlannerCore.leanReader.threshold = Infinity;
    const library = run("import", { base64: base64, name: "x.xlsx", routeDate: "2026-09-22" });
    assertEqual(PlannerCore.leanReader.lastUsed, false);
    PlannerCore.leanReader.threshold = 0;
    const lean = run("import", { base64: base64, name: "x.xlsx", routeDate: "2026-09-22" });
    assertEqual(PlannerCore.leanReader.lastUsed, true, "the lean reader took " + JSON.stringify(opts));
    assertEqual(strip(lean), strip(library), JSON.stringify(opts));
  });
  PlannerCore.leanReader.threshold = 0;
  const exported = run("export", { kind: "working" });
  const again = run("import", { base64: exported.base64, name: "w.xlsx", routeDate: "2026-09-22" });
  assertEqual(PlannerCore.leanReader.lastUsed, true);
  assertEqual(again.orders.length, 2);
  assertThrows(function () { run("import", { base64: "UEsDBAoAAAAAAA==", name: "x.xlsx", routeDate: "2026-09-22" }); },
    DAMAGED, "a broken zip still falls back to the library's verdict");
});

test("the publication body holds times of the day only and order numbers as they are", function () {
  run("identity", { companyId: "c-1", author: "Иванова Анна" });
  const day = {
    routeDate: "2026-09-22",
    depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "00:00-24:00" },
    vehicles: [{ id: "ivanov", ref: "Иванов", shift: "20:00-24:00", use: true, back: true }],
    orders: [
      { id: "C-1", address: "Москва, Тверская улица, 6", lat: 55.7606, lon: 37.6095, window: "20:00-24:00" },
      { id: "C-1", address: "Москва, улица Петровка, 12", lat: 55.7635, lon: 37.6185, window: "", hardWindow: "23:00-24:00" },
      { id: "", address: "Москва, улица Арбат, 10", lat: 55.7502, lon: 37.5932, window: "21:00-23:30" }
    ]
  };
  run("load", day);
  run("calculate");
  run("assign", { indices: [0, 1, 2], vehicle: 0 });
  const orders = [].concat.apply([], run("payload").payload.routes[0].points.map(function (p) { return p.orders; }));
  assertEqual(orders.map(function (o) { return o.orderId; }).sort(), ["", "C-1", "C-1"],
    "repeated and empty numbers are published, and the server's refusal names them");
  const windows = {};
  orders.forEach(function (o) { windows[o.window.from] = o.window.to; });
  assertEqual(windows, { "20:00": "23:59", "21:00": "23:30", "23:00": "23:59" }, "a window to 24:00 ends at 23:59");

  // A route that runs past midnight is refused, by its courier's name, before anything is sent.
  day.vehicles[0].shift = "23:30-24:00";
  run("load", day);
  run("calculate");
  const late = run("assign", { indices: [0, 1, 2], vehicle: 0 });
  const end = late.routes[0].end;
  assert(end > 24 * 60, "the route ends at " + end);
  assertThrows(function () { run("payload"); },
    "Маршрут «Иванов» заканчивается после полуночи (" + NativePrelude.formatTime(end) + "). " +
    "Перенесите часть его заказов на другие маршруты и отправьте план снова.");
});
