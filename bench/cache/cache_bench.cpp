// Speed of the encrypted workspace cache on one 50 MB entry, each way:
//  - Bytes*: sealing and the durable atomic write, then the read and opening, of 50 MB of bytes;
//  - Entry*: the whole path of a 50 MB JSON entry through EncryptedCache (encoding, sealing, writing; reading,
//    opening, decoding), which needs the Secret Service;
//  - Json*: the encoding and decoding alone, to tell how the whole path divides.
// Throughput is reported as bytes_per_second over the size of the sealed data.
// The cache keeps its key in the Secret Service and its files in the data folder: the benchmark runs itself inside
// a private session (scripts/with-session.sh: a throwaway home, D-Bus and keyring), so it needs nothing of the
// desktop and leaves nothing in the user's keyring or folders:
//   build/bench/cache/cache_bench [Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/cache/encrypted_cache.h"
#include "core/cache/sealed_file.h"
#include "core/json/json_value.h"
#include "smoke.h"

using namespace dorvik;

namespace {

const std::size_t kTarget = bench::sized<std::size_t>(50u * 1024 * 1024, 1u * 1024 * 1024);

// Two entries of about 50 MB of JSON text. Arg 0: a planning state as the planner archives it, 20,000 orders
// and a workbook kept in base64. Arg 1: orders only, some 250,000 small objects (the hardest case for decoding).
JSONValue makeOrder(int i) {
  return JSONValue::object({
      {"orderId", "ORD-" + std::to_string(i)},
      {"address", "г. Москва, ул. Профсоюзная, д. " + std::to_string(i % 180) + ", кв. " + std::to_string(i % 97)},
      {"lat", 55.6 + (i % 1000) * 0.000137},
      {"lon", 37.5 + (i % 777) * 0.000211},
      {"weight", (i % 40) * 0.25},
      {"windowStart", 540 + i % 120},
      {"windowEnd", 720 + i % 240},
      {"paid", i % 3 == 0},
      {"comment", i % 5 == 0 ? JSONValue("позвонить за час") : JSONValue(nullptr)},
  });
}

const JSONValue& document(int kind) {
  static const JSONValue planning = [] {
    JSONArray orders;
    std::size_t size = 0;
    for (int i = 0; i < bench::sized(20000, 200); ++i) {
      orders.push_back(makeOrder(i));
      size += orders.back().data().size() + 1;
    }
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string workbook(kTarget - size, 'A');
    for (std::size_t i = 0; i < workbook.size(); ++i) workbook[i] = kAlphabet[(i * 2654435761u >> 7) & 63];
    return JSONValue::object({{"routeDate", "2026-12-08"},
                              {"orders", JSONValue(std::move(orders))},
                              {"workbook", JSONValue(std::move(workbook))}});
  }();
  static const JSONValue ordersOnly = [] {
    JSONArray orders;
    std::size_t size = 0;
    for (int i = 0; size < kTarget; ++i) {
      orders.push_back(makeOrder(i));
      size += orders.back().data().size() + 1;
    }
    return JSONValue::object({{"routeDate", "2026-12-08"}, {"orders", JSONValue(std::move(orders))}});
  }();
  return kind == 0 ? planning : ordersOnly;
}

const std::string& plainBytes() {
  static const std::string bytes = [] {
    std::string b(kTarget, '\0');
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>((i * 2654435761u) >> 13);
    return b;
  }();
  return bytes;
}

const std::string& benchKey() {
  static const std::string key = *cache::randomBytes(cache::kKeySize);
  return key;
}

struct Scratch {
  std::string path;
  Scratch() {
    gchar* p = g_dir_make_tmp("dorvik-cache-bench-XXXXXX", nullptr);
    path = p;
    g_free(p);
  }
  ~Scratch() {
    g_unlink((path + "/entry.sealed").c_str());
    g_rmdir(path.c_str());
  }
};

void BytesSealAndWrite(benchmark::State& state) {
  Scratch scratch;
  const std::string& plain = plainBytes();
  std::string text = plain;
  for (auto _ : state) {
    // The cache seals the freshly encoded text in place; here a copy made outside the timing stands for it.
    state.PauseTiming();
    std::memcpy(text.data(), plain.data(), plain.size());
    state.ResumeTiming();
    auto parts = cache::sealInPlace(benchKey(), text.data(), text.size(), "entry.sealed");
    cache::writeFileAtomically(scratch.path, "entry.sealed", {parts.nonceView(), text, parts.tagView()});
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}

void BytesReadAndOpen(benchmark::State& state) {
  Scratch scratch;
  const std::string& plain = plainBytes();
  cache::writeFileAtomically(scratch.path, "entry.sealed", cache::seal(benchKey(), plain, "entry.sealed"));
  for (auto _ : state) {
    auto sealed = cache::readFile(scratch.path + "/entry.sealed");
    std::string_view opened = cache::openInPlace(benchKey(), *sealed, "entry.sealed");
    benchmark::DoNotOptimize(opened.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}

void JsonEncode(benchmark::State& state) {
  const JSONValue& doc = document(static_cast<int>(state.range(0)));
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = doc.data();
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["MB"] = static_cast<double>(size) / 1e6;
}

void JsonDecode(benchmark::State& state) {
  const std::string text = document(static_cast<int>(state.range(0))).data();
  for (auto _ : state) {
    JSONValue value = JSONValue::decode(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// A new cache (and so a new worker thread) per benchmark, as each workspace entry makes one.
std::shared_ptr<EncryptedCache> benchCache(benchmark::State& state) {
  try {
    return async::runBlocking(EncryptedCache::open("bench|cache|50MB"));
  } catch (const std::exception& e) {
    state.SkipWithError((std::string("no Secret Service: ") + e.what()).c_str());
    return nullptr;
  }
}

void EntryWrite(benchmark::State& state) {
  auto cache = benchCache(state);
  if (!cache) return;
  const JSONValue& doc = document(static_cast<int>(state.range(0)));
  const std::size_t size = doc.data().size();
  for (auto _ : state) async::runBlocking(cache->write(doc, "planner"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void EntryRead(benchmark::State& state) {
  auto cache = benchCache(state);
  if (!cache) return;
  const JSONValue& doc = document(static_cast<int>(state.range(0)));
  const std::size_t size = doc.data().size();
  async::runBlocking(cache->write(doc, "planner"));
  // The first large decoding on a thread sizes that thread's parser; it is reported apart from the steady state.
  const auto start = std::chrono::steady_clock::now();
  (void)async::runBlocking(cache->read("planner"));
  state.counters["firstReadMs"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  for (auto _ : state) {
    std::optional<JSONValue> value = async::runBlocking(cache->read("planner"));
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

}  // namespace

// Two seconds a case; one iteration in a smoke run.
static benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->UseRealTime();
  return bench::smokeRun() ? b->Iterations(1) : b->MinTime(2);
}

BENCHMARK(BytesSealAndWrite)->Apply([](auto* b) { timed(b); });
BENCHMARK(BytesReadAndOpen)->Apply([](auto* b) { timed(b); });
BENCHMARK(JsonEncode)->Arg(0)->Arg(1)->Apply([](auto* b) { timed(b); });
BENCHMARK(JsonDecode)->Arg(0)->Arg(1)->Apply([](auto* b) { timed(b); });
BENCHMARK(EntryWrite)->Arg(0)->Arg(1)->Apply([](auto* b) { timed(b); });
BENCHMARK(EntryRead)->Arg(0)->Arg(1)->Apply([](auto* b) { timed(b); });

int main(int argc, char** argv) {
  // Started from outside: runs itself again inside a private session of its own.
  if (!std::getenv("DORVIK_CACHE_BENCH_SESSION")) {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
      std::perror("cache_bench: /proc/self/exe");
      return 1;
    }
    self[length] = '\0';
    const std::string script = std::string(DORVIK_SOURCE_DIR) + "/scripts/with-session.sh";
    std::vector<char*> args{const_cast<char*>(script.c_str()), self};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    setenv("DORVIK_CACHE_BENCH_SESSION", "1", 1);
    execv(script.c_str(), args.data());
    std::perror(("cache_bench: " + script).c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
