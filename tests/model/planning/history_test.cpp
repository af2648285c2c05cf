// Plan history through the real planner components and cache: save, list, restore, and source workbooks stored
// once per digest.
#include <gtest/gtest.h>
#include <glib.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/digest.h"
#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "model/app_model.h"
#include "planning_fixture.h"
#include "support/async_helpers.h"
#include "support/faulty_components.h"

using namespace dorvik;
using namespace dorvik::testing;

namespace {

std::string dorvikErrorText(async::Task<void> task) {
  try {
    async::runBlocking(std::move(task));
  } catch (const DorvikError& e) {
    return e.message();
  } catch (const std::exception& e) {
    return std::string("другое: ") + e.what();
  }
  return "<без ошибки>";
}

}  // namespace

TEST_F(PlanningWorkspace, SnapshotsAreSavedListedAndRestored) {
  loadSample();
  async::runBlocking(model->saveSnapshot("Утро"));
  ASSERT_EQ(model->history().size(), 1u);
  const JSONValue entry = model->history()[0];
  EXPECT_EQ(entry["title"].string(), "Утро");
  EXPECT_EQ(entry["date"].string(), "2026-09-22");
  EXPECT_EQ(entry["fileName"].string(), "Заказы.xlsx");
  EXPECT_EQ(entry["orders"].intValue(), 5);
  EXPECT_TRUE(entry["archive"].isNull());
  const std::string id = entry["id"].string();
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos) << id;
  EXPECT_EQ(entry["archiveRef"].string(), "history-entry-" + id);
  EXPECT_TRUE(g_regex_match_simple("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$", entry["createdAt"].string().c_str(),
                                   GRegexCompileFlags(0), GRegexMatchFlags(0)));
  EXPECT_EQ((*cached("history")), JSONValue(JSONArray{entry}));
  EXPECT_EQ((*cached("history-entry-" + id))["orders"].size(), 5u);

  // The plan changes; the snapshot brings it back, after keeping the changed plan as a snapshot of its own.
  model->setSelectedOrders({model->orderIDs().at(0)});
  ASSERT_TRUE(change("deleteOrders", JSONValue::object({{"indices", JSONValue::array({0, 1})}})));
  ASSERT_TRUE(change("date", JSONValue::object({{"date", "2026-10-05"}})));
  EXPECT_EQ(model->orders().size(), 3u);
  model->setPage(std::nullopt);

  async::runBlocking(model->restoreSnapshot(entry));
  EXPECT_EQ(model->orders().size(), 5u);
  EXPECT_EQ(model->orders().at(0)["id"].string(), "1001");
  EXPECT_EQ(DorvikDate::day(model->date()), "2026-09-22");
  EXPECT_EQ(model->page(), std::optional<PanelPage>(PanelPage::planning));
  EXPECT_TRUE(model->selectedOrders().empty());
  EXPECT_EQ(model->status(), "Сохранённое планирование открыто. Публикация курьерам выполняется отдельно.");
  ASSERT_EQ(model->history().size(), 2u);
  EXPECT_EQ(model->history()[0]["title"].string(), "Перед восстановлением истории");
  EXPECT_EQ(model->history()[0]["orders"].intValue(), 3);
  EXPECT_EQ(model->history()[1], entry);
  EXPECT_EQ((*cached("history")).size(), 2u);
  EXPECT_EQ((*cached("planner"))["orders"].size(), 5u);
}

TEST_F(PlanningWorkspace, AWorkbookIsStoredOncePerDigest) {
  const std::string workbook = "UEsDBBQABgAIAAAAIQBi7p1oXgEAAJAEAAATAAgCW0NvbnRlbnRfVHlwZXNdLnhtbCCiBAIooAAC";
  loadSample(workbook);
  const std::string name = "history-workbook-" + sha256Hex(workbook);

  async::runBlocking(model->saveSnapshot("Первый"));
  EXPECT_EQ(cached(name), JSONValue(workbook));
  // Mark the stored book: a second save of the same book must not write it again.
  async::runBlocking(cache->write(JSONValue(workbook + "#"), name));
  async::runBlocking(model->saveSnapshot("Второй"));
  EXPECT_EQ(cached(name), JSONValue(workbook + "#"));

  ASSERT_EQ(model->history().size(), 2u);
  for (const JSONValue& entry : model->history()) {
    const auto archive = cached(entry["archiveRef"].string());
    ASSERT_TRUE(archive);
    EXPECT_TRUE((*archive)["workbook"].isNull());
    EXPECT_EQ((*archive)["workbookRef"].string(), name);
  }
  // The plan keeps its workbook; only the stored snapshots refer to it.
  EXPECT_EQ((*cached("planner"))["workbook"].string(), workbook);

  // A restore finds the stored book; the restored plan keeps it by its entry, not as a second copy.
  async::runBlocking(cache->write(JSONValue(workbook), name));
  async::runBlocking(model->restoreSnapshot(model->history()[1]));
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ((*cached("planner"))["workbookRef"].string(), name);
  EXPECT_EQ((*cached("planner"))["workbook"].string(), "");
}

TEST_F(PlanningWorkspace, AMissingWorkbookOrArchiveLeavesThePlanUnchanged) {
  const std::string workbook = "UEsDBBQAAAAIAHZ4";
  loadSample(workbook);
  async::runBlocking(model->saveSnapshot("С книгой"));
  const JSONValue entry = model->history()[0];
  ASSERT_TRUE(change("deleteOrders", JSONValue::object({{"indices", JSONValue::array({0})}})));
  const JSONValue current = model->planner();

  const std::string file =
      cache->folder() + "/" + EncryptedCache::entryFileName("history-workbook-" + sha256Hex(workbook));
  ASSERT_EQ(std::remove(file.c_str()), 0);
  EXPECT_EQ(dorvikErrorText(model->restoreSnapshot(entry)),
            "Исходная книга снимка недоступна. Текущий план не изменён.");
  EXPECT_EQ(model->planner(), current);
  EXPECT_EQ(model->history().size(), 1u);

  JSONValue lost = entry;
  lost.set("archiveRef", "history-entry-NONE");
  EXPECT_EQ(dorvikErrorText(model->restoreSnapshot(lost)), "Снимок не найден в локальной истории.");
  EXPECT_EQ(model->planner(), current);
}

// A snapshot or a new plan the planner cannot read whole is refused with its message; the plan in use, its cached
// copy and the status stay as they were.
TEST_F(PlanningWorkspace, APlanThePlannerCannotReadIsRefusedAndThePlanInUseStays) {
  // Snapshots of "Сломанный.xlsx" and new plans (no orders yet) cannot be read.
  FaultyComponents faulty = FaultyComponents::unreadable(
      "(payload.format && payload.fileName === 'Сломанный.xlsx') || "
      "(Array.isArray(payload.orders) && payload.orders.length === 0)");
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  JSONValue broken = sampleDay();
  broken.set("fileName", "Сломанный.xlsx");
  ASSERT_TRUE(change("load", broken));
  async::runBlocking(model->saveSnapshot("Утро"));
  const JSONValue entry = model->history()[0];
  loadSample();

  const std::vector<std::pair<const char*, std::function<async::Task<void>()>>> attempts = {
      {"restore", [&] { return model->restoreSnapshot(entry); }},
      {"new plan", [&] { return model->beginNewPlan(); }},
  };
  for (const auto& [name, attempt] : attempts) {
    SCOPED_TRACE(name);
    model->setStatus("Рабочий день открыт.");
    model->setError(std::nullopt);
    const JSONValue plan = model->planner();
    const std::optional<JSONValue> stored = cached("planner");
    async::runBlocking(attempt());
    EXPECT_EQ(model->error(), "План не удалось прочитать целиком. Текущий план не изменён.");
    EXPECT_EQ(model->planner(), plan);
    EXPECT_EQ(cached("planner"), stored);
    EXPECT_EQ(model->status(), "Рабочий день открыт.");
    EXPECT_FALSE(model->busy());
    // The engine still holds the plan in use: the next change applies to it.
    ASSERT_TRUE(change("date", JSONValue::object({{"date", "2026-10-01"}})));
    EXPECT_EQ(model->orders().size(), 5u);
    EXPECT_EQ(model->orders().at(0)["id"].string(), "1001");
  }
}

TEST_F(PlanningWorkspace, WithoutACacheTheEntryCarriesItsArchive) {
  model->setCache(nullptr);
  loadSample("UEsDBAo=");
  async::runBlocking(model->saveSnapshot("В памяти"));
  ASSERT_EQ(model->history().size(), 1u);
  const JSONValue entry = model->history()[0];
  EXPECT_FALSE(entry.contains("archiveRef"));
  EXPECT_EQ(entry["archive"]["workbook"].string(), "UEsDBAo=");
  EXPECT_EQ(cached("history"), std::nullopt);

  ASSERT_TRUE(change("deleteOrders", JSONValue::object({{"indices", JSONValue::array({0, 1, 2})}})));
  async::runBlocking(model->restoreSnapshot(entry));
  EXPECT_EQ(model->orders().size(), 5u);
  EXPECT_EQ(model->history().size(), 2u);
}

TEST_F(PlanningWorkspace, SavesAndRestoresWaitForRunningWork) {
  loadSample();
  model->setSavingHistory(true);
  EXPECT_EQ(dorvikErrorText(model->saveSnapshot("Второй")), "Дождитесь сохранения текущего снимка.");
  EXPECT_EQ(dorvikErrorText(model->restoreSnapshot(JSONValue::object({}))), "Дождитесь завершения текущего действия.");
  model->setSavingHistory(false);
  model->setGeocoding(true);
  EXPECT_EQ(dorvikErrorText(model->restoreSnapshot(JSONValue::object({}))), "Дождитесь завершения текущего действия.");
  model->setGeocoding(false);

  // Two saves started together: the second is refused while the first runs.
  const auto first = start(model->saveSnapshot("Первый"));
  const auto second = start(model->saveSnapshot("Второй"));
  ASSERT_TRUE(spinUntil([&] { return first->done && second->done; }));
  EXPECT_TRUE(first->ok());
  DorvikError refused("");
  EXPECT_TRUE(second->failedWith<DorvikError>(&refused));
  EXPECT_EQ(refused.message(), "Дождитесь сохранения текущего снимка.");
  EXPECT_EQ(model->history().size(), 1u);
  EXPECT_FALSE(model->savingHistory());

  // A save whose workspace changed meanwhile ends with a cancellation and adds nothing.
  const auto stale = start(model->saveSnapshot("Чужой"));
  model->replaceGeneration();
  ASSERT_TRUE(spinUntil([&] { return stale->done; }));
  EXPECT_TRUE(stale->failedWith<CancelledError>());
  EXPECT_EQ(model->history().size(), 1u);
}
