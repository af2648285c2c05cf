// The pay sheet over the real application model against the stand-in server: a period's sheet goes out through the
// model's workbook export and the workbook written opens again with the same rows. (Setting a courier's pay and
// adding and deleting adjustments against the server is shown in the admin window's test.)
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>

#include "admin/logic/payroll.h"
#include "core/base/base64.h"
#include "core/base/files.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "model/file_dialogs.h"
#include "support/fake_shifts.h"

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

class PayOverTheServer : public ::testing::Test, public ShiftsSession {};

}  // namespace

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
  const JSONArray table = paySheetTable(march->rows(), march->days(), false);
  ASSERT_EQ(table.size(), 5u);
  EXPECT_EQ(JSONValue(table[1]), JSONValue::decode(R"(["Иванов Пётр",3,2500,0,300,7200,7200,"Посменно",)"
                                                   R"("4: штраф 300 · опоздание"])"));
  EXPECT_EQ(JSONValue(table[4]), JSONValue::decode(R"(["Итого",5,null,700,300,13900,7200,null,null])"));

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
