// The payroll page's pay rules without a display: the amount rule of the money fields, the courier's pay form
// and the bodies and paths of its requests, the adjustments of a period, and the exported pay sheet.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>
#include <string>

#include "admin/logic/fake_gateway.h"
#include "admin/logic/payroll.h"
#include "core/base/dorvik_date.h"
#include "support/async_helpers.h"
#include "core/base/errors.h"

using namespace dorvik;
using namespace dorvik::admin;
using dorvik::admin::testing::FakeGateway;
using dorvik::testing::spinUntil;

namespace {

// The message of a refused call ("" when it was accepted).
template <typename F>
std::string refusal(F&& call) {
  try {
    call();
    return "";
  } catch (const DorvikError& e) {
    return e.message();
  }
}

const std::string kFromZero = "Укажите целую сумму от 0 до 10 000 000 ₽.";
const std::string kFromOne = "Укажите целую сумму от 1 до 10 000 000 ₽.";

// March 2026: a courier paid per shift with adjustments of both signs, one paid officially (with an adjustment of
// no day, which is in no period), one monthly, and one without a rate or pay mode.
JSONValue march() {
  return JSONValue::decode(R"({"month":"2026-03","depot":{"name":"Север","shiftRate":2500},"rows":[
    {"id":"c-1","fullName":"Иван Петров","rate":2000,"ownRate":true,"payMode":"shift","auto":[2,3,12],
     "marks":{"4":true,"12":false},
     "adjust":[{"id":"a-1","day":5,"kind":"extra","amount":500,"note":"выход в выходной"},
               {"id":"a-2","day":9,"kind":"fine","amount":300,"note":"опоздание"},
               {"id":"a-3","day":15,"kind":"fine","amount":1000,"note":"недостача"}]},
    {"id":"c-2","fullName":"Олег","rate":3000,"payMode":"official","auto":[1,2,11],
     "adjust":[{"kind":"fine","amount":9}]},
    {"id":"c-3","fullName":"Анна","rate":1500.5,"payMode":"monthly","marks":{"21":true,"22":1}},
    {"id":"c-4","fullName":"Без ставки","auto":[30,31]}]})");
}

// A page on the shown month whose loads are answered with `document`.
std::shared_ptr<ShiftsController> loadedPage(FakeGateway& fake, const JSONValue& document) {
  fake.autoAnswer = [document](const dorvik::admin::testing::FakeCall& call) -> std::optional<JSONValue> {
    if (call.method == "GET") return document;
    return JSONValue::object({});
  };
  auto page = ShiftsController::create(fake.gateway(), [] { return std::string("d1"); },
                                       DorvikDate::parse("2026-03-14"));
  page->follow();
  EXPECT_TRUE(spinUntil([&] { return page->editable(); }));
  return page;
}

}  // namespace

TEST(PayAmount, ReadsWholeRublesInTheCLocaleWhateverTheProcessLocale) {
  // GTK puts the user's numeric locale into effect; a decimal comma there must not change what is accepted.
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"), nullptr) << "the test needs the ru_RU.UTF-8 locale";
  struct Case {
    const char* text;
    bool positive;
    std::optional<double> value;
  };
  const Case cases[] = {
      {"0", false, 0},      {"10000000", false, 1e7}, {"10000001", false, {}}, {"1500.0", false, 1500},
      {"1e3", false, 1000}, {"-0", false, 0},         {"+7", true, 7},         {" 1", false, {}},
      {"1 ", false, {}},    {"2 500", false, {}},     {"2500,0", false, {}},   {"2500.5", false, {}},
      {"", false, {}},      {"nan", false, {}},       {"-1", false, {}},       {"1e400", false, {}},
      {"0", true, {}},      {"1", true, 1},
  };
  for (const Case& c : cases) {
    std::optional<double> got;
    const std::string message = refusal([&] { got = amount(c.text, c.positive); });
    if (c.value) {
      EXPECT_EQ(got, c.value) << c.text;
      EXPECT_FALSE(std::signbit(*got)) << c.text;
    } else {
      EXPECT_EQ(message, c.positive ? kFromOne : kFromZero) << c.text;
    }
  }
  // A NUL byte inside the text is something left over, never the end of the number.
  EXPECT_EQ(refusal([] { amount(std::string_view("5\0" "0", 3), false); }), kFromZero);
  std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(PayAdjustment, ChecksDayThenNoteThenAmount) {
  struct Case {
    std::string day;
    int lastDay;
    std::optional<int> expected;
  };
  const Case days[] = {{"+5", 31, 5},  {"05", 31, 5},  {"5.0", 31, {}}, {" 5", 31, {}}, {"0", 31, {}},
                       {"32", 31, {}}, {"29", 28, {}}, {"29", 29, 29},  {"+-5", 31, {}},
                       {"99999999999999999999", 31, {}}, {"-9223372036854775808", 31, {}}};
  for (const Case& c : days) EXPECT_EQ(parseDay(c.day, c.lastDay), c.expected) << c.day;

  const std::string longNote(501, 'x');
  for (const char* day : {"32", "5"}) {
    const JSONValue typed = JSONValue::object({{"day", day}, {"amount", "0"}, {"note", longNote}, {"kind", "extra"}});
    EXPECT_EQ(refusal([&] { adjustmentBody("c1", "2026-03", typed, 31); }), kDayOrNoteMessage) << day;
  }
  EXPECT_EQ(refusal([&] { adjustmentBody("c1", "2026-03", JSONValue::decode(R"({"kind":"extra","day":5})"), 31); }),
            kFromOne);  // an amount never typed

  // 500 characters pass, each family emoji of several code points counting once.
  std::string emoji;
  for (int i = 0; i < 500; ++i) emoji += "👨‍👩‍👧";
  EXPECT_TRUE(noteFits(emoji));
  EXPECT_FALSE(noteFits(emoji + "!"));
}

// What the admin window's test does not reach: a row without pay mode, an own rate switched off, writes offline.
TEST(PayActions, TheFormFollowsTheSelectionAndWritesGoOutOnlyWhileTheSheetMayBeWritten) {
  FakeGateway fake;
  auto page = loadedPage(fake, march());
  page->setPeriod(2);
  page->select("c-1");
  setDraft(*page);
  EXPECT_EQ(page->adjustment(), JSONValue::decode(R"({"kind":"extra","day":21})"));

  page->select("c-4");
  setDraft(*page);
  page->setRate("не число");
  saveCourier(*page);
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 3 && page->editable(); }));
  EXPECT_EQ(fake.calls[1]->method + " " + fake.calls[1]->path, "PATCH /panel/shifts/courier/c%2D4");
  EXPECT_EQ(fake.calls[1]->body, JSONValue::decode(R"({"shiftRate":null,"payMode":""})"));

  // Offline: a confirmed deletion, an add and a save send nothing, and the pending deletion still ends.
  fake.canWrite = false;
  page->select("c-1");
  setDraft(*page);
  JSONValue draft = page->adjustment();
  setDraftText(draft, "day", "5");
  setDraftText(draft, "amount", "300");
  page->setAdjustment(draft);
  page->setDeleting(adjustmentsInPeriod(page->current()->value, {1, 31})[0]);
  confirmDeletion(*page);
  EXPECT_EQ(page->deleting(), std::nullopt);
  addAdjustment(*page);
  page->setRate("2500");
  saveCourier(*page);
  EXPECT_EQ(fake.calls.size(), 3u);
}
TEST(PaySheet, RowsOfEachPayModeWithTotalsAndNoExportWithoutRows) {
  const std::vector<Record> rows = JSONValue::records(march()["rows"].array());
  // The first ten days: Иван worked 2, 3 and 4 (12 is outside), +500 −300; Олег 1 and 2, official; Анна none.
  const JSONArray first = paySheetTable(rows, {1, 10}, false);
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(JSONValue(first[1]),
            JSONValue::decode(R"(["Иван Петров",3,2000,500,300,6200,6200,"Посменно",)"
                              R"("5: доплата 500 · выход в выходной; 9: штраф 300 · опоздание"])"));
  EXPECT_EQ(JSONValue(first[2]), JSONValue::decode(R"(["Олег",2,3000,0,0,6000,null,"Официально",""])"));
  EXPECT_EQ(JSONValue(first[4]), JSONValue::decode(R"(["Без ставки",0,null,0,0,0,0,"—",""])"));
  EXPECT_EQ(JSONValue(first[5]), JSONValue::decode(R"(["Итого",5,null,500,300,12200,6200,null,null])"));
  EXPECT_EQ(adjustmentRowText(adjustmentsInPeriod(rows[0].value, {1, 10})[1].value), "9 · Штраф · 300 ₽");
  // The whole month: Анна's two marked days count in cash now.
  EXPECT_EQ(JSONValue(paySheetTable(rows, {1, 31}, true)[3]),
            JSONValue::decode(R"(["Анна",2,1500.5,0,0,3001,3001,"За месяц",""])"));

  FakeGateway empty;
  auto bare = loadedPage(empty, JSONValue::decode(R"({"month":"2026-03","rows":[]})"));
  EXPECT_FALSE(canExportPaySheet(*bare));
  exportPaySheet(*bare);
  EXPECT_TRUE(empty.of("export").empty());
}
