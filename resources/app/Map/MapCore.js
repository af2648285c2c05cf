// The map page's own logic, without a document or the map library: what changed between two payloads, which
// command is new, which pins a drag hands over and to which vehicle, and the messages posted back to the program
// with their size check. MapPage.js applies it to the document and the 2GIS map. Defines one global only.
var DorvikMapCore = (function () {
  "use strict";

  // The program drops messages whose JSON reaches this many bytes.
  var MESSAGE_LIMIT = 8192;
  var TRANSFER_TOO_LARGE = "Слишком много точек для одного переноса. Выберите меньше точек и повторите.";
  // Line colours when the screen gives none.
  var PALETTE = ["#e4572e", "#2e86ab", "#3bb273", "#8e44ad", "#f39c12", "#16a085", "#c0392b", "#34495e",
    "#d35400", "#7f8c8d"];
  var PIN_FIELDS = ["id", "label", "number", "lat", "lon", "movable", "selected", "revision", "color", "vehicle"];

  // Bytes of a text in UTF-8 (the bare engine has no TextEncoder). A lone surrogate counts as the three bytes of
  // the replacement character it becomes.
  function utf8Length(text) {
    var n = 0;
    for (var i = 0; i < text.length; i++) {
      var c = text.charCodeAt(i);
      if (c < 0x80) n += 1;
      else if (c < 0x800) n += 2;
      else if (c >= 0xd800 && c <= 0xdbff && i + 1 < text.length) {
        var d = text.charCodeAt(i + 1);
        if (d >= 0xdc00 && d <= 0xdfff) { n += 4; i++; } else n += 3;
      } else n += 3;
    }
    return n;
  }

  function fits(message) { return utf8Length(JSON.stringify(message)) < MESSAGE_LIMIT; }

  // A message of the given type carrying the payload's generation; none before the first payload.
  function message(generation, type, fields) {
    if (typeof generation !== "string" || generation === "") return null;
    var m = { type: type };
    for (var k in fields) if (Object.prototype.hasOwnProperty.call(fields, k)) m[k] = fields[k];
    m.generation = generation;
    return m;
  }

  function status(generation, state) { return message(generation, "status", { state: state }); }
  function select(generation, id, additive) { return message(generation, "select", { id: id, additive: !!additive }); }
  function move(generation, pin, lat, lon) {
    return message(generation, "move", { id: pin.id, revision: pin.revision, lat: lat, lon: lon });
  }
  function addVertex(generation, lat, lon) { return message(generation, "addVertex", { lat: lat, lon: lon }); }
  // {message} to post, {hint} when the message would be too large for the program, or null without generation.
  function transfer(generation, ids, vehicle, planRevision) {
    var m = message(generation, "transfer", { ids: ids, vehicle: vehicle, planRevision: planRevision });
    if (!m) return null;
    return fits(m) ? { message: m } : { hint: TRANSFER_TOO_LARGE };
  }

  // Additive selection: Ctrl or Shift held.
  function additive(event) { return !!(event && (event.ctrlKey || event.shiftKey)); }

  // What dragging a pin means in the payload's modes: "move", "transfer" or null (no drag).
  function dragMode(payload, pin) {
    if (!pin || !pin.movable) return null;
    if (payload.editing) return "move";
    if (payload.transferring && !payload.drawing) return "transfer";
    return null;
  }

  // The ids a transfer of the dragged pin hands over: the whole selection of movable pins when the dragged pin is
  // part of it, else the dragged pin alone.
  function transferIds(pins, draggedIndex) {
    var dragged = pins[draggedIndex];
    if (!dragged) return [];
    if (!(dragged.selected && dragged.movable)) return [dragged.id];
    var ids = [];
    var seen = {};
    for (var i = 0; i < pins.length; i++) {
      var p = pins[i];
      if (p.selected && p.movable && !Object.prototype.hasOwnProperty.call(seen, p.id)) {
        seen[p.id] = true;
        ids.push(p.id);
      }
    }
    return ids;
  }

  // The vehicle a drop on the target pin hands the ids to: the target's vehicle when it is one of the allowed
  // vehicles and the target is not itself handed over; else null.
  function transferTarget(target, ids, vehicles) {
    if (!target || typeof target.vehicle !== "number") return null;
    if (ids.indexOf(target.id) >= 0) return null;
    return (vehicles || []).indexOf(target.vehicle) >= 0 ? target.vehicle : null;
  }

  function samePin(a, b) {
    for (var i = 0; i < PIN_FIELDS.length; i++) if (a[PIN_FIELDS[i]] !== b[PIN_FIELDS[i]]) return false;
    return true;
  }

  function samePoints(a, b) {
    if (a.length !== b.length) return false;
    for (var i = 0; i < a.length; i++) if (a[i].lat !== b[i].lat || a[i].lon !== b[i].lon) return false;
    return true;
  }

  function sameLists(a, b) {
    if (a.length !== b.length) return false;
    for (var i = 0; i < a.length; i++) if (!samePoints(a[i], b[i])) return false;
    return true;
  }

  function sameTexts(a, b) {
    if (a.length !== b.length) return false;
    for (var i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  // Pins by position: which markers to add, remove or redraw to go from `shown` to `next`.
  function pinChanges(shown, next) {
    var changes = { add: [], remove: [], update: [] };
    var common = Math.min(shown.length, next.length);
    for (var i = 0; i < common; i++) if (!samePin(shown[i], next[i])) changes.update.push(i);
    for (var j = common; j < next.length; j++) changes.add.push(j);
    for (var k = shown.length - 1; k >= common; k--) changes.remove.push(k);
    return changes;
  }

  // What drawing `next` needs after `shown` (null when nothing is drawn yet, or the map was made anew).
  function diff(shown, next) {
    if (!shown) {
      return { map: true, pins: pinChanges([], next.pins || []), lines: true, polygons: true, modes: true };
    }
    return {
      map: shown.key !== next.key || shown.style !== next.style,
      pins: pinChanges(shown.pins || [], next.pins || []),
      lines: !sameLists(shown.lines || [], next.lines || []) || !sameTexts(shown.lineColors || [], next.lineColors || []),
      polygons: !sameLists(shown.polygons || [], next.polygons || []),
      modes: shown.editing !== next.editing || shown.drawing !== next.drawing || shown.transferring !== next.transferring
    };
  }

  // The command to carry out: its kind when its id is new, else null.
  function newCommand(lastId, command) {
    if (!command || typeof command !== "object" || typeof command.id !== "string") return null;
    if (command.id === lastId) return null;
    return ["zoomIn", "zoomOut", "fit"].indexOf(command.kind) >= 0 ? command.kind : null;
  }

  function lineColor(colors, index) {
    var c = colors && colors[index];
    return typeof c === "string" && c !== "" ? c : PALETTE[index % PALETTE.length];
  }

  // [lon, lat], the map library's order.
  function lngLat(point) { return [point.lon, point.lat]; }

  // How a polygon being drawn can be shown: a closed ring from three vertices, a line for two, nothing below.
  function polygonShape(points) {
    if (!points || points.length < 2) return null;
    var coordinates = points.map(lngLat);
    if (points.length === 2) return { kind: "line", coordinates: coordinates };
    var first = coordinates[0], last = coordinates[coordinates.length - 1];
    if (first[0] !== last[0] || first[1] !== last[1]) coordinates.push(first.slice());
    return { kind: "polygon", coordinates: coordinates };
  }

  // The box around every pin, line point and vertex: {southWest, northEast} in [lon, lat]; null when empty.
  function bounds(payload) {
    var west = Infinity, south = Infinity, east = -Infinity, north = -Infinity;
    function add(p) {
      if (!p || typeof p.lat !== "number" || typeof p.lon !== "number") return;
      west = Math.min(west, p.lon);
      east = Math.max(east, p.lon);
      south = Math.min(south, p.lat);
      north = Math.max(north, p.lat);
    }
    (payload.pins || []).forEach(add);
    (payload.lines || []).forEach(function (line) { line.forEach(add); });
    (payload.polygons || []).forEach(function (polygon) { polygon.forEach(add); });
    if (west > east) return null;
    return { southWest: [west, south], northEast: [east, north] };
  }

  // The camera for "fit": a single place is centred at street zoom; anything larger is fitted.
  function fitCamera(box) {
    if (!box) return null;
    if (box.southWest[0] === box.northEast[0] && box.southWest[1] === box.northEast[1]) {
      return { center: box.southWest.slice(), zoom: 15 };
    }
    return { bounds: box };
  }

  function animationDuration(reduceMotion) { return reduceMotion ? 0 : 300; }

  return {
    MESSAGE_LIMIT: MESSAGE_LIMIT,
    TRANSFER_TOO_LARGE: TRANSFER_TOO_LARGE,
    utf8Length: utf8Length,
    fits: fits,
    status: status,
    select: select,
    move: move,
    addVertex: addVertex,
    transfer: transfer,
    additive: additive,
    dragMode: dragMode,
    transferIds: transferIds,
    transferTarget: transferTarget,
    pinChanges: pinChanges,
    diff: diff,
    newCommand: newCommand,
    lineColor: lineColor,
    lngLat: lngLat,
    polygonShape: polygonShape,
    bounds: bounds,
    fitCamera: fitCamera,
    animationDuration: animationDuration
  };
})();
