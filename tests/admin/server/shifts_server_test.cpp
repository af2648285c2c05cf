// The shifts page over the real application model against the stand-in server: a logist marks a month's shifts
// (worked, not worked, back to the routes) and sets the depot rate; each write is checked in the server's log and
// the totals follow the reloaded month.
#include <gtest/gtest.h>

#include "admin/logic/shifts.h"
#include "core/base/dorvik_date.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_shifts.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::testing;

namespace {

class ShiftsOverTheServer : public ::testing::Test {
 protected:
  void SetUp() override {
    model->setCache(freshCache());
    model->setApi(admin.signIn("logist"));
    model->setUser(AdminDesk::user("logist"));
    desk.setDepot("Склад «Северный»", 2500);
    desk.addCourier("k-1", "Иванов Пётр");
    desk.addCourier("k-2", "Сидорова Анна", 3000, "monthly");
    desk.addCourier("k-3", "Петров Олег", std::nullopt, "official");
    desk.setRouteDays("k-1", "2025-03", {3, 4, 5, 12});
    desk.setRouteDays("k-2", "2025-03", {1, 2});
  }

  std::shared_ptr<ShiftsController> page(const char* day) {
    std::weak_ptr<AppModel> weak = model;
    auto made = ShiftsController::create(
        modelGateway(model),
        [weak] {
          auto m = weak.lock();
          return m ? m->user()["depotId"].string() : std::string();
        },
        DorvikDate::parse(day) + std::chrono::hours(12));
    made->follow();
    EXPECT_TRUE(spinUntil([&] { return made->editable(); })) << made->state()->issue().value_or("");
    return made;
  }

  // Waits for the write and its reload.
  void settle(const std::shared_ptr<ShiftsController>& on) {
    EXPECT_TRUE(spinUntil([&] { return !on->saving() && !on->loading(); }));
  }

  std::vector<Hit> writes() const {
    std::vector<Hit> out;
    for (const Hit& hit : server.allHits())
      if (hit.method != "GET" && hit.path.starts_with("/panel/shifts")) out.push_back(hit);
    return out;
  }

  ShiftTotals totalsOf(const std::shared_ptr<ShiftsController>& on, const std::string& id) {
    for (const Record& row : on->rows())
      if (row.id() == id) return ShiftTotals::calculate(row.value, on->days(), on->wholeMonth());
    ADD_FAILURE() << id;
    return {};
  }

  StandInServer server;
  AdminDesk admin{server};
  ShiftsDesk desk{server};
  std::shared_ptr<AppModel> model = AppModel::create();
};

}  // namespace

TEST_F(ShiftsOverTheServer, ALogistMarksTheShiftsOfAMonthAndSetsTheDepotRate) {
  auto march = page("2025-03-03");
  EXPECT_EQ(march->rows().size(), 3u);
  EXPECT_EQ(march->depotRate(), "2500");
  EXPECT_EQ(totalsOf(march, "k-1").shifts, 4);
  EXPECT_EQ(totalsOf(march, "k-1").accrued, 10000);

  march->select("k-1");
  // Not worked on a route day, worked on a free day, then the route day follows the routes again.
  march->mark(3, JSONValue(false));
  settle(march);
  march->mark(20, JSONValue(true));
  settle(march);
  EXPECT_EQ(totalsOf(march, "k-1").shifts, 4);
  EXPECT_EQ(desk.mark("k-1", "2025-03-03"), JSONValue(false));
  EXPECT_EQ(desk.mark("k-1", "2025-03-20"), JSONValue(true));
  const std::vector<DayCell> cells = dayCells(march->current()->value, {3, 3});
  EXPECT_EQ(cells[0].caption, "вручную");
  EXPECT_FALSE(cells[0].worked);
  march->mark(3, JSONValue());
  settle(march);
  EXPECT_EQ(desk.mark("k-1", "2025-03-03"), JSONValue());
  EXPECT_EQ(totalsOf(march, "k-1").shifts, 5);
  EXPECT_EQ(march->selected(), std::optional<std::string>("k-1")) << "reloads after writes keep the selection";

  const std::vector<Hit> marks = writes();
  ASSERT_EQ(marks.size(), 3u);
  for (const Hit& hit : marks) EXPECT_EQ(hit.method + " " + hit.path, "POST /panel/shifts/mark");
  EXPECT_EQ(marks[0].json(), JSONValue::object({{"courierId", "k-1"}, {"date", "2025-03-03"}, {"worked", false}}));
  EXPECT_EQ(marks[1].json()["date"], JSONValue("2025-03-20"));
  EXPECT_TRUE(marks[2].json().contains("worked"));
  EXPECT_TRUE(marks[2].json()["worked"].isNull()) << "null is sent, not left out";
  EXPECT_EQ(marks[2].header("Content-Type"), "application/json");

  // The depot rate: the couriers without a rate of their own follow it after the reload.
  march->setDepotRate("2 700");
  march->saveDepotRate();
  EXPECT_EQ(march->state()->issue(),
            std::optional<std::string>("Укажите целую сумму от 0 до 10 000 000 ₽."));
  march->setDepotRate("2700");
  march->saveDepotRate();
  settle(march);
  ASSERT_EQ(writes().size(), 4u) << "the refused text sent nothing";
  EXPECT_EQ(writes()[3].method + " " + writes()[3].path, "PATCH /panel/shifts/rate");
  EXPECT_EQ(writes()[3].json(), JSONValue::object({{"shiftRate", 2700}}));
  EXPECT_EQ(march->depotRate(), "2700");
  EXPECT_EQ(totalsOf(march, "k-1").accrued, 5 * 2700);
  EXPECT_EQ(totalsOf(march, "k-2").accrued, 2 * 3000) << "an own rate stays";

  // The sheet's sums by period: the monthly courier is paid in cash only for the whole month; official never.
  SheetTotals whole = sheetTotals(march->rows(), march->days(), march->wholeMonth());
  EXPECT_EQ(whole.accrued, 13500 + 6000);
  EXPECT_EQ(whole.cash, 13500 + 6000);
  march->setPeriod(0);
  SheetTotals first = sheetTotals(march->rows(), march->days(), march->wholeMonth());
  EXPECT_EQ(first.accrued, 3 * 2700 + 6000);
  EXPECT_EQ(first.cash, 3 * 2700);
  EXPECT_TRUE(totalsOf(march, "k-3").cashDeferred);

  // A refused write leaves its message and sends no reload.
  desk.answerNext("POST", "/panel/shifts/mark", Answer::error(403, "Недостаточно прав."));
  const std::size_t gets = server.hits("GET", "/panel/shifts");
  march->mark(4, JSONValue(false));
  settle(march);
  EXPECT_EQ(march->state()->issue(), std::optional<std::string>("Недостаточно прав."));
  EXPECT_EQ(server.hits("GET", "/panel/shifts"), gets);
  EXPECT_EQ(desk.mark("k-1", "2025-03-04"), JSONValue());
}

TEST_F(ShiftsOverTheServer, AnAnswerForAnotherMonthIsDroppedAndNextMonthStartsEmpty) {
  auto march = page("2025-03-15");
  march->select("k-2");
  desk.answerNext("GET", "/panel/shifts", Answer::json(desk.month("2025-02")));
  march->refresh();
  EXPECT_TRUE(spinUntil([&] { return march->state()->issue().has_value(); }));
  EXPECT_EQ(march->state()->issue(), std::optional<std::string>(kOtherMonthMessage));
  EXPECT_TRUE(march->rows().empty());
  EXPECT_FALSE(march->editable());
  EXPECT_FALSE(march->current());
  EXPECT_EQ(march->selected(), std::optional<std::string>("k-2")) << "a refresh keeps the selection";

  march->setDate(DorvikDate::parse("2025-04-01") + std::chrono::hours(12));
  EXPECT_TRUE(spinUntil([&] { return march->editable(); }));
  EXPECT_FALSE(march->selected());
  EXPECT_FALSE(march->state()->issue());
  EXPECT_EQ(march->lastDay(), 30);
  EXPECT_EQ(totalsOf(march, "k-1").shifts, 0);
}
