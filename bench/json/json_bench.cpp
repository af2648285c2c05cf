// Decoding and encoding speed on a planning-like document of about 50 MB: an "orders" array of 20,000 orders
// (Cyrillic addresses, numbers, flags, nested objects) and one archived workbook of 30 MB in base64.
//   build/bench/json/json_bench --benchmark_min_time=2
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>

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

const std::string& documentText() {
  static const std::string text = planningDocument().data();
  return text;
}

void BM_Decode(benchmark::State& state) {
  const std::string& text = documentText();
  for (auto _ : state) {
    JSONValue value = JSONValue::decode(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

// The same, with the previous document freed outside the measurement: glibc settles the chunks freed by a
// large value at the next large allocation, which BM_Decode counts as part of decoding.
void BM_DecodeWithoutFreeing(benchmark::State& state) {
  const std::string& text = documentText();
  for (auto _ : state) {
    JSONValue value = JSONValue::decode(text);
    benchmark::DoNotOptimize(value);
    state.PauseTiming();
    value = JSONValue();
    void* settle = std::malloc(4096);
    benchmark::DoNotOptimize(settle);
    std::free(settle);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
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
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyAndTouch)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
