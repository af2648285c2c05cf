// Decoding and encoding speed on a planning-like document of about 50 MB: an "orders" array of 20,000 orders
// (Cyrillic addresses, numbers, flags, nested objects) and one archived workbook of 30 MB in base64; and decoding
// of a plan as the planner component returns it after every change (5,000 orders routed over 50 couriers, 2.4 MB).
// held_MB is the heap a decoded value occupies; faults the page faults of one decoding.
//   build/bench/json/json_bench --benchmark_min_time=2
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/json/json_value.h"

namespace {

using dorvik::JSONArray;
using dorvik::JSONValue;

std::string base64Text(std::size_t size, std::mt19937_64& random) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text(size, 'A');
  for (char& c : text) c = kAlphabet[random() & 63];
  text.back() = '=';
  return text;
}

JSONValue planningDocument() {
  static const char* const kStreets[] = {"ул. Тверская",         "Ленинский проспект", "ул. Большая Якиманка",
                                         "Кутузовский проспект", "ул. Профсоюзная",    "Варшавское шоссе"};
  static const char* const kClients[] = {"ООО «Ромашка»", "ИП Иванов Пётр Сергеевич", "АО «Север-Логистик»",
                                         "Кофейня «Зёрна»", "Аптека № 12"};
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  JSONArray orders;
  orders.reserve(20000);
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    JSONValue order = JSONValue::object({
        {"orderId", "A-" + n},
        {"externalId", "EXT-2026-" + std::to_string(100000 + i)},
        {"routeId", i / 40},
        {"pointId", i % 40},
        {"address", std::string("г. Москва, ") + kStreets[i % 6] + ", д. " + std::to_string(1 + i % 97) + ", кв. " +
                        std::to_string(1 + i % 211) + ", подъезд 2, этаж 5"},
        {"clientName", kClients[i % 5]},
        {"phone", "+7 (916) " + std::to_string(1000000 + i)},
        {"comment", "Позвонить за час до доставки, домофон не работает, оставить у консьержа. Хрупкое!"},
        {"weight", std::round(unit(random) * 4000) / 100},
        {"volume", std::round(unit(random) * 1000) / 1000},
        {"price", 150 + i % 3000},
        {"cod", i % 3 == 0},
        {"pinned", i % 7 == 0},
        {"window", JSONValue::object({{"from", 540 + (i % 8) * 30}, {"to", 720 + (i % 8) * 30}})},
        {"geo", JSONValue::object({{"lat", 55.5 + unit(random) * 0.5},
                                   {"lon", 37.3 + unit(random) * 0.6},
                                   {"quality", "exact"},
                                   {"source", "catalogue"}})},
        {"items", JSONValue::array({JSONValue::object({{"name", "Коробка"}, {"qty", 1 + i % 4}}),
                                    JSONValue::object({{"name", "Пакет документов"}, {"qty", 1}})})},
        {"contact", JSONValue::object({{"name", "Смирнова Екатерина Андреевна"},
                                       {"phone", "+7 (495) " + std::to_string(2000000 + i)},
                                       {"email", "client" + n + "@example.ru"}})},
        {"status", "planned"},
        {"zone", "Юго-Западный округ, зона " + std::to_string(i % 12)},
        {"tags", JSONValue::array({"хрупкое", "документы"})},
        {"_nativeID", "native-" + n},
    });
    orders.push_back(std::move(order));
  }
  return JSONValue::object({{"routeDate", "2026-01-15"},
                            {"orders", JSONValue(std::move(orders))},
                            {"workbook", base64Text(30 * 1000 * 1000, random)}});
}

// An object's text with its members in the order given, as the planner component writes them (data() would sort
// them).
using Members = std::vector<std::pair<const char*, JSONValue>>;
std::string inOrder(const Members& members) {
  std::string out = "{";
  for (const auto& [key, value] : members) {
    if (out.size() > 1) out += ',';
    dorvik::appendJSON(out, key);
    out += ':';
    out += value.data();
  }
  return out + "}";
}

std::string listOf(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (const std::string& text : texts) out += (out.size() > 1 ? "," : "") + text;
  return out + "]";
}

// A plan as the planner component returns it after a change: its orders with the members it adds, the couriers,
// the routes with their stops.
std::string planText() {
  static const char* const kWindows[] = {"09:00-18:00", "10:00-14:00", "12:00-16:00", "14:00-19:00", ""};
  constexpr int kOrders = 5000, kCouriers = 50;
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::string> orders, vehicles, routes;
  for (int i = 0; i < kOrders; ++i) {
    const int k = i % kCouriers;
    orders.push_back(inOrder({
        {"id", std::to_string(100000 + i)},
        {"title", "Клиент " + std::to_string(i)},
        {"address", "Москва, улица " + std::to_string(i % 700) + ", " + std::to_string(i % 50 + 1)},
        {"phone", "+7 900 " + std::to_string(1000000 + i)},
        {"window", kWindows[i % 5]},
        {"units", 1 + i % 5},
        {"lat", 55.55 + unit(random) * 0.4},
        {"lon", 37.35 + unit(random) * 0.55},
        {"hardWindow", ""},
        {"serviceS", nullptr},
        {"sharedS", nullptr},
        {"comments", ""},
        {"instructions", "Позвонить за час"},
        {"source", "file"},
        {"qc", "file"},
        {"_nativeID", "mxgelsclk2wb-" + std::to_string(i + 1)},
        {"_rt", k},
        {"_drv", "Курьер " + std::to_string(k)},
        {"_arr", 480 + (i / kCouriers) * 12 + k % 7},
        {"_seq", std::to_string(i / kCouriers + 1)},
    }));
  }
  for (int k = 0; k < kCouriers; ++k) {
    const std::string id = "courier" + std::to_string(k), name = "Курьер " + std::to_string(k);
    vehicles.push_back(inOrder({{"id", id},
                                {"ref", name},
                                {"shift", "08:00-20:00"},
                                {"zone", ""},
                                {"capacity", nullptr},
                                {"mileage", nullptr},
                                {"use", true},
                                {"back", k % 2 == 0}}));
    JSONArray indices;
    std::vector<std::string> stops;
    for (int i = k; i < kOrders; i += kCouriers) {
      indices.push_back(i);
      stops.push_back(inOrder({{"index", i}, {"arr", 480 + i / 4}, {"wait", i % 3 ? 0 : 12}, {"late", 0}}));
    }
    routes.push_back("{\"ci\":" + std::to_string(k) + ",\"vehicle\":" +
                     inOrder({{"id", id}, {"ref", name}, {"shift", "08:00-20:00"}}) +
                     ",\"orders\":" + JSONValue(std::move(indices)).data() + ",\"stops\":" + listOf(stops) +
                     ",\"km\":" + std::to_string(120 + k) + ",\"end\":" + std::to_string(1150 + k) + ",\"over\":0}");
  }
  return "{\"orders\":" + listOf(orders) + ",\"vehicles\":" + listOf(vehicles) +
         R"(,"depot":{"name":"Склад","lat":55.75,"lon":37.6,"window":"08:00-20:00"},)" +
         R"("config":{"CITY_KMH":25,"ROAD_FACTOR":1.3,"SERVICE_MIN":10,"LATE_TOL_MIN":15},"routes":)" + listOf(routes) +
         R"(,"unassigned":[],"planned":true,"revision":2,"routeDate":"2026-09-22","fileName":"Заказы.xlsx"})";
}

const std::string& documentText() {
  static const std::string text = planningDocument().data();
  return text;
}

double minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_minflt);
}

// Bytes of the heap in use: what a decoded value holds is the difference.
double heapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd);
}

// Decodes the text again and again. With `freeing` the previous value is freed inside the measurement, as a
// reader that replaces its document pays it; without, it is freed outside: glibc settles the chunks freed by a
// large value at the next large allocation, which would otherwise count as part of decoding.
void decodeRepeatedly(benchmark::State& state, const std::string& text, bool freeing) {
  // The thread's parser settles at the text's size first (it keeps the buffers of a large text from the second
  // one in a row).
  for (int i = 0; i < 2; ++i) (void)JSONValue::decode(text);
  {
    const double before = heapBytes();
    JSONValue value = JSONValue::decode(text);
    state.counters["held_MB"] = (heapBytes() - before) / 1e6;
  }
  double faults = 0;
  for (auto _ : state) {
    const double before = minorFaults();
    JSONValue value = JSONValue::decode(text);
    benchmark::DoNotOptimize(value);
    if (freeing) {
      value = JSONValue();
    } else {
      state.PauseTiming();
      value = JSONValue();
      void* settle = std::malloc(4096);
      benchmark::DoNotOptimize(settle);
      std::free(settle);
      state.ResumeTiming();
    }
    faults += minorFaults() - before;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
  state.counters["faults"] = faults / static_cast<double>(state.iterations());
}

void BM_Decode(benchmark::State& state) { decodeRepeatedly(state, documentText(), true); }
void BM_DecodeWithoutFreeing(benchmark::State& state) { decodeRepeatedly(state, documentText(), false); }
void BM_DecodePlan(benchmark::State& state) {
  static const std::string text = planText();
  decodeRepeatedly(state, text, true);
}

void BM_Encode(benchmark::State& state) {
  const JSONValue value = JSONValue::decode(documentText());
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = value.data();
    size = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Copies share the payload: handing the document around costs a reference count.
void BM_CopyAndTouch(benchmark::State& state) {
  const JSONValue value = JSONValue::decode(documentText());
  for (auto _ : state) {
    JSONValue copy = value;
    copy.set("routeDate", "2026-01-16");  // unshares the top level only
    benchmark::DoNotOptimize(copy);
  }
}

BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeWithoutFreeing)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodePlan)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyAndTouch)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
