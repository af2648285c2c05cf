// The batch coordinate search over a plan whose orders have no coordinates, through the model, the real planner
// engine (its sample catalogue) and the stand-in server answering "/geo/clean" at once, in two runs:
//   first request   from the start of the search to the first lookup reaching the server, with the server's
//                   spacing of 350 ms between requests;
//   whole search    every address looked up and its orders written into the plan, with that spacing taken out:
//                   the search's own work (grouping, lookups, answers, saves, the address memory).
//   geocoding_bench [--orders N] [--addresses K]     (default 2,000 orders at 1,500 distinct addresses)
// Prints both figures in milliseconds; exits with a failure when a run does not end or finds too little.
#include <glib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "core/async/task.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
using Clock = std::chrono::steady_clock;

namespace {

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Addresses the sample catalogue does not know: the server's geocoder finds them.
std::string addressOf(int n) {
  return "Москва, Учебная улица, " + std::to_string(n % 200 + 1) + ", корпус " + std::to_string(n / 200 + 1);
}

JSONValue plan(int orders, int addresses) {
  JSONArray list;
  for (int i = 0; i < orders; ++i) {
    list.push_back(JSONValue::object({{"id", "Z-" + std::to_string(i)},
                                      {"title", "Клиент " + std::to_string(i)},
                                      {"address", addressOf(i % addresses)},
                                      {"window", "09:00-18:00"},
                                      {"units", 1}}));
  }
  return JSONValue::object({
      {"routeDate", "2026-12-09"},
      {"depot", JSONValue::object({{"name", "Склад"}, {"lat", 55.7558}, {"lon", 37.6176}, {"window", "08:00-20:00"}})},
      {"vehicles", JSONValue::array({JSONValue::object(
                       {{"id", "V1"}, {"shift", "09:00-18:00"}, {"use", true}, {"capacity", 50}})})},
      {"orders", JSONValue(std::move(list))},
  });
}

bool spinUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!done() && Clock::now() < end) g_main_context_iteration(nullptr, FALSE) || (g_usleep(200), true);
  return done();
}

// A signed-in workspace holding the plan, its server answering every address.
struct Workspace {
  StandInServer server;
  std::shared_ptr<AppModel> model = AppModel::create();

  Workspace(int orders, int addresses) {
    server.on("POST", "/geo/clean", [](const Hit& hit) {
      const std::string query = hit.json()["query"].string();
      const int n = static_cast<int>(query.size() % 97);
      return Answer::json(JSONValue::object(
          {{"found", JSONValue::object(
                         {{"lat", 55.7 + n / 1000.0}, {"lon", 37.6 + n / 1000.0}, {"value", "г " + query}, {"qc", "0"}})},
           {"provider", "dadata"}}));
    });
    server.on("POST", "/panel/addresses", Answer::empty());
    server.on("POST", "/panel/clients/learn", Answer::empty());
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    model->setApi(signedInClient(server));
    model->setUser(JSONValue::object({{"role", "logist"}}));
    if (!async::runBlocking(model->mutate("load", plan(orders, addresses)))) throw DorvikError("План не загрузился.");
  }

  // Starts the search; the flag turns true when it has ended.
  std::shared_ptr<bool> search() {
    auto ended = std::make_shared<bool>(false);
    async::spawn([](std::shared_ptr<AppModel> m, std::shared_ptr<bool> done) -> async::Task<void> {
      co_await m->geocode();
      *done = true;
    }(model, ended));
    return ended;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int orders = 2000, addresses = 1500;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--orders") == 0) orders = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--addresses") == 0) addresses = std::atoi(argv[i + 1]);
  }
  addresses = std::max(1, std::min(addresses, orders));
  try {
    {
      Workspace day(orders, addresses);
      const auto begun = Clock::now();
      std::shared_ptr<bool> ended = day.search();
      if (!spinUntil([&] { return day.server.hits("/geo/clean") > 0; }, std::chrono::seconds(120))) {
        std::fprintf(stderr, "no request within two minutes\n");
        return 1;
      }
      const double first = millis(day.server.hitsOn("/geo/clean").front().arrived - begun);
      std::printf("%d orders at %d addresses: first request %.0f ms after the start\n", orders, addresses, first);
      day.model->stopGeocoding();
      spinUntil([&] { return *ended; }, std::chrono::seconds(120));
    }
    {
      Workspace day(orders, addresses);
      day.model->setGeocodingSpacing(std::chrono::milliseconds(0));
      const auto begun = Clock::now();
      std::shared_ptr<bool> ended = day.search();
      if (!spinUntil([&] { return *ended; }, std::chrono::seconds(600))) {
        std::fprintf(stderr, "the search did not end within ten minutes\n");
        return 1;
      }
      const double whole = millis(Clock::now() - begun);
      const std::size_t asked = day.server.hits("/geo/clean");
      std::printf("whole search without the spacing: %.0f ms (%zu requests, %lld orders found; %s)\n", whole, asked,
                  static_cast<long long>(day.model->geocodingFound()), day.model->status().c_str());
      if (asked != static_cast<std::size_t>(addresses) || day.model->geocodingFound() != orders) return 1;
    }
  } catch (const DorvikError& e) {
    std::fprintf(stderr, "%s\n", e.message().c_str());
    return 1;
  }
  return 0;
}
