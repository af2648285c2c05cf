// The 2GIS MapGL library as the map page finds it once its script has loaded: the global `mapgl`, typed by the
// library's own declarations (npm package @2gis/mapgl).
import * as MapGL from "@2gis/mapgl/types";
export = MapGL;
export as namespace mapgl;
