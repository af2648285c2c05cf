// The shifts page over the real application model against the stand-in server: a logist marks a month's shifts
// (worked, not worked, back to the routes) and sets the depot rate; each write is checked in the server's log and
// the totals follow the reloaded month.
#include <gtest/gtest.h>

#include "admin/logic/shifts.h"
#include "support/fake_shifts.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::testing;

namespace {

class ShiftsOverTheServer : public ::testing::Test, public ShiftsSession {
 protected:
  ShiftTotals totalsOf(const std::shared_ptr<ShiftsController>& on, const std::string& id) {
    for (const Record& row : on->rows())
      if (row.id() == id) return ShiftTotals::calculate(row.value, on->days(), on->wholeMonth());
    ADD_FAILURE() << id;
    return {};
  }
};

}  // namespace

TEST_F(ShiftsOverTheServer, ALogistMarksTheShiftsOfAMonthAndSetsTheDepotRate) {
  auto march = page("2025-03-03");
  ASSERT_TRUE(march->editable());
  EXPECT_EQ(totalsOf(march, "k-1").accrued, 4 * 2500);

  // Not worked on a route day, worked on a free day, then the route day follows the routes again.
  march->select("k-1");
  for (const auto& [day, worked] : {std::pair{3, JSONValue(false)}, {20, JSONValue(true)}, {3, JSONValue()}}) {
    march->mark(day, worked);
    ASSERT_TRUE(settle(march));
  }
  EXPECT_EQ(desk.mark("k-1", "2025-03-20"), JSONValue(true));
  EXPECT_EQ(desk.mark("k-1", "2025-03-03"), JSONValue());
  EXPECT_EQ(totalsOf(march, "k-1").shifts, 5);
  EXPECT_EQ(march->selected(), std::optional<std::string>("k-1")) << "reloads after writes keep the selection";
  const std::vector<Hit> marks = writes();
  ASSERT_EQ(marks.size(), 3u);
  EXPECT_EQ(marks[0].method + " " + marks[0].path, "POST /panel/shifts/mark");
  EXPECT_EQ(marks[0].json(), JSONValue::object({{"courierId", "k-1"}, {"date", "2025-03-03"}, {"worked", false}}));
  EXPECT_TRUE(marks[2].json().contains("worked") && marks[2].json()["worked"].isNull()) << "null is sent";

  // The depot rate: a refused text sends nothing; couriers without an own rate follow the new one.
  march->setDepotRate("2 700");
  march->saveDepotRate();
  EXPECT_EQ(march->state()->issue(),
            std::optional<std::string>("Укажите целую сумму от 0 до 10 000 000 ₽."));
  march->setDepotRate("2700");
  march->saveDepotRate();
  ASSERT_TRUE(settle(march));
  ASSERT_EQ(writes().size(), 4u);
  EXPECT_EQ(writes()[3].method + " " + writes()[3].path, "PATCH /panel/shifts/rate");
  EXPECT_EQ(writes()[3].json(), JSONValue::object({{"shiftRate", 2700}}));
  EXPECT_EQ(totalsOf(march, "k-1").accrued, 5 * 2700);
  EXPECT_EQ(totalsOf(march, "k-2").accrued, 2 * 3000) << "an own rate stays";

  // A refused write leaves its message and sends no reload.
  desk.answerNext("POST", "/panel/shifts/mark", Answer::error(403, "Недостаточно прав."));
  const std::size_t gets = server.hits("GET", "/panel/shifts");
  march->mark(4, JSONValue(false));
  ASSERT_TRUE(settle(march));
  EXPECT_EQ(march->state()->issue(), std::optional<std::string>("Недостаточно прав."));
  EXPECT_EQ(server.hits("GET", "/panel/shifts"), gets);
}

TEST_F(ShiftsOverTheServer, AnAnswerForAnotherMonthIsDroppedAndNextMonthStartsEmpty) {
  auto march = page("2025-03-15");
  march->select("k-2");
  desk.answerNext("GET", "/panel/shifts", Answer::json(desk.month("2025-02")));
  march->refresh();
  ASSERT_TRUE(spinUntil([&] { return march->state()->issue().has_value(); }));
  EXPECT_EQ(march->state()->issue(), std::optional<std::string>(kOtherMonthMessage));
  EXPECT_TRUE(march->rows().empty());
  EXPECT_FALSE(march->editable());
  EXPECT_EQ(march->selected(), std::optional<std::string>("k-2")) << "a refresh keeps the selection";

  march->setDate(DorvikDate::parse("2025-04-01") + std::chrono::hours(12));
  ASSERT_TRUE(spinUntil([&] { return march->editable(); }));
  EXPECT_FALSE(march->selected());
  EXPECT_FALSE(march->state()->issue());
  EXPECT_EQ(totalsOf(march, "k-1").shifts, 0);
}
