// Local history of the planning day: named snapshots of the planner component's archive, newest first, in the
// model and in the workspace cache. Cache entries: "history" (the list), "history-entry-<id>" (one archive each)
// and "history-workbook-<sha256>" (a source workbook, stored once however many snapshots share it).
#include <cctype>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/digest.h"
#include "core/base/dorvik_date.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"

namespace dorvik {

namespace {

const char* const kSaveRunning = "Дождитесь сохранения текущего снимка.";
const char* const kWaitForAction = "Дождитесь завершения текущего действия.";
const char* const kSnapshotMissing = "Снимок не найден в локальной истории.";
const char* const kWorkbookMissing = "Исходная книга снимка недоступна. Текущий план не изменён.";
const char* const kBeforeRestore = "Перед восстановлением истории";
const char* const kRestored = "Сохранённое планирование открыто. Публикация курьерам выполняется отдельно.";

std::string upperUUID() {
  std::string id = randomUUID();
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return id;
}

}  // namespace

async::Task<void> AppModel::saveSnapshot(std::string title) {
  auto self = shared_from_this();
  if (!engine_) co_return;
  if (planner_["orders"].array().empty()) co_return;
  if (savingHistory()) throw DorvikError(kSaveRunning, 0);
  co_await workspaceScope();
  FlagHold saving = hold(Property::savingHistory);
  // The store of the workspace the snapshot was taken in.
  std::shared_ptr<EncryptedCache> cache = cache_;
  std::shared_ptr<PlannerEngine> engine = engine_;

  JSONValue archive = co_await engine->run("archive", JSONValue(JSONObject{}));
  const std::string id = upperUUID();
  JSONValue entry = JSONValue::object({
      {"id", id},
      {"title", title},
      {"createdAt", utcTimestamp(std::chrono::system_clock::now())},
      {"date", archive["routeDate"]},
      {"fileName", archive["fileName"]},
      {"orders", JSONValue(static_cast<double>(archive["orders"].array().size()))},
      {"routes", JSONValue(static_cast<double>(archive["routes"].array().size()))},
      {"archive", archive},
  });

  if (cache) {
    const std::string workbook = archive["workbook"].string();
    if (!workbook.empty()) {
      const std::string name = "history-workbook-" + sha256Hex(workbook);
      std::optional<JSONValue> stored = co_await cache->read(name);
      if (!stored) {
        JSONValue book = archive["workbook"];
        co_await cache->write(std::move(book), name);
      }
      archive.set("workbook", nullptr);
      archive.set("workbookRef", name);
    }
    const std::string ref = "history-entry-" + id;
    co_await cache->write(archive, ref);
    entry.set("archive", nullptr);
    entry.set("archiveRef", ref);

    JSONValue list = JSONValue(JSONArray{entry});
    for (const JSONValue& older : history_) list.push(older);
    co_await cache->write(std::move(list), "history");
  }

  std::vector<JSONValue> updated;
  updated.reserve(history_.size() + 1);
  updated.push_back(std::move(entry));
  updated.insert(updated.end(), history_.begin(), history_.end());
  setHistory(std::move(updated));
}

async::Task<void> AppModel::restoreSnapshot(JSONValue entry) {
  auto self = shared_from_this();
  if (savingHistory() || busy() || geocoding()) throw DorvikError(kWaitForAction, 0);
  co_await workspaceScope();
  std::shared_ptr<EncryptedCache> cache = cache_;
  JSONValue archive = entry["archive"];

  if (archive.isNull() && cache) {
    std::optional<JSONValue> saved = co_await cache->read(entry["archiveRef"].string());
    if (saved) archive = std::move(*saved);
  }
  if (archive.isNull()) throw DorvikError(kSnapshotMissing, 0);

  const std::string workbookRef = archive["workbookRef"].string();
  if (!workbookRef.empty()) {
    if (!cache) throw DorvikError(kWorkbookMissing, 0);
    std::optional<JSONValue> book = co_await cache->read(workbookRef);
    if (!book) throw DorvikError(kWorkbookMissing, 0);
    archive.set("workbook", std::move(*book));
  }

  co_await saveSnapshot(kBeforeRestore);
  const bool loaded = co_await mutate("load", std::move(archive));
  if (loaded) {
    setSelectedOrders({});
    setEditRevisions({});
    setDate(DorvikDate::parse(entry["date"].string()));
    setPage(PanelPage::planning);
    setStatus(kRestored);
  }
}

}  // namespace dorvik
