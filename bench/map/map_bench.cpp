// The map surface's payload for a large planning day: 5,000 pins with 100 route lines of 50 points. Each view
// update compares the description with what the page was last handed and, when it changed, builds the payload
// text and hands it over (target: at most 10 ms either way).
//   build/bench/map/map_bench
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "map/map_bridge.h"

namespace {

using namespace dorvik;

MapView largeDay() {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> lat(55.55, 55.95), lon(37.35, 37.85);
  MapView view;
  view.configuration = JSONValue::object({{"key", "0123456789abcdef"}, {"styleId", "style-1"}});
  view.generation = "5b1f0d1e-7c3a-4f7e-9a57-2d5e8c0b4a11";
  for (int i = 0; i < 5000; ++i) {
    MapPin pin{"order-" + std::to_string(i), "ул. Профсоюзная, д. " + std::to_string(i % 200 + 1),
               std::to_string(i % 50 + 1), MapPoint{lat(random), lon(random)}};
    pin.movable = true;
    pin.selected = i % 97 == 0;
    pin.color = "#2e86ab";
    pin.vehicle = i / 50;
    view.content.pins.push_back(std::move(pin));
  }
  for (int r = 0; r < 100; ++r) {
    std::vector<MapPoint> line;
    for (int p = 0; p < 50; ++p) line.push_back(MapPoint{lat(random), lon(random)});
    view.content.lines.push_back(std::move(line));
    view.content.vehicles.push_back(r);
  }
  view.content.transferring = true;
  view.content.planRevision = 42;
  return view;
}

// A loaded page's bridge with the large day already sent, and a count of the payloads handed over since.
struct LoadedBridge {
  MapBridge bridge{largeDay()};
  std::size_t sent = 0, bytes = 0;
  LoadedBridge() {
    bridge.setSender([this](const std::string& text) {
      ++sent;
      bytes = text.size();
    });
    bridge.loadFinished();
  }
};

// A view update that changes nothing: the comparison with the last payload, nothing sent.
void BM_UpdateUnchanged(benchmark::State& state) {
  LoadedBridge page;
  const MapView view = largeDay();
  for (auto _ : state) page.bridge.update(view);
  if (page.sent != 1) state.SkipWithError("an unchanged update was sent");
}
BENCHMARK(BM_UpdateUnchanged)->Unit(benchmark::kMillisecond);

// A view update that toggles one pin's selection: the comparison, then the whole payload built and sent.
void BM_UpdateOnePinSelected(benchmark::State& state) {
  LoadedBridge page;
  MapView views[2] = {largeDay(), largeDay()};
  views[1].content.pins[1234].selected = !views[1].content.pins[1234].selected;
  std::size_t i = 0;
  for (auto _ : state) page.bridge.update(views[++i % 2]);
  state.counters["payload_bytes"] = static_cast<double>(page.bytes);
}
BENCHMARK(BM_UpdateOnePinSelected)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
