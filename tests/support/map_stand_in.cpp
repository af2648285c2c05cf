// The header's page helper needs WebKit, which this library does not build against: its declaration is repeated.
namespace dorvik::testing {

extern const char* const kMapLibraryStandIn;

const char* const kMapLibraryStandIn = R"JS(
window.__stub = { maps: [], markers: [], lines: [], polygons: [], calls: [] };
(function () {
  function Map(container, options) {
    this.container = container; this.options = options; this.handlers = {}; this.zoom = options.zoom;
    __stub.maps.push(this);
    var self = this;
    setTimeout(function () { (self.handlers.styleload || []).forEach(function (h) { h(); }); }, 0);
  }
  Map.prototype.on = function (name, fn) { (this.handlers[name] = this.handlers[name] || []).push(fn); };
  Map.prototype.destroy = function () { this.destroyed = true; };
  Map.prototype.fitBounds = function (b) { __stub.calls.push("fitBounds"); };
  Map.prototype.setZoom = function (z) { this.zoom = z; __stub.calls.push("setZoom " + z); };
  Map.prototype.getZoom = function () { return this.zoom; };
  Map.prototype.setCenter = function () { __stub.calls.push("setCenter"); };
  Map.prototype.unproject = function (p) { return [37 + p[0] / 1000, 55 - p[1] / 1000]; };
  function HtmlMarker(map, options) {
    this.options = options; this.element = options.html; map.container.appendChild(options.html);
    __stub.markers.push(this);
  }
  HtmlMarker.prototype.setCoordinates = function (c) { this.options.coordinates = c; };
  HtmlMarker.prototype.destroy = function () { this.element.remove(); };
  function Shape(list) {
    return function (map, options) { this.options = options; __stub[list].push(this); this.destroy = function () {}; };
  }
  window.mapgl = { Map: Map, HtmlMarker: HtmlMarker, Polyline: Shape("lines"), Polygon: Shape("polygons") };
})();
)JS";

}  // namespace dorvik::testing
