// Pay on the shifts page over the real application model against the stand-in server: a logist gives a courier a
// rate of his own and another pay mode, adds a fine and an extra and deletes one of them, each write checked in
// the server's log; then the pay sheet of a period goes out through the model's workbook export and the workbook
// written opens again with the same rows.
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>

#include "admin/logic/payroll.h"
#include "admin/logic/shifts.h"
#include "core/base/dorvik_date.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/fake_shifts.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::admin;
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

class PayOverTheServer : public ::testing::Test {
 protected:
  void SetUp() override {
    model->setCache(freshCache());
    model->setApi(admin.signIn("logist"));
    model->setUser(AdminDesk::user("logist"));
    desk.setDepot("Склад «Северный»", 2500);
    desk.addCourier("k-1", "Иванов Пётр");
    desk.addCourier("k-2", "Сидорова Анна", 3000, "monthly");
    desk.setRouteDays("k-1", "2025-03", {3, 4, 5, 12});
    desk.setRouteDays("k-2", "2025-03", {1, 2, 21});
  }

  std::shared_ptr<ShiftsController> page(const char* day) {
    auto made = ShiftsController::create(modelGateway(model), [] { return std::string("depot-1"); },
                                         DorvikDate::parse(day) + std::chrono::hours(12));
    made->follow();
    EXPECT_TRUE(spinUntil([&] { return made->editable(); })) << made->state()->issue().value_or("");
    return made;
  }
  void settle(const std::shared_ptr<ShiftsController>& on) {
    EXPECT_TRUE(spinUntil([&] { return !on->saving() && !on->loading(); }));
  }
  std::vector<Hit> writes() const {
    std::vector<Hit> out;
    for (const Hit& hit : server.allHits())
      if (hit.method != "GET" && hit.path.starts_with("/panel/shifts")) out.push_back(hit);
    return out;
  }
  void typeDraft(const std::shared_ptr<ShiftsController>& on, const char* day, const char* kind, const char* sum,
                 const char* note) {
    JSONValue draft = on->adjustment();
    setDraftText(draft, "day", day);
    setDraftText(draft, "kind", kind);
    setDraftText(draft, "amount", sum);
    setDraftText(draft, "note", note);
    on->setAdjustment(std::move(draft));
  }

  StandInServer server;
  AdminDesk admin{server};
  ShiftsDesk desk{server};
  std::shared_ptr<AppModel> model = AppModel::create();
};

}  // namespace

TEST_F(PayOverTheServer, ALogistSetsACouriersPayAddsAndDeletesAdjustments) {
  auto march = page("2025-03-03");
  march->select("k-1");
  setDraft(*march);
  EXPECT_FALSE(march->ownRate());
  EXPECT_EQ(march->rate(), "2500");  // the depot's, which he is paid by
  EXPECT_EQ(march->payMode(), "shift");

  march->setOwnRate(true);
  march->setRate("3000");
  march->setPayMode("monthly");
  saveCourier(*march);
  settle(march);
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].method + " " + writes()[0].path, "PATCH /panel/shifts/courier/k-1");
  EXPECT_EQ(writes()[0].json(), JSONValue::object({{"shiftRate", 3000}, {"payMode", "monthly"}}));
  EXPECT_EQ(desk.ownRate("k-1"), JSONValue(3000));
  EXPECT_EQ(desk.payMode("k-1"), "monthly");
  EXPECT_EQ(ShiftTotals::calculate(march->current()->value, march->days(), true).accrued, 4 * 3000);

  // A fine and an extra; an amount of 0 is refused before anything is sent.
  typeDraft(march, "05", "fine", "500", "опоздание");
  addAdjustment(*march);
  settle(march);
  typeDraft(march, "12", "extra", "1e3", "выход в выходной");
  addAdjustment(*march);
  settle(march);
  typeDraft(march, "13", "extra", "0", "");
  addAdjustment(*march);
  EXPECT_EQ(march->state()->issue(), std::optional<std::string>("Укажите целую сумму от 1 до 10 000 000 ₽."));
  ASSERT_EQ(writes().size(), 3u);
  EXPECT_EQ(writes()[1].method + " " + writes()[1].path, "POST /panel/shifts/adjust");
  EXPECT_EQ(writes()[1].json(), JSONValue::object({{"courierId", "k-1"}, {"date", "2025-03-05"}, {"kind", "fine"},
                                                  {"amount", 500}, {"note", "опоздание"}}));
  EXPECT_EQ(writes()[2].json()["amount"], JSONValue(1000));

  const std::vector<Record> listed = adjustmentsInPeriod(march->current()->value, march->days());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(ShiftTotals::calculate(march->current()->value, march->days(), true).accrued, 4 * 3000 + 1000 - 500);

  // The fine goes after its confirmation; its id travels encoded and reaches the server whole.
  march->setDeleting(listed[0]);
  confirmDeletion(*march);
  EXPECT_EQ(march->deleting(), std::nullopt);
  settle(march);
  ASSERT_EQ(writes().size(), 4u);
  EXPECT_EQ(writes()[3].method + " " + writes()[3].path, "DELETE /panel/shifts/adjust/" + listed[0].id());
  EXPECT_EQ(writes()[3].body, "null");
  EXPECT_EQ(adjustmentsInPeriod(march->current()->value, march->days()).size(), 1u);
  EXPECT_EQ(march->state()->issue(), std::nullopt);
}

TEST_F(PayOverTheServer, ThePaySheetOfAPeriodOpensAgainWithTheSameRows) {
  desk.addAdjustment("k-1", "2025-03-04", "fine", 300, "опоздание");
  desk.addAdjustment("k-2", "2025-03-02", "extra", 700, "");
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  auto dialogs = std::make_shared<SavingDialogs>();
  model->setFileDialogs(dialogs);
  char folder[] = "/tmp/dorvik-payroll-XXXXXX";
  ASSERT_TRUE(g_mkdtemp(folder));
  dialogs->path = std::string(folder) + "/ведомость.xlsx";

  auto march = page("2025-03-03");
  march->setPeriod(0);
  ASSERT_TRUE(canExportPaySheet(*march));
  const JSONArray table = paySheetTable(march->rows(), march->days(), false);
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(JSONValue(table[1]), JSONValue::decode(R"(["Иванов Пётр",3,2500,0,300,7200,7200,"Посменно",)"
                                                   R"("4: штраф 300 · опоздание"])"));
  EXPECT_EQ(JSONValue(table[2]), JSONValue::decode(R"(["Сидорова Анна",2,3000,700,0,6700,null,"За месяц",)"
                                                   R"("2: доплата 700 · "])"));
  EXPECT_EQ(JSONValue(table[3]), JSONValue::decode(R"(["Итого",5,null,700,300,13900,7200,null,null])"));

  exportPaySheet(*march);
  ASSERT_TRUE(spinUntil([&] { return fs::exists(dialogs->path) || model->error(); }));
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(dialogs->suggested, std::vector<std::string>{"Смены-2025-03-1-10.xlsx"});
  EXPECT_TRUE(writes().empty()) << "the export writes nothing to the server";

  ScriptContext script;
  script.evaluateFile(*PlannerEngine::bundleResources() / "xlsx.full.min.js", "xlsx.full.min");
  const std::string read = script.evaluate(
      "(function () { const book = XLSX.read('" + encodeBase64(files::readWhole(dialogs->path).value_or("")) +
      "', {type: 'base64'}); const sheet = book.Sheets[book.SheetNames[0]];"
      " return JSON.stringify({name: book.SheetNames[0],"
      " rows: XLSX.utils.sheet_to_json(sheet, {header: 1, raw: true, defval: null})}); })()");
  const JSONValue book = JSONValue::decode(read);
  EXPECT_EQ(book["name"].string(), "Смены-2025-03-1-10");
  EXPECT_EQ(book["rows"], JSONValue(table)) << read;
  fs::remove_all(folder);
}
