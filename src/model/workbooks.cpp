// Workbooks between the planning day and the user's disk: an order workbook opened as the new day (its
// coordinates go into the address memory), the plan rendered as a workbook, a table as a one-sheet workbook, and
// the save dialog with the atomic write that every export ends in.
#include <glib.h>

#include <algorithm>
#include <cmath>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/api/failure.h"
#include "core/async/worker.h"
#include "core/base/dorvik_date.h"
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

using Chosen = std::optional<std::string>;

// Answers the dialog's callback once; a dialog that drops its callback unanswered counts as cancelled, so the
// waiting import never hangs.
struct DialogAnswer {
  using Handoff = async::detail::Handoff<Chosen>;
  std::shared_ptr<Handoff> handoff;

  void give(Chosen path) {
    if (!handoff || !handoff->claim()) return;
    handoff->result.setValue(std::move(path));
    Handoff::resume(handoff);
    handoff.reset();
  }
  ~DialogAnswer() { give(std::nullopt); }
};

// Shows the open dialog and waits for its answer: the chosen path, or none when cancelled.
class OpenDialog {
 public:
  OpenDialog(std::shared_ptr<FileDialogs> dialogs, std::vector<std::string> extensions)
      : dialogs_(std::move(dialogs)), extensions_(std::move(extensions)) {}
  void bindEnv(const async::Env& env) { env_ = env; }
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h) {
    using Handoff = DialogAnswer::Handoff;
    auto handoff = std::make_shared<Handoff>();
    handoff_ = handoff;
    handoff->handle = h;
    handoff->context = env_.context ? env_.context : async::currentContext();
    if (env_.token.isCancelled()) {
      Handoff::cancelled(handoff);
      return;
    }
    Handoff::watch(handoff, env_.token);
    auto answer = std::make_shared<DialogAnswer>();
    answer->handoff = handoff;
    dialogs_->openFile(extensions_, [answer](Chosen path) { answer->give(std::move(path)); });
  }
  Chosen await_resume() {
    auto handoff = std::move(handoff_);
    handoff->cancelSubscription.reset();
    return handoff->result.take();
  }

 private:
  std::shared_ptr<FileDialogs> dialogs_;
  std::vector<std::string> extensions_;
  async::Env env_;
  std::shared_ptr<DialogAnswer::Handoff> handoff_;
};

// The file as the component takes it: its Base64 text, made on the reading thread so that the bytes themselves
// are let go there.
struct ReadWorkbook {
  std::string base64;
};

// The address upload that follows an import, in a task of its own: the import does not wait for it.
async::Task<void> uploadAfterImport(std::shared_ptr<AppModel> model, std::string generation) {
  if (model->generation() != generation) co_return;
  co_await model->flushAddresses();
}

// Writes a chosen file off the main thread; a failure is shown by the model.
async::Task<void> writeChosenFile(std::shared_ptr<AppModel> model, std::shared_ptr<const std::string> bytes,
                                  std::string path) {
  auto worker = std::make_shared<async::SerialWorker>("save-file");
  std::exception_ptr failure;
  try {
    auto job = [bytes, path] { writeFileAtomically(path, *bytes); };
    co_await worker->run(job);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (auto text = failureText(failure)) model->setError(std::move(*text));
  }
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
  const std::string token = generation_;
  std::shared_ptr<FileDialogs> dialogs = fileDialogs_;
  if (!dialogs) {
    setError(std::string(kNoDialogs));
    co_return;
  }

  std::vector<std::string> extensions{"xlsx", "xls"};
  OpenDialog dialog(dialogs, std::move(extensions));
  Chosen path = co_await dialog;
  if (!path || generation_ != token) co_return;
  // The dialog is modeless: another import (or a batch search) may have begun while it was open.
  if (busy() || geocoding()) co_return;

  setBusy(true);
  setStatus(kReading);
  auto finish = [this, &token] {
    if (generation_ == token) setBusy(false);
  };

  // The size is checked before the file is read, and the read itself is bounded (see readBoundedFile).
  std::exception_ptr failure;
  ReadWorkbook file;
  {
    auto reader = std::make_shared<async::SerialWorker>("read-workbook");
    const std::string chosen = *path;
    try {
      auto job = [chosen] { return ReadWorkbook{encodeBase64(readBoundedFile(chosen, kWorkbookLimit))}; };
      file = co_await reader->run(job);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) {
    if (generation_ == token) {
      if (auto text = failureText(failure)) setError(std::move(*text));
    }
    finish();
    co_return;
  }
  if (generation_ != token) {
    finish();
    co_return;
  }

  setSelectedOrders({});
  setEditRevisions({});
  char* displayName = g_filename_display_basename(path->c_str());
  JSONValue payload = JSONValue::object(
      {{"base64", std::move(file.base64)}, {"name", std::string(displayName)}, {"routeDate", DorvikDate::day(date_)}});
  g_free(displayName);
  // The document this very change installed: later changes may already have replaced the current one.
  std::string action = "import";
  std::optional<JSONValue> installed = co_await change(std::move(action), std::move(payload));
  payload = JSONValue();
  if (!installed || generation_ != token) {
    finish();
    co_return;
  }
  setStatus(kSavingAddresses);

  const JSONValue book = (*installed)["importedBook"];
  installed.reset();
  // A row that repeats an earlier row's address and point would store the very same entry again: order books
  // name the same address on many rows, and each remember costs two trips to the engine.
  std::set<std::tuple<std::string, double, double>> remembered;
  for (const JSONValue& entry : book.array()) {
    if (generation_ != token) {
      finish();
      co_return;
    }
    const std::optional<double> lat = entry["lat"].doubleValue();
    const std::optional<double> lon = entry["lon"].doubleValue();
    if (!lat || !lon || !std::isfinite(*lat) || !std::isfinite(*lon)) continue;
    std::string address = entry["address"].string();
    if (!remembered.emplace(address, *lat, *lon).second) continue;
    std::string source = "file";
    std::string name;
    co_await remember(std::move(address), *lat, *lon, std::move(source), std::move(name), false, false);
  }
  if (generation_ != token) {
    finish();
    co_return;
  }

  if (std::shared_ptr<EncryptedCache> cache = cache_) {
    JSONValue pending = pendingAddressesValue();
    try {
      std::string entryName = "pendingAddresses";
      co_await cache->write(std::move(pending), std::move(entryName));
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      if (generation_ == token) {
        if (auto text = failureText(failure)) setError(std::move(*text));
      }
      finish();
      co_return;
    }
  }
  if (generation_ != token) {
    finish();
    co_return;
  }
  setStatus(kAddressesSaved);
  async::spawn(uploadAfterImport(self, token));
  finish();
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
  std::exception_ptr failure;
  JSONValue result;
  try {
    result = co_await engine->run(std::move(action), std::move(payload));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (auto text = failureText(failure)) setError(std::move(*text));
    co_return;
  }
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
  auto data = std::make_shared<const std::string>(std::move(bytes));
  std::weak_ptr<AppModel> weak = weak_from_this();
  dialogs->saveFile(std::move(name), [weak, data](Chosen path) {
    auto model = weak.lock();
    if (!model || !path) return;
    async::spawn(writeChosenFile(std::move(model), data, std::move(*path)));
  });
}

}  // namespace dorvik
