// What the map page finds in its window besides its own two scripts: the 2GIS MapGL library once its script has
// loaded (the global `mapgl` of the library's own declarations), and the program's WebKit message handler.
interface Window {
  mapgl: typeof mapgl;
  webkit: { messageHandlers: { dorvikMap: { postMessage(message: unknown): void } } };
  DorvikMap: { update(payload: unknown): void };
}
