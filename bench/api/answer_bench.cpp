// Large and hostile answers through APIClient::request: what each costs the client's main loop (its longest
// stall, measured by a 5 ms timer that should tick throughout) and its memory (the rise of the peak resident set
// over the request). The stand-in server runs on its own thread and main context, so its sending of the answers
// does not stall the client's loop; its copy of each answer does count in the peak (2 MB for the gzip answer).
#include <glib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "core/api/api_client.h"
#include "smoke.h"
#include "core/async/task.h"
#include "core/base/errors.h"
#include "core/json/json_value.h"
#include "support/resources.h"
#include "support/stand_in_server.h"

using namespace dorvik;
using namespace dorvik::testing;
using Clock = std::chrono::steady_clock;

namespace {

using dorvik::bench::sized;

// The sizes of the three answers: a gzip bomb, an answer over the client's 64 MB limit and one under it (in a smoke
// run, the smallest that still meet and miss the limit).
const std::size_t kBombBytes = sized(std::size_t(2) << 30, std::size_t(96) << 20);
const std::size_t kHugeBytes = sized(std::size_t(100) << 20, std::size_t(65) << 20);
const std::size_t kLargeBytes = sized(std::size_t(60) << 20, std::size_t(2) << 20);

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double mib(std::size_t bytes) { return bytes / 1048576.0; }

// A JSON array of order rows of about the given size.
std::string ordersText(std::size_t bytes) {
  std::string text = "[";
  for (int i = 0; text.size() < bytes; ++i) {
    if (i) text += ",";
    text += R"({"id":"order-)" + std::to_string(i) +
            R"(","address":"Москва, Тверская улица, 6","lat":55.7606,"lon":37.6095,"window":"09:00-18:00","units":1})";
  }
  return text + "]";
}

// The stand-in server on a thread of its own.
class ServerThread {
 public:
  ServerThread() {
    thread_ = std::thread([this] {
      GMainContext* context = g_main_context_new();
      context_ = context;
      g_main_context_push_thread_default(context);
      {
        StandInServer server;
        Answer bomb = Answer::empty(200);
        bomb.body = gzipOfZeros(kBombBytes);
        bomb.withHeader("Content-Encoding", "gzip");
        bombBytes_ = bomb.body.size();
        server.on("GET", "/bomb", bomb);
        Answer huge = Answer::empty(200);
        huge.body = ordersText(kHugeBytes);
        server.on("GET", "/huge", huge);
        Answer large = Answer::empty(200);
        large.body = ordersText(kLargeBytes);
        server.on("GET", "/large", large);
        {
          std::lock_guard lock(mutex_);
          url_ = server.url();
        }
        ready_.notify_all();
        while (!stop_) g_main_context_iteration(context, TRUE);
      }
      g_main_context_pop_thread_default(context);
      g_main_context_unref(context);
    });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !url_.empty(); });
  }
  ~ServerThread() {
    stop_ = true;
    g_main_context_wakeup(context_);  // the server's own context, which its thread waits on
    thread_.join();
  }
  std::string url() const { return url_; }
  std::size_t bombBytes() const { return bombBytes_; }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::string url_;
  std::size_t bombBytes_ = 0;
  std::atomic<bool> stop_{false};
  GMainContext* context_ = nullptr;  // set before url_, which the constructor waits for
};

struct Run {
  double seconds = 0;
  double longestStall = 0;
  std::size_t peakRise = 0;
  std::string outcome;
};

Run measure(const std::shared_ptr<APIClient>& client, const std::string& path) {
  Run run;
  auto last = Clock::now();
  Clock::duration longest{};
  struct Tick {
    Clock::time_point* last;
    Clock::duration* longest;
  } tick{&last, &longest};
  const guint timer = g_timeout_add(
      5,
      [](gpointer data) -> gboolean {
        auto* t = static_cast<Tick*>(data);
        const auto now = Clock::now();
        *t->longest = std::max(*t->longest, now - *t->last);
        *t->last = now;
        return G_SOURCE_CONTINUE;
      },
      &tick);
  resetPeakResident();
  const std::size_t before = peakResidentBytes();
  const auto start = Clock::now();
  JSONValue value;
  try {
    value = async::runBlocking(client->request(path));
    run.outcome = "decoded, " + std::to_string(value.size()) + " rows";
  } catch (const DorvikError& e) {
    run.outcome = "refused: " + e.message();
  } catch (const std::exception& e) {
    run.outcome = std::string("failed: ") + e.what();
  }
  run.seconds = seconds(Clock::now() - start);
  g_source_remove(timer);
  run.longestStall = seconds(std::max(longest, Clock::now() - last));
  const std::size_t peak = peakResidentBytes();
  run.peakRise = peak > before ? peak - before : 0;
  return run;
}

}  // namespace

int main() {
  ServerThread server;
  APIClient::Options options;
  options.persist = false;
  auto client = async::runBlocking(APIClient::create(server.url(), options));
  std::printf("gzip answer: %.1f MB on the wire, %.0f MB unpacked\n", mib(server.bombBytes()), mib(kBombBytes));
  int status = 0;
  for (const char* path : {"/bomb", "/huge", "/large"}) {
    const Run run = measure(client, path);
    std::printf("%-7s %6.2f s, longest main-loop stall %5.0f ms, peak resident +%6.1f MB: %s\n", path, run.seconds,
                run.longestStall * 1000, mib(run.peakRise), run.outcome.c_str());
    // The first two are refused, the last one decoded: anything else is a fault, not a figure.
    const bool refused = run.outcome.rfind("refused: ", 0) == 0;
    if (refused != (std::string(path) != "/large")) status = 1;
  }
  // For comparison: the large answer decoded on the main loop, as before.
  const std::string text = ordersText(kLargeBytes);
  const auto start = Clock::now();
  const JSONValue value = JSONValue::decode(text);
  std::printf("decoding the %.0f MB answer in place would stall the main loop %.0f ms (%zu rows)\n", mib(kLargeBytes),
              seconds(Clock::now() - start) * 1000, value.size());
  return status;
}
