// The plan history page without a display: the search over the snapshots, when a snapshot can be saved by hand,
// and the model's refusal of a reopening while other work runs.
#include <gtest/gtest.h>

#include "model/app_model.h"
#include "planning/logic/plan_history.h"
#include "support/async_helpers.h"

using namespace dorvik;
using namespace dorvik::planning;
using dorvik::testing::spinUntil;

namespace {

JSONValue entry(const char* id, const char* title, const char* date, const char* file) {
  return JSONValue::object(
      {{"id", id}, {"title", title}, {"date", date}, {"fileName", file}, {"orders", 5}, {"routes", 2}});
}

std::vector<std::string> idsOf(const std::vector<Record>& rows) {
  std::vector<std::string> ids;
  for (const Record& row : rows) ids.push_back(row.id());
  return ids;
}

}  // namespace

TEST(PlanHistory, TheSearchIgnoresLetterCaseAndMatchesAnyPartOfTitleDateOrFile) {
  const std::vector<JSONValue> history{entry("A", "Расчёт маршрутов", "2026-09-22", "Вторник.xlsx"),
                                       entry("B", "Перед новым планированием", "2026-10-06", "Заказы ЮГ.xlsx"),
                                       entry("C", "Сохранённый план", "2026-09-23", ""),
                                       JSONValue::object({{"id", "D"}})};
  struct Case {
    const char* query;
    std::vector<std::string> ids;
  };
  for (const Case& c : std::vector<Case>{{"", {"A", "B", "C", "D"}},
                                         {"РАСЧЁТ", {"A"}},
                                         {"заказы юг", {"B"}},
                                         {"-09-", {"A", "C"}},  // the month part of a date
                                         {"вторник", {"A"}},
                                         {" план", {"B", "C"}},  // not trimmed
                                         {"нет такого", {}}})
    EXPECT_EQ(idsOf(historyRows(history, c.query)), c.ids) << c.query;
  // Composed and decomposed "ё" are one letter.
  EXPECT_EQ(idsOf(historyRows(history, "расче\xCC\x88т")), std::vector<std::string>{"A"});
}

TEST(PlanHistory, SavingByHandNeedsOrdersAndNoOtherWork) {
  auto model = AppModel::create();
  EXPECT_FALSE(canSaveSnapshot(*model)) << "no orders";
  model->setPlanner(JSONValue::object({{"orders", JSONValue::array({JSONValue::object({{"_nativeID", "n1"}})})}}));
  EXPECT_TRUE(canSaveSnapshot(*model));
  for (auto set : {&AppModel::setSavingHistory, &AppModel::setBusy, &AppModel::setGeocoding}) {
    (model.get()->*set)(true);
    EXPECT_FALSE(canSaveSnapshot(*model));
    (model.get()->*set)(false);
  }
}

TEST(PlanHistory, ReopeningWhileACalculationRunsLeavesThePlanAndSaysWhy) {
  auto model = AppModel::create();
  const JSONValue plan = JSONValue::object({{"orders", JSONValue::array({JSONValue::object({{"id", "1"}})})}});
  model->setPlanner(plan);
  model->setBusy(true);
  model->setPage(PanelPage::history);
  restoreSnapshot(model, entry("A", "Расчёт маршрутов", "2026-09-22", "Вторник.xlsx"));
  ASSERT_TRUE(spinUntil([&] { return model->error().has_value(); }));
  EXPECT_EQ(model->error(), "Дождитесь завершения текущего действия.");
  EXPECT_EQ(model->planner(), plan);
  EXPECT_EQ(model->page(), PanelPage::history);
}
