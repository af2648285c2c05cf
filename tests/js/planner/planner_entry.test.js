// The entry point: loading order, unknown actions, and what a thrown value looks like to the engine.

function thrown(fn) {
  try { fn(); } catch (e) { return e; }
  throw new Error("expected a throw");
}

test("the components define their globals and Native.run", function () {
  assertEqual(typeof NativePrelude, "object");
  assertEqual(typeof PlannerCore.solve, "function");
  assertEqual(typeof Native.run, "function");
});

test("every refusal leaves Native.run as a non-empty plain string", function () {
  const calls = [
    ["noSuchAction", {}, "Неизвестное действие: noSuchAction."],
    ["date", { date: "2026-02-30" }, "Неверная дата рейса."],
    ["config", { CITY_KMH: 0, ROAD_FACTOR: 1, SERVICE_MIN: 0, LATE_TOL_MIN: 0 }, "Скорость: 1–200; коэффициент: 1–5; время: 0–240 минут."],
    ["export", { kind: "pdf" }, "Неизвестный вид выгрузки."]
  ];
  calls.forEach(function (c) {
    const e = thrown(function () { Native.run(JSON.stringify({ action: c[0], payload: c[1] })); });
    assertEqual(typeof e, "string", c[0]);
    assertEqual(e, c[2]);
  });
  const bad = thrown(function () { Native.run("not json"); });
  assert(typeof bad === "string" && bad.length > 0);
});

test("an unexpected failure inside an action names the action", function () {
  const saved = PlannerCore.actions.archive;
  PlannerCore.actions.archive = function () { return null.x; };
  const e = thrown(function () { Native.run(JSON.stringify({ action: "archive", payload: {} })); });
  PlannerCore.actions.archive = saved;
  assertEqual(typeof e, "string");
  assert(e.indexOf("Ошибка расчёта (archive): ") === 0, e);
});

test("the entry actions never throw on the shape of their input", function () {
  [null, 1, "x", [], { companyId: 5, author: ["a"] }].forEach(function (p) {
    assertEqual(JSON.parse(Native.run(JSON.stringify({ action: "identity", payload: p }))), {});
    assertEqual(run("zones", { zones: p }), {});
  });
  const doc = run("load", { orders: [{ id: 1 }, "x"], vehicles: [1, { id: "V", use: "1" }] });
  assertEqual(doc.vehicles.length, 1);
  assertEqual(doc.vehicles[0].use, true);
});

test("results are JSON text and a failed call leaves the next one working", function () {
  assert(typeof Native.run(JSON.stringify({ action: "archive", payload: {} })) === "string");
  thrown(function () { run("date", { date: "x" }); });
  assertEqual(run("date", { date: "2026-05-01" }).routeDate, "2026-05-01");
});

test("address actions go to the address component or refuse clearly without it", function () {
  assertEqual(typeof run("addressIdentity", { address: "Москва, Тверская улица, 6" }).key, "string");
  globalThis.GeocodingCore = undefined;
  const e = thrown(function () { run("addressIdentity", { address: "Москва" }); });
  assertEqual(e, "Компонент адресов не загружен: действие «addressIdentity» недоступно.");
  assertEqual(thrown(function () { run("addressIndex", { rows: [] }); }),
              "Компонент адресов не загружен: действие «addressIndex» недоступно.", "no index is never an empty one");
});

test("a component fault that is not a refusal is shown with the action's name", function () {
  const saved = PlannerCore.actions.archive;
  PlannerCore.actions.archive = function () { throw "сбой"; };
  const e = thrown(function () { run("archive"); });
  PlannerCore.actions.archive = saved;
  assertEqual(e, "Ошибка расчёта (archive): сбой", "only a NativePrelude.UserError is a message of its own");
});

test("a failing address index is a failure, never an empty index", function () {
  globalThis.GeocodingCore = {
    addressIndex: function () { throw "сбой"; },
    addressIdentity: function (p) { return { key: "k:" + p.address }; }
  };
  assertEqual(thrown(function () { run("addressIndex", { rows: [{ address: "a" }] }); }),
              "Ошибка расчёта (addressIndex): сбой");
  assertEqual(run("addressIdentity", { address: "a" }), { key: "k:a" });
});

test("long texts of a request reach the action whole, however they stand in it", function () {
  const long = "QUJD".repeat(300000) + "xyz=";  // 1.2 MB of Base64
  const quoted = "a\"b\\c" + long;               // escapes: read by the parser itself
  const seen = [];
  PlannerCore.actions.probe = function (p) { seen.push(p); return {}; };
  const requests = [
    { a: long, b: "short", c: long + "!" },
    { a: quoted, n: 1 },
    { deep: { a: long } },
    [long]
  ];
  requests.forEach(function (payload) { Native.run(JSON.stringify({ action: "probe", payload: payload })); });
  assertEqual(seen[0].a === long && seen[0].c === long + "!" && seen[0].b === "short", true, "two long members");
  assertEqual(seen[1].a === quoted && seen[1].n === 1, true, "a long member with escapes");
  assertEqual(seen[2].deep.a === long, true, "a long text deeper in the payload");
  assertEqual(seen[3], {}, "a payload that is no object is an empty one");
  assertThrows(function () { Native.run("{\"action\":\"probe\",\"payload\":{\"a\":\"" + long + "}"); },
    "Некорректный запрос к расчёту.");
});

// A large answer taken in parts (as the engine takes it) is the very text of the whole answer; a small one is one
// part, and a caller that takes no parts gets the whole text at once.
test("a large answer comes in parts that make the whole text", function () {
  const orders = [];
  for (let i = 0; i < 4500; i++) orders.push({ id: String(i), title: "Клиент " + i, units: i % 3 ? i : undefined });
  run("load", { routeDate: "2026-09-22", orders: orders });
  // The same day again: the plan unchanged, so both answers are the same document.
  const request = JSON.stringify({ action: "date", payload: { date: "2026-09-22" } });
  const whole = Native.run(request);
  const parts = [Native.run(request, true)];
  for (let part = Native.more(); part !== ""; part = Native.more()) parts.push(part);
  assert(parts.length > 3, "in parts: " + parts.length);
  assert(parts.join("") === whole, "the parts make the whole text");
  assertEqual(JSON.parse(whole).orders.length, 4500);
  assertEqual(Native.more(), "", "nothing left");
  const small = Native.run(JSON.stringify({ action: "identity", payload: {} }), true);
  assertEqual([small, Native.more()], ["{}", ""]);
});
