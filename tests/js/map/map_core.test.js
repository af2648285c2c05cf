// The map page's logic in the bare engine: messages and their size check, transfer selection, payload diffing,
// commands and shapes.
var C = DorvikMapCore;
var GEN = "0F8FAD5B-D9CB-469F-A165-70867728950E";

function pin(id, fields) {
  var p = { id: id, label: "Точка " + id, number: "1", lat: 55.75, lon: 37.61, movable: true, selected: false,
    revision: "r-" + id, color: "#2d3e46", vehicle: 0 };
  for (var k in fields) p[k] = fields[k];
  return p;
}

test("messages carry type and generation, and a transfer reaching 8192 UTF-8 bytes becomes a hint", function () {
  assertEqual(C.status(GEN, "ready"), { type: "status", state: "ready", generation: GEN });
  assertEqual(C.select(GEN, "a", 1), { type: "select", id: "a", additive: true, generation: GEN });
  assertEqual(C.move(GEN, pin("a"), 55.1, 37.2),
    { type: "move", id: "a", revision: "r-a", lat: 55.1, lon: 37.2, generation: GEN });
  assertEqual(C.addVertex(GEN, 1, 2), { type: "addVertex", lat: 1, lon: 2, generation: GEN });
  [undefined, null, "", 5].forEach(function (g) {
    assertEqual(C.status(g, "ready"), null, String(g));
    assertEqual(C.transfer(g, ["a"], 1, 3), null, String(g));
  });
  assertEqual(C.utf8Length("abc"), 3);
  assertEqual(C.utf8Length("Склад"), 10);
  assertEqual(C.utf8Length("€"), 3);
  assertEqual(C.utf8Length("\ud83d\ude9a"), 4);
  assertEqual(C.utf8Length("\ud83d"), 3);
  var base = C.transfer(GEN, [""], 1, 7).message;
  var room = C.MESSAGE_LIMIT - C.utf8Length(JSON.stringify(base));  // bytes left for the id's text
  var justFits = C.transfer(GEN, ["я".repeat(100) + "x".repeat(room - 1 - 200)], 1, 7);
  assert(justFits.message, "fits");
  assertEqual(C.utf8Length(JSON.stringify(justFits.message)), C.MESSAGE_LIMIT - 1);
  var tooLarge = C.transfer(GEN, [justFits.message.ids[0] + "x"], 1, 7);
  assertEqual(tooLarge, { hint: C.TRANSFER_TOO_LARGE });
  // Several hundred long ids, the case the limit would otherwise swallow.
  var ids = [];
  for (var i = 0; i < 400; i++) ids.push("order-" + i + "-0000000000000000");
  assert(C.transfer(GEN, ids, 1, 7).hint, "hint for 400 ids");
});

test("drags: modes, the ids handed over and the target vehicle", function () {
  var pins = [pin("a", { selected: true }), pin("b"), pin("c", { selected: true }), pin("d", { selected: true, movable: false }),
    pin("a", { selected: true })];
  assertEqual(C.transferIds(pins, 2), ["a", "c"]);
  assertEqual(C.transferIds(pins, 1), ["b"]);
  assertEqual(C.transferIds(pins, 9), []);
  var cases = [
    [pin("t", { vehicle: 2 }), ["a"], [1, 2], 2],
    [pin("t", { vehicle: 3 }), ["a"], [1, 2], null],
    [pin("t", { vehicle: null }), ["a"], [1, 2], null],
    [pin("a", { vehicle: 2 }), ["a"], [2], null],
    [null, ["a"], [2], null]
  ];
  cases.forEach(function (c, i) { assertEqual(C.transferTarget(c[0], c[1], c[2]), c[3], "case " + i); });
  var movable = pin("a"), fixed = pin("b", { movable: false });
  assertEqual(C.dragMode({ editing: true }, movable), "move");
  assertEqual(C.dragMode({ transferring: true }, movable), "transfer");
  assertEqual(C.dragMode({ transferring: true, drawing: true }, movable), null);
  assertEqual(C.dragMode({ editing: true }, fixed), null);
  assertEqual(C.dragMode({}, movable), null);
  assertEqual(C.additive({ ctrlKey: true }), true);
  assertEqual(C.additive({ shiftKey: true }), true);
  assertEqual(C.additive({ metaKey: true }), false);
});

test("the diff redraws only what changed and a command runs once per id", function () {
  var shown = { key: "k", style: null, pins: [pin("a"), pin("b")], lines: [[{ lat: 1, lon: 2 }]], lineColors: [],
    polygons: [], editing: false, drawing: false, transferring: false };
  var next = JSON.parse(JSON.stringify(shown));
  assertEqual(C.diff(shown, next), { map: false, pins: { add: [], remove: [], update: [] }, lines: false, polygons: false, modes: false });
  next.pins[1].selected = true;
  next.pins.push(pin("c"));
  next.lineColors = ["#ff0000"];
  next.editing = true;
  var d = C.diff(shown, next);
  assertEqual(d.pins, { add: [2], remove: [], update: [1] });
  assertEqual([d.map, d.lines, d.polygons, d.modes], [false, true, false, true]);
  assertEqual(C.pinChanges([pin("a"), pin("b"), pin("c")], [pin("a")]).remove, [2, 1]);
  assertEqual(C.diff(shown, { key: "other", style: null }).map, true);
  assertEqual(C.diff(null, next).pins.add, [0, 1, 2]);
  assertEqual(C.newCommand(null, { id: "A", kind: "fit" }), "fit");
  assertEqual(C.newCommand("A", { id: "A", kind: "fit" }), null);
  assertEqual(C.newCommand("A", { id: "B", kind: "zoomOut" }), "zoomOut");
  assertEqual(C.newCommand("A", { id: "B", kind: "rotate" }), null);
  assertEqual(C.newCommand("A", null), null);
});

test("shapes, colours and the camera", function () {
  assertEqual(C.lineColor(["#111111"], 0), "#111111");
  assertEqual(C.lineColor([], 1), C.lineColor(["", ""], 1));
  assertNotEqual(C.lineColor([], 0), C.lineColor([], 1));
  assertEqual(C.polygonShape([{ lat: 1, lon: 2 }]), null);
  assertEqual(C.polygonShape([{ lat: 1, lon: 2 }, { lat: 3, lon: 4 }]), { kind: "line", coordinates: [[2, 1], [4, 3]] });
  assertEqual(C.polygonShape([{ lat: 1, lon: 2 }, { lat: 3, lon: 4 }, { lat: 5, lon: 6 }]).coordinates,
    [[2, 1], [4, 3], [6, 5], [2, 1]]);
  var payload = { pins: [pin("a", { lat: 55, lon: 37 })], lines: [[{ lat: 56, lon: 36 }]], polygons: [[{ lat: 54, lon: 38 }]] };
  assertEqual(C.bounds(payload), { southWest: [36, 54], northEast: [38, 56] });
  assertEqual(C.fitCamera(C.bounds({ pins: [pin("a", { lat: 55, lon: 37 })] })), { center: [37, 55], zoom: 15 });
  assertEqual(C.fitCamera(C.bounds({ pins: [] })), null);
  assertEqual(C.animationDuration(true), 0);
});
