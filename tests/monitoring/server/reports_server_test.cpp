// A period report over the real application model against the stand-in server: thirty days of routes summed up by
// the server, the slices read as the screen reads them, and a slice exported through the model's workbook and
// opened again by the workbook library.
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>

#include "core/async/task.h"
#include "core/base/base64.h"
#include "core/base/dorvik_date.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "monitoring/logic/report_rules.h"
#include "shell/toolkit/screen_data.h"
#include "support/async_helpers.h"
#include "support/fake_monitoring.h"
#include "support/fake_reports.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::monitoring;
using namespace dorvik::testing;
namespace fs = std::filesystem;

namespace {

class SavingDialogs : public FileDialogs {
 public:
  std::string path;
  std::vector<std::string> suggested;
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return std::nullopt; }
  async::Task<Chosen> saveFile(std::string name) override {
    suggested.push_back(std::move(name));
    co_return path;
  }
};

// A route of the day: three points, the third one's order failed on odd days.
JSONValue route(int n, const std::string& courier) {
  JSONArray points;
  for (int p = 1; p <= 3; ++p) {
    const bool failed = p == 3 && n % 2 == 1;
    const std::string status = failed ? "failed" : "delivered";
    JSONValue order = JSONValue::object({{"orderId", "O" + std::to_string(n) + "-" + std::to_string(p)},
                                         {"status", status},
                                         {"reason", failed ? JSONValue("client_absent") : JSONValue()}});
    points.push_back(JSONValue::object({{"pointId", "P" + std::to_string(n) + "-" + std::to_string(p)},
                                        {"address", "Москва, Тверская улица, " + std::to_string(p)},
                                        {"status", status},
                                        {"arrivedAt", "12:0" + std::to_string(p)},
                                        {"orders", JSONValue::array({order})}}));
  }
  return JSONValue::object({{"routeId", "R-" + std::to_string(n)},
                            {"externalRouteId", "Север-" + std::to_string(n)},
                            {"status", "finished"},
                            {"plannedKm", 12.5},
                            {"courier", JSONValue::object({{"name", courier}})},
                            {"points", JSONValue(std::move(points))}});
}

}  // namespace

TEST(ReportsOverTheServer, ThirtyDaysSummedUpShownAndExportedAgainAsTheSameRows) {
  StandInServer server;
  MonitoringDesk routes(server);
  ReportsDesk reports(server, routes);
  const Period period = presetPeriod(Preset::month, DorvikDate::parse("2026-09-22") + std::chrono::hours{15});
  const std::chrono::sys_days last{std::chrono::year{2026} / 9 / 22};
  for (int d = 0; d < 31; ++d) {  // 31 days: the first falls outside the period
    const std::chrono::year_month_day ymd{last - std::chrono::days{30 - d}};
    char day[16];
    std::snprintf(day, sizeof day, "%04d-%02u-%02u", int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
    routes.seedRoute(day, route(d, d % 3 == 0 ? "Тарен" : "Олег Смирнов"));
  }

  auto model = AppModel::create();
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  model->setCache(freshCache());
  model->setApi(signedInClient(server));
  auto dialogs = std::make_shared<SavingDialogs>();
  model->setFileDialogs(dialogs);

  auto state = ScreenData::create();
  ScreenSource source{[model] { return model->generation(); },
                      [model](std::string path, std::string method, std::optional<JSONValue> body) {
                        return model->fetch(std::move(path), std::move(method), std::move(body));
                      }};
  ASSERT_TRUE(validRange(period.from, period.to));
  async::runBlocking(state->load(reportPath(period.from, period.to), source));
  ASSERT_EQ(state->issue(), std::nullopt);
  ASSERT_EQ(server.hitsOn("/reports/summary").size(), 1u);
  EXPECT_EQ(server.hitsOn("/reports/summary")[0].query, "from=2026-08-24&to=2026-09-22");

  const JSONValue& answer = state->value();
  const std::vector<Tile> tiles = reportTiles(answer);
  EXPECT_EQ(tiles[0].value, "30");  // routes
  EXPECT_EQ(tiles[1].value, "75");  // 90 orders, 15 failed
  EXPECT_EQ(tiles[2].value, "15");
  EXPECT_EQ(tiles[3].value, "83.3");
  EXPECT_EQ(tiles[4].value, "375");
  EXPECT_EQ(rangeCaption(answer), "Данные: 2026-08-24 — 2026-09-22");
  EXPECT_EQ(reportRows(answer, "couriers").size(), 2u);
  EXPECT_EQ(reportRows(answer, "daily").size(), 30u);
  EXPECT_EQ(dailyChart(answer).columns.size(), 30u);
  const std::vector<Record> exceptions = reportRows(answer, "exceptions");
  ASSERT_EQ(exceptions.size(), 15u);
  const auto open = routeToOpen("exceptions", exceptions, {exceptions[2].id()});
  ASSERT_TRUE(open);
  EXPECT_EQ(open->routeID, exceptions[2]["routeId"].string());
  EXPECT_EQ(open->routeDate, exceptions[2]["date"].string());

  // The problems slice as a workbook, saved where the dialog says and read back by the workbook library.
  char folder[] = "/tmp/dorvik-reports-XXXXXX";
  ASSERT_TRUE(g_mkdtemp(folder));
  dialogs->path = std::string(folder) + "/отчёт.xlsx";
  const JSONArray table = reportExport(exceptions, "exceptions");
  async::runBlocking(model->exportRows(table, reportExportName("exceptions")));
  EXPECT_EQ(dialogs->suggested, std::vector<std::string>{"Отчёт-exceptions.xlsx"});
  ASSERT_TRUE(spinUntil([&] { return fs::exists(dialogs->path) || model->error(); }));
  EXPECT_EQ(model->error(), std::nullopt);

  ScriptContext script;
  script.evaluateFile(*PlannerEngine::bundleResources() / "xlsx.full.min.js", "xlsx.full.min");
  const std::string read = script.evaluate(
      "(function () { const book = XLSX.read('" + encodeBase64(files::readWhole(dialogs->path).value_or("")) +
      "', {type: 'base64'}); const sheet = book.Sheets[book.SheetNames[0]];"
      " return JSON.stringify({name: book.SheetNames[0],"
      " rows: XLSX.utils.sheet_to_json(sheet, {header: 1, raw: true, defval: null})}); })()");
  const JSONValue book = JSONValue::decode(read);
  EXPECT_EQ(book["name"].string(), "Отчёт-exceptions");
  EXPECT_EQ(book["rows"], JSONValue(table)) << read;
  fs::remove_all(folder);
}
