// Workbook import and export through the model: the real planner components and workspace cache, a dialog
// that picks a file, and (for answers the real components never give) a scripted stand-in of the components.
#include <gtest/gtest.h>
#include <glib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/base/base64.h"
#include "core/base/digest.h"
#include "core/base/dorvik_date.h"
#include "core/base/files.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "support/async_helpers.h"
#include "support/order_books.h"
#include "support/stand_in_server.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::testing;
namespace fs = std::filesystem;

namespace {

// Answers every dialog at once with the path set for it (none: cancelled), and keeps what it was asked.
class PickingDialogs : public FileDialogs {
 public:
  std::optional<std::string> openAnswer;
  std::optional<std::string> saveAnswer;
  std::vector<std::vector<std::string>> opened;
  std::vector<std::string> saved;
  std::function<void()> whileOpen;  // runs while the open dialog is on screen

  async::Task<Chosen> openFile(std::vector<std::string> extensions) override {
    opened.push_back(std::move(extensions));
    if (whileOpen) whileOpen();
    co_return openAnswer;
  }
  async::Task<Chosen> saveFile(std::string suggestedName) override {
    saved.push_back(std::move(suggestedName));
    co_return saveAnswer;
  }
};

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/dorvik-workbooks-XXXXXX";
    path_ = g_mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string readAll(const std::string& file) { return files::readWhole(file).value_or(""); }

const char* const kSaved = "Файл открыт. Адресный справочник сохранён на компьютере.";

class Workbooks : public ::testing::Test {
 protected:
  void SetUp() override {
    model = AppModel::create();
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    cache = freshCache();
    model->setCache(cache);
    dialogs = std::make_shared<PickingDialogs>();
    model->setFileDialogs(dialogs);
    model->setDate(DorvikDate::parse("2026-09-22"));
    // No server: the upload that follows an import returns at once (the first test gives it one).
    model->setOffline(true);
  }

  // An order workbook made by the components' own table export.
  std::string orderBook(const std::string& name, JSONArray rows) {
    JSONValue answer = async::runBlocking(model->engine()->run(
        "sheet", JSONValue::object({{"rows", JSONValue(std::move(rows))}, {"name", "Заказы"}, {"fileName", name}})));
    const std::string file = folder / name;
    writeFileAtomically(file, decodeBase64(answer["base64"].stringView()).value());
    return file;
  }

  void importFile(const std::string& file) {
    dialogs->openAnswer = file;
    async::runBlocking(model->importWorkbook());
  }

  std::shared_ptr<AppModel> model;
  std::shared_ptr<EncryptedCache> cache;
  std::shared_ptr<PickingDialogs> dialogs;
  TempFolder folder;
};

JSONArray orderRows() {
  return JSONArray{
      JSONValue::array({"Номер заказа", "Клиент", "Адрес", "Широта", "Долгота", "Временное окно"}),
      JSONValue::array({"A-1", "Кофейня", "Москва, Тверская улица, 6", 55.7606, 37.6095, "09:00-12:00"}),
      JSONValue::array({"A-2", "Магазин", "Москва, улица Петровка, 12", nullptr, nullptr, "09:00-13:00"}),
      JSONValue::array({"A-3", "Ресторан", "Москва, Мясницкая улица, 20", 55.7632, 37.6363, "10:00-14:00"}),
  };
}

}  // namespace

TEST_F(Workbooks, AnOrderBookImportsWithItsCoordinatesAndThePlanExportsAsAWorkbook) {
  const std::string file = orderBook("Заказы на вторник.xlsx", orderRows());
  model->setSelectedOrders({"x"});
  model->setEditRevisions({{"x", 2}});
  // A change right after the import's own replaces the document the import installed: the coordinates must
  // still come from the document of the import.
  auto connection = model->observe([this](AppModel::Property property) {
    if (property != AppModel::Property::planner || model->planner()["importedBook"].size() == 0) return;
    JSONValue later = model->planner();
    later.set("importedBook", JSONArray{});
    model->setPlanner(later);
  });

  // The upload that follows the import waits at the server until the test lets it through.
  StandInServer server;
  model->setApi(signedInClient(server));
  model->setOffline(false);
  server.on("POST", "/panel/addresses", Answer::json(JSONValue::object({{"ok", true}})).held());

  importFile(file);
  connection.disconnect();
  ASSERT_EQ(dialogs->opened, (std::vector<std::vector<std::string>>{{"xlsx", "xls"}}));
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->status(), std::string(kSaved) + " Загружено заказов: 3; с координатами: 2.")
      << "what the import found stays on the status line";
  EXPECT_FALSE(model->busy());
  EXPECT_TRUE(model->selectedOrders().empty());
  EXPECT_TRUE(model->editRevisions().empty());
  ASSERT_EQ(model->orders().size(), 3u);
  EXPECT_EQ(model->planner()["fileName"].string(), "Заказы на вторник.xlsx");
  EXPECT_EQ(model->planner()["routeDate"].string(), "2026-09-22");

  // The two orders with coordinates are remembered from the file, neither pinned nor named.
  ASSERT_EQ(model->pendingAddresses().size(), 2u);
  std::vector<std::string> addresses;
  for (const auto& [key, entry] : model->pendingAddresses()) {
    addresses.push_back(entry["address"].string());
    EXPECT_EQ(entry["source"].string(), "file");
    EXPECT_EQ(entry["quality"].string(), "0");
    EXPECT_FALSE(entry["pinned"].boolValue());
    EXPECT_EQ(entry["clientName"].string(), "");
    if (entry["address"].string() == "Москва, Тверская улица, 6") {
      EXPECT_EQ(entry["lat"].doubleValue(), 55.7606);
      EXPECT_EQ(entry["lon"].doubleValue(), 37.6095);
    }
  }
  std::sort(addresses.begin(), addresses.end());
  EXPECT_EQ(addresses, (std::vector<std::string>{"Москва, Мясницкая улица, 20", "Москва, Тверская улица, 6"}));
  // The source workbook is stored once under its own entry, and the stored plan names it instead of carrying it
  // (every later change stores the plan without the book); a snapshot of the plan opens again with it.
  const std::string book = encodeBase64(readAll(file));
  const std::string entry = "history-workbook-" + sha256Hex(book);
  EXPECT_EQ(async::runBlocking(cache->read(entry)), JSONValue(book));
  const std::optional<JSONValue> planner = async::runBlocking(cache->read("planner"));
  ASSERT_TRUE(planner);
  EXPECT_EQ((*planner)["workbookRef"].string(), entry);
  EXPECT_EQ((*planner)["workbook"].string(), "");
  async::runBlocking(model->saveSnapshot("После импорта"));
  async::runBlocking(model->restoreSnapshot(model->history().front()));
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->orders().size(), 3u);
  // Stored once for the whole book.
  std::optional<JSONValue> stored = async::runBlocking(cache->read("pendingAddresses"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 2u);
  for (const auto& [key, entry] : model->pendingAddresses()) EXPECT_EQ((*stored)[key], entry);

  // One upload of both, started by the import without waiting for it.
  ASSERT_TRUE(spinUntil([&] { return server.held("/panel/addresses") == 1; }));
  EXPECT_EQ(server.hitsOn("/panel/addresses")[0].json()["addresses"].size(), 2u);
  server.release("/panel/addresses");
  ASSERT_TRUE(spinUntil([&] { return model->pendingAddresses().empty(); }));
  model->setApi(nullptr);
  model->setOffline(true);  // the second import below uploads nothing

  // The plan as a workbook, saved where the dialog says, read back by the workbook library itself.
  const std::string saved = folder / "выгрузка.xlsx";
  dialogs->saveAnswer = saved;
  async::runBlocking(model->exportWorkbook("working"));
  ASSERT_EQ(dialogs->saved, std::vector<std::string>{"Рабочая книга 2026-09-22.xlsx"});
  ASSERT_TRUE(spinUntil([&] { return fs::exists(saved) || model->error(); }));
  EXPECT_EQ(model->error(), std::nullopt);

  ScriptContext script;
  script.evaluateFile(*PlannerEngine::bundleResources() / "xlsx.full.min.js", "xlsx.full.min");
  const std::string rows = script.evaluate(
      "(function () { const book = XLSX.read('" + encodeBase64(readAll(saved)) +
      "', {type: 'base64'});"
      " return JSON.stringify(XLSX.utils.sheet_to_json(book.Sheets['Заказы'], {header: 1, raw: true})); })()");
  const JSONValue table = JSONValue::decode(rows);
  ASSERT_EQ(table.size(), 4u) << rows;
  const JSONArray& header = table.at(0).array();
  auto column = [&](const char* title) {
    for (std::size_t c = 0; c < header.size(); ++c)
      if (header[c].string() == title) return c;
    ADD_FAILURE() << "no column " << title;
    return std::size_t(0);
  };
  const JSONArray source = orderRows();
  for (std::size_t r = 1; r < 4; ++r) {
    EXPECT_EQ(table.at(r).at(column("Номер заказа")).string(), source[r].at(0).string());
    EXPECT_EQ(table.at(r).at(column("Клиент")).string(), source[r].at(1).string());
    EXPECT_EQ(table.at(r).at(column("Адрес")).string(), source[r].at(2).string());
    EXPECT_EQ(table.at(r).at(column("Широта")).doubleValue(), source[r].at(3).doubleValue());
  }

  // The saved book opens again as the same orders.
  importFile(saved);
  ASSERT_EQ(model->orders().size(), 3u);
  EXPECT_EQ(model->orders().at(2)["id"].string(), "A-3");
  EXPECT_EQ(model->status(), std::string(kSaved) + " Загружено заказов: 3; с координатами: 2.");
}

TEST_F(Workbooks, AFileOverTheLimitIsRefusedBeforeItIsRead) {
  importFile(orderBook("Заказы.xlsx", orderRows()));
  const JSONValue plan = model->planner();
  const std::int64_t changes = model->mutation();

  // A sparse file of a terabyte: refused by its size, at once, the plan untouched.
  const std::string huge = folder / "огромный.xlsx";
  std::ofstream(huge).close();
  fs::resize_file(huge, std::uintmax_t(1) << 40);
  importFile(huge);
  EXPECT_EQ(model->error(), std::optional<std::string>("Файл больше 40 МБ."));
  EXPECT_EQ(model->status(), "Файл больше 40 МБ.") << "a refused import ends with its refusal";
  EXPECT_FALSE(model->busy());
  EXPECT_EQ(model->planner(), plan);
  EXPECT_EQ(model->mutation(), changes);

  fs::resize_file(huge, AppModel::kWorkbookLimit + 1);
  model->setError(std::nullopt);
  importFile(huge);
  EXPECT_EQ(model->error(), std::optional<std::string>("Файл больше 40 МБ."));
  EXPECT_EQ(model->mutation(), changes);

  // Exactly the limit is read and handed to the components, which find no workbook in it.
  fs::resize_file(huge, AppModel::kWorkbookLimit);
  model->setError(std::nullopt);
  importFile(huge);
  EXPECT_EQ(model->error(), std::optional<std::string>("Не удалось прочитать файл Excel: это не книга Excel."));
  EXPECT_EQ(model->status(), *model->error());
  EXPECT_EQ(model->mutation(), changes + 1);
  EXPECT_EQ(model->planner(), plan);
  EXPECT_FALSE(model->busy());
}

TEST_F(Workbooks, NothingHappensWhenCancelledBusyOrTheWorkspaceChanged) {
  importFile(orderBook("Заказы.xlsx", orderRows()));
  const JSONValue plan = model->planner();
  model->setStatus("Готово");

  // Cancelled.
  dialogs->openAnswer = std::nullopt;
  async::runBlocking(model->importWorkbook());
  EXPECT_EQ(model->status(), "Готово");
  EXPECT_FALSE(model->busy());

  // Busy: no dialog at all; a batch search likewise.
  const std::size_t shown = dialogs->opened.size();
  model->setBusy(true);
  importFile(folder / "Заказы.xlsx");
  model->setBusy(false);
  model->setGeocoding(true);
  importFile(folder / "Заказы.xlsx");
  model->setGeocoding(false);
  EXPECT_EQ(dialogs->opened.size(), shown);

  // Another workspace while the dialog is open, or another import begun meanwhile: the chosen file is dropped.
  dialogs->whileOpen = [this] { model->replaceGeneration(); };
  importFile(folder / "Заказы.xlsx");
  dialogs->whileOpen = [this] { model->setBusy(true); };
  importFile(folder / "Заказы.xlsx");
  EXPECT_EQ(model->status(), "Готово");
  EXPECT_EQ(model->planner(), plan);
  EXPECT_EQ(model->error(), std::nullopt);
}

TEST_F(Workbooks, AWorkspaceChangeWhileReadingDropsTheFile) {
  importFile(orderBook("Заказы.xlsx", orderRows()));
  const JSONValue plan = model->planner();
  dialogs->openAnswer = folder / "Заказы.xlsx";
  auto outcome = start(model->importWorkbook());
  ASSERT_TRUE(spinUntil([&] { return model->busy(); }));
  const std::string other = model->replaceGeneration();
  model->setBusy(true);  // the new workspace's own
  ASSERT_TRUE(spinUntil([&] { return outcome->done; }));
  EXPECT_TRUE(model->busy());
  EXPECT_EQ(model->planner(), plan);
  EXPECT_EQ(model->error(), std::nullopt);
  EXPECT_EQ(model->generation(), other);
}

// A hand-kept book with the usual mistakes, through the model and the real components: every row with a value is an
// order, each value that could not be read is noted on its order as typed, a damaged character arrives as U+FFFD
// (the model's JSON takes the component's answer), and the import's summary stays on the status line.
TEST_F(Workbooks, EveryRowOfAHandKeptBookIsAnOrderWithWhatCouldNotBeReadNoted) {
  const std::string file = folder / "День.xlsx";
  writeFileAtomically(file, mistakesBook());
  importFile(file);
  EXPECT_EQ(model->error(), std::nullopt);
  struct Row {
    const char* id;
    int row;
    std::vector<std::string> unread;  // "column: text"
  };
  const std::vector<Row> rows{{"1001", 3, {}},
                              {"1002", 5, {}},
                              {"1003", 6, {"Окно с – Окно до: 18:00-09:00", "Места: три"}},
                              {"1001", 7, {}},
                              {"", 8, {"Координаты: 555, 37.6"}},
                              {"1006", 0, {}}};  // a sound order needs no row to be found
  const std::vector<Record> orders = model->orders();
  ASSERT_EQ(orders.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const JSONValue& order = orders[i].value;
    std::vector<std::string> unread;
    for (const JSONValue& entry : order["_unread"].array())
      unread.push_back(entry["column"].string() + ": " + entry["text"].string());
    EXPECT_EQ(order["id"].string(), rows[i].id) << i;
    EXPECT_EQ(order["_row"].intValue(), rows[i].row) << i;
    EXPECT_EQ(unread, rows[i].unread) << i;
  }
  EXPECT_EQ(orders[2].value["Вес"].string(), "два кг");
  EXPECT_EQ(orders[4].value["comments"].string(), "вход \uFFFD со двора");
  EXPECT_EQ(model->status(), std::string(kSaved) +
                                 " Загружено заказов: 6; с координатами: 4. Требуют проверки: 4 — вкладка «Проверка».");
}

namespace {

// The peak resident memory of this process since the last reset, and the reset itself (Linux: /proc).
long peakKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}
long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

// Damaged books the workbook library would follow without end (compound files whose chains or links loop, a cut
// formula record, zip bombs): each is refused at once, within a bounded memory over the engine's own, with the
// plan untouched and the refusal on the status line.
TEST_F(Workbooks, DamagedBooksAreRefusedAtOnceWithinBoundedMemory) {
  importFile(orderBook("Заказы.xlsx", orderRows()));
  const JSONValue plan = model->planner();
  for (const DamagedBook& book : damagedBooks()) {
    const std::string file = folder / "повреждённая.xls";
    writeFileAtomically(file, book.bytes);
    model->setError(std::nullopt);
    resetPeak();
    const long before = residentKiB();
    const auto started = std::chrono::steady_clock::now();
    importFile(file);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long grown = peakKiB() - before;
    ASSERT_TRUE(model->error()) << book.name;
    EXPECT_TRUE(*model->error() == "Не удалось прочитать файл Excel: файл повреждён." ||
                *model->error() ==
                    "Книга Excel слишком велика в распакованном виде. Сохраните в отдельную книгу только лист с заказами.")
        << book.name << ": " << *model->error();
    EXPECT_EQ(model->status(), *model->error()) << book.name;
    EXPECT_EQ(model->planner(), plan) << book.name;
    // "At once" against a library that would loop without end; the bound leaves room for a loaded machine.
    EXPECT_LT(seconds, 20.0) << book.name;
    EXPECT_LT(grown, 256 * 1024) << book.name << ": " << grown / 1024 << " MiB over the engine's own";
  }
}

// The components replaced by a script that answers what each test sets: answers the real ones never give.
class ScriptedComponents : public Workbooks {
 protected:
  void SetUp() override {
    Workbooks::SetUp();
    const std::string resources = folder / "Resources";
    fs::create_directory(resources);
    for (const char* name : PlannerEngine::kComponents) std::ofstream(resources + "/" + name + ".js") << "\n";
    std::ofstream(resources + "/NativeAdapter.js") << R"JS(
      globalThis.answers = {};
      globalThis.Native = { run: function (text) {
        const request = JSON.parse(text);
        if (request.action === "answer") { answers[request.payload.action] = request.payload.answer; return "{}"; }
        if (request.action === "lastRequest") return JSON.stringify(globalThis.last || null);
        globalThis.last = request;
        const answer = answers[request.action];
        if (typeof answer === "string") throw answer;
        return JSON.stringify(answer === undefined ? {} : answer);
      } };
    )JS";
    PlannerEngineOptions options;
    options.resourcesFolder = resources;
    model->setEngine(async::runBlocking(PlannerEngine::create(options)));
  }
  void answer(const std::string& action, JSONValue value) {
    async::runBlocking(model->engine()->run("answer", JSONValue::object({{"action", action}, {"answer", value}})));
  }
  JSONValue lastRequest() { return async::runBlocking(model->engine()->run("lastRequest", JSONValue::object({}))); }
};

TEST_F(ScriptedComponents, AnAnswerThatIsNotExactBase64SavesNothing) {
  dialogs->saveAnswer = folder / "книга.xlsx";
  for (const char* bad : {"UEsDBA!=", "UEsDBAo", "UEsD\nBAo="}) {
    answer("export", JSONValue::object({{"base64", bad}, {"name", "книга.xlsx"}}));
    answer("sheet", JSONValue::object({{"base64", bad}, {"name", "таблица.xlsx"}}));
    model->setError(std::nullopt);
    async::runBlocking(model->exportWorkbook("working"));
    EXPECT_EQ(model->error(), std::optional<std::string>("Не удалось создать файл.")) << bad;
    model->setError(std::nullopt);
    async::runBlocking(model->exportRows(JSONArray{}, "Отчёт"));
    EXPECT_EQ(model->error(), std::optional<std::string>("Не удалось создать файл.")) << bad;
  }
  // An answer without Base64 at all is no empty file either.
  answer("export", JSONValue::object({{"name", "книга.xlsx"}}));
  model->setError(std::nullopt);
  async::runBlocking(model->exportWorkbook("working"));
  EXPECT_EQ(model->error(), std::optional<std::string>("Не удалось создать файл."));
  EXPECT_TRUE(dialogs->saved.empty());
  EXPECT_FALSE(fs::exists(folder / "книга.xlsx"));

  // Empty Base64 is an empty file, offered like any other.
  answer("export", JSONValue::object({{"base64", ""}, {"name", "пустая.xlsx"}}));
  model->setError(std::nullopt);
  async::runBlocking(model->exportWorkbook("routes"));
  EXPECT_EQ(lastRequest(),
            JSONValue::object({{"action", "export"}, {"payload", JSONValue::object({{"kind", "routes"}})}}));
  ASSERT_EQ(dialogs->saved, std::vector<std::string>{"пустая.xlsx"});
  ASSERT_TRUE(spinUntil([&] { return fs::exists(folder / "книга.xlsx"); }));
  EXPECT_EQ(readAll(folder / "книга.xlsx"), "");
}

TEST_F(ScriptedComponents, ATableExportCutsTheSheetNameByCharactersAndReportsFailures) {
  const std::string name = "Отчёт по курьерам за период с первого по";  // 40 characters
  ASSERT_EQ(g_utf8_strlen(name.c_str(), -1), 40);
  answer("sheet", JSONValue::object({{"base64", encodeBase64("PK\x03\x04")}, {"name", "Отчёт.xlsx"}}));
  const std::string saved = folder / "отчёт.xlsx";
  dialogs->saveAnswer = saved;
  JSONArray rows{JSONValue::array({"Курьер", 3}), JSONValue::array({nullptr, true})};
  async::runBlocking(model->exportRows(rows, name));
  const JSONValue payload = lastRequest()["payload"];
  char* cut = g_utf8_substring(name.c_str(), 0, 31);
  EXPECT_EQ(payload["name"].string(), cut);
  g_free(cut);
  EXPECT_EQ(payload["fileName"].string(), name + ".xlsx");
  EXPECT_EQ(payload["rows"], JSONValue(rows));
  ASSERT_TRUE(spinUntil([&] { return fs::exists(saved); }));
  EXPECT_EQ(readAll(saved), std::string("PK\x03\x04"));
  EXPECT_EQ(dialogs->saved, std::vector<std::string>{"Отчёт.xlsx"});

  async::runBlocking(model->exportRows(JSONArray{}, "Пусто"));
  EXPECT_EQ(lastRequest()["payload"]["rows"], JSONValue(JSONArray{}));

  // A write that fails, and the component's refusal, reach the user.
  answer("export", JSONValue::object({{"base64", "QUJD"}, {"name", "папка"}}));
  dialogs->saveAnswer = folder / "Resources";
  async::runBlocking(model->exportWorkbook("working"));
  ASSERT_TRUE(spinUntil([&] { return model->error().has_value(); }));
  EXPECT_EQ(model->error()->rfind("Не удалось сохранить файл «Resources»: ", 0), 0u) << *model->error();
  EXPECT_TRUE(fs::is_directory(folder / "Resources"));
  model->setError(std::nullopt);
  answer("export", "Неизвестный вид выгрузки.");
  async::runBlocking(model->exportWorkbook("нет такой"));
  EXPECT_EQ(model->error(), std::optional<std::string>("Неизвестный вид выгрузки."));
  EXPECT_EQ(dialogs->saved.size(), 3u);
}
