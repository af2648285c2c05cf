// The map page's adapter: window.DorvikMap.update(payload) for the program, the 2GIS MapGL library for the map,
// and the document for pins, drags and hints. Decisions live in MapCore.js.
//
// update() is defined before anything is loaded from the network and never throws: it keeps the payload and
// draws it once the library and the map are there. The page posts {type: "status"} "loading" while the library
// or the map is on its way, "ready" when the map has loaded, and "error" when the library cannot be loaded, the
// map does not load in time, or drawing fails. Nothing is posted before the first payload (there is no
// generation to echo yet).
(function () {
  "use strict";

  var core = window.DorvikMapCore;
  var LIBRARY_URL = "https://mapgl.2gis.com/api/js/v1";
  var LOAD_TIMEOUT_MS = 20000;
  var START = { center: [37.6176, 55.7558], zoom: 10 };
  var DRAG_THRESHOLD = 4;
  var FIT_PADDING = { top: 60, right: 60, bottom: 60, left: 60 };

  var page = {
    payload: null,
    library: "none",   // "none", "loading", "ready", "failed"
    failed: false,
    timer: null,
    /** @type {mapgl.Map} */
    map: null,
    mapKey: null,
    mapStyle: null,
    ready: false,
    shown: null,       // the payload drawn last on the current map
    /** @type {{marker: mapgl.HtmlMarker, element: HTMLElement}[]} */
    markers: [],       // by pin position
    /** @type {mapgl.Polyline[]} */
    lines: [],
    /** @type {(mapgl.Polyline | mapgl.Polygon)[]} */
    polygons: [],
    lastCommand: null,
    fitted: false,
    posted: null,      // the last status posted, with its generation
    drag: null,
    suppressClick: false,
    hintTimer: null
  };

  function post(message) {
    if (!message) return;
    try {
      window.webkit.messageHandlers.dorvikMap.postMessage(message);
    } catch (e) {
      // Outside the program there is nobody to tell.
    }
  }

  function postStatus(state) {
    var generation = page.payload && page.payload.generation;
    var key = state + "|" + generation;
    if (page.posted === key) return;
    page.posted = key;
    post(core.status(generation, state));
  }

  function clearTimer() {
    if (page.timer !== null) clearTimeout(page.timer);
    page.timer = null;
  }

  function fail() {
    clearTimer();
    page.failed = true;
    postStatus("error");
  }

  function startTimer() {
    clearTimer();
    page.timer = setTimeout(fail, LOAD_TIMEOUT_MS);
  }

  function container() { return document.getElementById("map"); }

  function showHint(text) {
    var hint = document.getElementById("hint");
    if (!hint) return;
    hint.textContent = text;
    hint.hidden = false;
    if (page.hintTimer !== null) clearTimeout(page.hintTimer);
    page.hintTimer = setTimeout(function () { hint.hidden = true; page.hintTimer = null; }, 5000);
  }

  // The library -------------------------------------------------------------------------------------------

  function loadLibrary() {
    if (typeof window.mapgl !== "undefined") {
      page.library = "ready";
      return;
    }
    if (page.library !== "none") return;
    page.library = "loading";
    postStatus("loading");
    var script = document.createElement("script");
    script.src = LIBRARY_URL;
    script.async = true;
    script.onload = function () {
      if (page.library !== "loading") return;
      clearTimer();
      if (typeof window.mapgl === "undefined") {
        page.library = "failed";
        fail();
        return;
      }
      page.library = "ready";
      draw();
    };
    script.onerror = function () {
      page.library = "failed";
      fail();
    };
    startTimer();
    document.head.appendChild(script);
  }

  // The map -----------------------------------------------------------------------------------------------

  function destroyMap() {
    cancelDrag();
    page.markers.forEach(function (m) { m.marker.destroy(); });
    page.lines.forEach(function (l) { l.destroy(); });
    page.polygons.forEach(function (p) { p.destroy(); });
    page.markers = [];
    page.lines = [];
    page.polygons = [];
    if (page.map) page.map.destroy();
    page.map = null;
    page.ready = false;
    page.shown = null;
  }

  function createMap(payload) {
    destroyMap();
    /** @type {mapgl.MapOptions} */
    var options = { center: START.center, zoom: START.zoom, key: payload.key, zoomControl: false };
    if (typeof payload.style === "string" && payload.style !== "") options.style = payload.style;
    page.map = new window.mapgl.Map(container(), options);
    page.mapKey = payload.key;
    page.mapStyle = payload.style;
    page.fitted = false;
    postStatus("loading");
    startTimer();
    var map = page.map;
    function loaded() {
      if (map !== page.map || page.ready || page.failed) return;
      clearTimer();
      page.ready = true;
      postStatus("ready");
    }
    map.on("styleload", loaded);
    map.on("idle", loaded);
    map.on("click", function (event) {
      var p = page.payload;
      if (!p || !p.drawing || !event || !event.lngLat) return;
      post(core.addVertex(p.generation, event.lngLat[1], event.lngLat[0]));
    });
  }

  // Pins --------------------------------------------------------------------------------------------------

  function pinElement(index, pin) {
    var element = document.createElement("div");
    element.className = "pin";
    element.dataset.index = String(index);
    var number = document.createElement("span");
    number.className = "pin-number";
    element.appendChild(number);
    fillPin(element, pin);
    element.addEventListener("pointerdown", onPinPointerDown);
    element.addEventListener("click", onPinClick);
    return element;
  }

  function fillPin(element, pin) {
    element.classList.toggle("selected", !!pin.selected);
    element.classList.toggle("movable", !!pin.movable);
    element.style.setProperty("--pin-color", String(pin.color));
    element.title = String(pin.label);
    element.firstChild.textContent = String(pin.number);
  }

  function addMarker(index, pin) {
    var element = pinElement(index, pin);
    var marker = new window.mapgl.HtmlMarker(page.map, {
      coordinates: core.lngLat(pin), html: element, anchor: [14, 14]
    });
    page.markers[index] = { marker: marker, element: element };
  }

  function drawPins(changes, pins) {
    changes.remove.forEach(function (i) {
      page.markers[i].marker.destroy();
      page.markers.splice(i, 1);
    });
    changes.update.forEach(function (i) {
      page.markers[i].marker.setCoordinates(core.lngLat(pins[i]));
      fillPin(page.markers[i].element, pins[i]);
    });
    changes.add.forEach(function (i) { addMarker(i, pins[i]); });
  }

  function drawLines(payload) {
    page.lines.forEach(function (l) { l.destroy(); });
    page.lines = [];
    (payload.lines || []).forEach(function (line, index) {
      if (line.length < 2) return;
      page.lines.push(new window.mapgl.Polyline(page.map, {
        coordinates: line.map(core.lngLat), width: 4, color: core.lineColor(payload.lineColors, index)
      }));
    });
  }

  function drawPolygons(payload) {
    page.polygons.forEach(function (p) { p.destroy(); });
    page.polygons = [];
    (payload.polygons || []).forEach(function (points) {
      var shape = core.polygonShape(points);
      if (!shape) return;
      if (shape.kind === "line") {
        page.polygons.push(new window.mapgl.Polyline(page.map, {
          coordinates: shape.coordinates, width: 2, color: "#1c71d8"
        }));
      } else {
        page.polygons.push(new window.mapgl.Polygon(page.map, {
          coordinates: [shape.coordinates], color: "#1c71d833", strokeWidth: 2, strokeColor: "#1c71d8"
        }));
      }
    });
  }

  // Camera ------------------------------------------------------------------------------------------------

  function fit(payload) {
    var camera = core.fitCamera(core.bounds(payload));
    if (!camera) return false;
    var duration = core.animationDuration(payload.reduceMotion);
    if (camera.bounds) {
      page.map.fitBounds(camera.bounds, { padding: FIT_PADDING, animation: { duration: duration } });
    } else {
      page.map.setCenter(camera.center, { duration: duration });
      page.map.setZoom(camera.zoom, { duration: duration });
    }
    return true;
  }

  function runCommand(kind, payload) {
    var duration = core.animationDuration(payload.reduceMotion);
    if (kind === "fit") fit(payload);
    if (kind === "zoomIn") page.map.setZoom(page.map.getZoom() + 1, { duration: duration });
    if (kind === "zoomOut") page.map.setZoom(page.map.getZoom() - 1, { duration: duration });
  }

  // Drawing the payload -------------------------------------------------------------------------------------

  function draw() {
    var payload = page.payload;
    if (!payload || page.failed || page.library !== "ready") return;
    if (!page.map || page.mapKey !== payload.key || page.mapStyle !== payload.style) createMap(payload);
    var changes = core.diff(page.shown, payload);
    if (changes.pins.add.length || changes.pins.remove.length || changes.pins.update.length) {
      cancelDrag();
      drawPins(changes.pins, payload.pins || []);
    }
    if (changes.lines) drawLines(payload);
    if (changes.polygons) drawPolygons(payload);
    if (changes.modes) cancelDrag();
    page.shown = payload;
    // The camera stays where the user left it; only the first data, and "fit", frame everything.
    if (!page.fitted) page.fitted = fit(payload);
    var command = core.newCommand(page.lastCommand, payload.command);
    if (payload.command && typeof payload.command.id === "string") page.lastCommand = payload.command.id;
    if (command) runCommand(command, payload);
  }

  function update(payload) {
    try {
      if (!payload || typeof payload !== "object") return;
      var first = page.payload === null;
      page.payload = payload;
      // A fresh page does not replay a command pressed before it existed.
      if (first && payload.command && typeof payload.command.id === "string") page.lastCommand = payload.command.id;
      if (page.failed) {
        postStatus("error");
        return;
      }
      if (typeof payload.key !== "string" || payload.key === "") {
        fail();
        return;
      }
      loadLibrary();
      draw();
    } catch (e) {
      fail();
    }
  }

  // Pointer: selection and drags ------------------------------------------------------------------------------

  function pinAt(element) {
    var index = Number(element.dataset.index);
    var pins = (page.payload && page.payload.pins) || [];
    return { index: index, pin: pins[index] };
  }

  function onPinClick(event) {
    event.stopPropagation();
    if (page.suppressClick) {
      page.suppressClick = false;
      return;
    }
    var found = pinAt(event.currentTarget);
    if (!found.pin) return;
    post(core.select(page.payload.generation, found.pin.id, core.additive(event)));
  }

  function onPinPointerDown(event) {
    if (event.button !== 0 || !page.payload) return;
    var found = pinAt(event.currentTarget);
    var mode = core.dragMode(page.payload, found.pin);
    if (!mode) return;
    event.preventDefault();
    event.stopPropagation();
    page.drag = {
      mode: mode, index: found.index, pin: found.pin, pointerId: event.pointerId,
      startX: event.clientX, startY: event.clientY, moved: false, ghost: null, target: null
    };
    try {
      event.currentTarget.setPointerCapture(event.pointerId);
    } catch (e) {
      // The document's own listeners follow the pointer all the same.
    }
  }

  function mapPoint(event) {
    var rect = container().getBoundingClientRect();
    return page.map.unproject([event.clientX - rect.left, event.clientY - rect.top]);
  }

  function pinUnder(x, y, draggedIndex) {
    var elements = document.elementsFromPoint(x, y);
    for (var i = 0; i < elements.length; i++) {
      var e = elements[i];
      if (e instanceof HTMLElement && e.classList.contains("pin") && Number(e.dataset.index) !== draggedIndex) return e;
    }
    return null;
  }

  function markTarget(element) {
    if (page.drag.target) page.drag.target.classList.remove("target");
    page.drag.target = element;
    if (element) element.classList.add("target");
  }

  function onPointerMove(event) {
    var drag = page.drag;
    if (!drag || event.pointerId !== drag.pointerId) return;
    if (!drag.moved && Math.abs(event.clientX - drag.startX) + Math.abs(event.clientY - drag.startY) < DRAG_THRESHOLD)
      return;
    drag.moved = true;
    if (drag.mode === "move") {
      page.markers[drag.index].marker.setCoordinates(mapPoint(event));
      return;
    }
    if (!drag.ghost) {
      drag.ghost = document.createElement("div");
      drag.ghost.className = "ghost";
      drag.ghost.textContent = String(core.transferIds(page.payload.pins, drag.index).length);
      document.body.appendChild(drag.ghost);
    }
    drag.ghost.style.left = event.clientX + "px";
    drag.ghost.style.top = event.clientY + "px";
    markTarget(pinUnder(event.clientX, event.clientY, drag.index));
  }

  function endDrag() {
    var drag = page.drag;
    page.drag = null;
    if (!drag) return;
    if (drag.ghost) drag.ghost.remove();
    if (drag.target) drag.target.classList.remove("target");
    // The pin shows where the program has it until a new payload moves it.
    var shown = page.markers[drag.index];
    if (shown && drag.mode === "move") shown.marker.setCoordinates(core.lngLat(drag.pin));
  }

  function cancelDrag() {
    if (page.drag && page.drag.moved) page.suppressClick = true;
    endDrag();
  }

  function onPointerUp(event) {
    var drag = page.drag;
    if (!drag || event.pointerId !== drag.pointerId) return;
    var payload = page.payload;
    if (drag.moved) {
      page.suppressClick = true;
      if (drag.mode === "move") {
        var point = mapPoint(event);
        post(core.move(payload.generation, drag.pin, point[1], point[0]));
      } else if (drag.target) {
        var target = payload.pins[Number(drag.target.dataset.index)];
        var ids = core.transferIds(payload.pins, drag.index);
        var vehicle = core.transferTarget(target, ids, payload.vehicles);
        if (vehicle !== null) {
          var result = core.transfer(payload.generation, ids, vehicle, payload.planRevision);
          if (result && result.hint) showHint(result.hint);
          if (result && result.message) post(result.message);
        }
      }
    }
    endDrag();
  }

  document.addEventListener("pointermove", onPointerMove, true);
  document.addEventListener("pointerup", onPointerUp, true);
  document.addEventListener("pointercancel", function () { cancelDrag(); }, true);
  document.addEventListener("keydown", function (event) {
    if (event.key === "Escape" && page.drag) {
      event.preventDefault();
      cancelDrag();
    }
  }, true);

  window.DorvikMap = { update: update };
})();
