// Workbooks between the planning day and the user's disk: an order workbook opened as the new day (its
// coordinates go into the address memory), the plan rendered as a workbook, a table as a one-sheet workbook, and
// the save dialog with the atomic write that every export ends in.
#include <glib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/async/attempt.h"
#include "core/async/worker.h"
#include "core/base/base64.h"
#include "core/base/dorvik_date.h"
#include "core/base/digest.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"

namespace dorvik {

namespace {

const char* const kReading = "Читаем Excel…";
const char* const kSavingAddresses = "Файл открыт. Сохраняем адресный справочник…";
const char* const kAddressesSaved = "Файл открыт. Адресный справочник сохранён на компьютере.";
const char* const kNotCreated = "Не удалось создать файл.";
const char* const kNoDialogs = "Окно выбора файла недоступно.";
const char* const kNotOpened = "Файл не открыт.";

using Chosen = FileDialogs::Chosen;

// The chosen file as the component takes it: its Base64 text, and the name of the cache entry that keeps it for the
// plan's history ("history-workbook-" and the text's SHA-256, the name the history gives it too).
struct ReadBook {
  std::string base64;
  std::string entry;
};

// Reads the chosen file off the main thread, the Base64 and its digest made on the reading thread so that the
// bytes themselves are let go there. The size is checked before the file is read, and the read itself is bounded
// (see readBoundedFile).
async::Task<ReadBook> readWorkbook(std::string path) {
  auto reader = std::make_shared<async::SerialWorker>("read-workbook");
  auto job = [path = std::move(path)] {
    ReadBook book{encodeBase64(readBoundedFile(path, AppModel::kWorkbookLimit)), {}};
    book.entry = "history-workbook-" + sha256Hex(book.base64);
    return book;
  };
  ReadBook book = co_await reader->run(job);
  co_return book;
}

// Stores the source workbook in the workspace cache under its entry; a failure is shown (the plan then names an
// entry the history will not find, and says so when a snapshot is opened).
async::Task<void> keepWorkbook(std::shared_ptr<AppModel> model, std::shared_ptr<EncryptedCache> cache, JSONValue book,
                               std::string entry) {
  auto written = co_await async::attempt(cache->write(std::move(book), std::move(entry)));
  model->reportIfFailed(written);
}

// Remembers the coordinates an imported book carries, then keeps the waiting addresses in the cache. The points
// are remembered in order, their keys computed in one trip to the engine for the whole book (a book of a hundred
// thousand orders names thousands of addresses); a row that repeats an earlier row's address and point would store
// the very same entry again and is left out.
async::Task<void> rememberBookAddresses(std::shared_ptr<AppModel> model, JSONValue book) {
  std::set<std::tuple<std::string, double, double>> remembered;
  std::vector<AppModel::FoundAddress> found;
  for (const JSONValue& entry : book.array()) {
    const std::optional<double> lat = entry["lat"].doubleValue();
    const std::optional<double> lon = entry["lon"].doubleValue();
    if (!lat || !lon || !std::isfinite(*lat) || !std::isfinite(*lon)) continue;
    std::string address = entry["address"].string();
    if (!remembered.emplace(address, *lat, *lon).second) continue;
    found.push_back(AppModel::FoundAddress{std::move(address), *lat, *lon, "file", ""});
  }
  co_await model->rememberAll(std::move(found), false, false);
  if (std::shared_ptr<EncryptedCache> cache = model->cache()) {
    JSONValue pending = model->pendingAddressesValue();
    std::string entryName = "pendingAddresses";
    co_await cache->write(std::move(pending), std::move(entryName));
  }
}

// Asks where to save the bytes, then writes them there off the main thread; a failure is shown by the model.
async::Task<void> saveChosenFile(std::weak_ptr<AppModel> weak, std::shared_ptr<FileDialogs> dialogs, std::string bytes,
                                 std::string name) {
  Chosen path = co_await dialogs->saveFile(std::move(name));
  auto model = weak.lock();
  if (!model || !path) co_return;
  auto worker = std::make_shared<async::SerialWorker>("save-file");
  auto job = [bytes = std::move(bytes), path = *path] { writeFileAtomically(path, bytes); };
  auto written = co_await async::attempt(worker->run(job));
  model->reportIfFailed(written);
}

// The first `count` characters (code points) of a text; invalid UTF-8 is mended first.
std::string firstCharacters(const std::string& text, long count) {
  char* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  const char* end = g_utf8_offset_to_pointer(valid, std::min<long>(count, g_utf8_strlen(valid, -1)));
  std::string out(valid, static_cast<std::size_t>(end - valid));
  g_free(valid);
  return out;
}

}  // namespace

async::Task<void> AppModel::importWorkbook() {
  auto self = shared_from_this();
  if (busy() || geocoding()) co_return;
  std::shared_ptr<FileDialogs> dialogs = fileDialogs_;
  if (!dialogs) {
    setError(std::string(kNoDialogs));
    co_return;
  }
  // Another workspace while the dialog is open or the file is read: the file is dropped.
  co_await workspaceScope(async::ScopeEnd::quiet);
  std::vector<std::string> extensions{"xlsx", "xls"};
  Chosen path = co_await dialogs->openFile(std::move(extensions));
  if (!path) co_return;
  // The dialog is modeless: another import (or a batch search) may have begun while it was open.
  if (busy() || geocoding()) co_return;
  FlagHold importing = hold(Property::busy);
  setStatus(kReading);
  // A refused import ends with its refusal on the status line too, not with the reading that came before it.
  const std::optional<std::string> errorBefore = error_;
  auto refused = [this, &errorBefore] {
    setStatus(error_ && error_ != errorBefore ? *error_ : std::string(kNotOpened));
  };

  auto read = co_await async::attempt(readWorkbook(*path));
  if (reportIfFailed(read)) {
    refused();
    co_return;
  }
  setSelectedOrders({});
  setEditRevisions({});
  char* displayName = g_filename_display_basename(path->c_str());
  JSONValue base64(std::move(read->base64));
  JSONValue payload = JSONValue::object(
      {{"base64", base64}, {"name", std::string(displayName)}, {"routeDate", DorvikDate::day(date_)}});
  g_free(displayName);
  // With a workspace cache the source workbook is stored once under its own entry, and the plan keeps only that
  // entry's name: every later change of the plan then stores a plan, not the workbook again. The entry is written
  // before the plan that names it (the cache writes in order) while the component reads the book.
  if (std::shared_ptr<EncryptedCache> cache = cache_) {
    payload.set("workbookRef", read->entry);
    async::spawn(keepWorkbook(self, std::move(cache), std::move(base64), read->entry));
  }
  base64 = JSONValue();
  // The document this very change installed: later changes may already have replaced the current one.
  std::string action = "import";
  std::optional<JSONValue> installed = co_await change(std::move(action), std::move(payload));
  if (!installed) {
    refused();
    co_return;
  }
  setStatus(kSavingAddresses);

  // What the import found stays on the status line after the address memory's own words.
  const std::string found = (*installed)["status"].string();
  JSONValue book = (*installed)["importedBook"];
  installed.reset();
  auto remembered = co_await async::attempt(rememberBookAddresses(self, std::move(book)));
  if (reportIfFailed(remembered)) co_return;
  setStatus(found.empty() ? std::string(kAddressesSaved) : std::string(kAddressesSaved) + " " + found);
  // The address upload that follows, in a task of its own: the import does not wait for it.
  async::spawn(flushAddresses());
}

async::Task<void> AppModel::exportWorkbook(std::string kind) {
  auto self = shared_from_this();
  JSONValue request = JSONValue::object({{"kind", std::move(kind)}});
  co_await renderWorkbook("export", std::move(request));
}

async::Task<void> AppModel::exportRows(JSONArray rows, std::string name, std::string fileName) {
  auto self = shared_from_this();
  if (fileName.empty()) fileName = name + ".xlsx";
  JSONValue payload = JSONValue::object(
      {{"rows", JSONValue(std::move(rows))}, {"name", firstCharacters(name, 31)}, {"fileName", std::move(fileName)}});
  co_await renderWorkbook("sheet", std::move(payload));
}

async::Task<void> AppModel::renderWorkbook(std::string action, JSONValue payload) {
  auto self = shared_from_this();
  std::shared_ptr<PlannerEngine> engine = engine_;
  if (!engine) co_return;
  auto rendered = co_await async::attempt(engine->run(std::move(action), std::move(payload)));
  if (reportIfFailed(rendered)) co_return;
  const JSONValue& result = *rendered;
  // An answer that is not exact Base64 saves nothing (never a shortened file), and says so: an export that
  // silently saved nothing would look like success.
  std::optional<std::string> bytes = decodeBase64(result["base64"].stringView());
  if (!result["base64"].isString() || !bytes) {
    setError(std::string(kNotCreated));
    co_return;
  }
  saveFile(std::move(*bytes), result["name"].string());
}

void AppModel::saveFile(std::string bytes, std::string name) {
  std::shared_ptr<FileDialogs> dialogs = fileDialogs_;
  if (!dialogs) {
    setError(std::string(kNoDialogs));
    return;
  }
  async::spawn(saveChosenFile(weak_from_this(), std::move(dialogs), std::move(bytes), std::move(name)));
}

}  // namespace dorvik
