// EncryptedCache: the local copy of one workspace (server, company, user and depot), as named JSON values, each
// sealed with AES-256-GCM in a file of its own under $XDG_DATA_HOME/Dorvik/Accounts/<scope digest>/. The key of the
// workspace lives in the secure store under "cache-" + scope digest.
//
// An actor: every call runs on the cache's own worker thread, one at a time, in the order made, and resumes the
// caller on its context. Cancelling the caller's token ends its wait with CancelledError; a write already handed
// to the worker still completes.
//
// Several processes of the user may hold caches of one workspace (a second instance, a crash while it wrote): a
// lock file beside the folder ("<scope digest>.lock") is held exclusively while a cache opens and shared by every
// write, so they agree on one key, and the temporary files of writes that were killed half-way are removed when a
// cache opens.
//
//   auto cache = co_await EncryptedCache::open(scope);
//   std::optional<JSONValue> plan = co_await cache->read("planner");
//   co_await cache->write(plan, "planner");
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/async/task.h"
#include "core/base/owned_text.h"
#include "core/cache/sealed_file.h"
#include "core/json/json_value.h"

namespace dorvik {

namespace async {
class SerialWorker;
}

class EncryptedCache {
 public:
  // Opens (creating when needed) the cache of a workspace scope: reads its key from the secure store, or makes
  // and stores a new one, and creates the folder (owner only). When the key is gone but the folder still holds
  // sealed entries, that folder is kept aside as "<folder>.lost-<UTC time>" and the workspace starts empty; a
  // locked keyring is no lost key (the store refuses). Throws the secure store's DorvikError, DorvikError
  // "Не удалось создать ключ локальных данных." or CacheError.
  static async::Task<std::shared_ptr<EncryptedCache>> open(std::string scope);

  // The stored value, or none when the entry was never written. A damaged, altered, misplaced or foreign file
  // throws CacheError (and stays as it is until the next write of that name).
  async::Task<std::optional<JSONValue>> read(std::string name);
  // Replaces the entry, atomically and durably. A non-finite number throws JSONEncodeError and writes nothing.
  async::Task<void> write(JSONValue value, std::string name);
  // Moves an entry's file aside in the folder, as "<entry file name>.damaged-<UTC time>": the entry then reads as
  // never written, and its bytes are kept. Throws CacheError when the file cannot be moved.
  async::Task<void> setAside(std::string name);
  // The same for a value already written as JSON text by a trusted encoder (the planner engine's archive, a
  // hundred megabytes for the largest plans: decoding it only to encode it again would double the memory).
  async::Task<void> writeText(OwnedText json, std::string name);

  // The workspace folder.
  const std::string& folder() const;
  // True when this opening found the key missing (or not a key) and kept the folder's earlier entries aside: the
  // workspace starts empty, and its user is to be told.
  bool keptAsideForLostKey() const;

  // 64 lowercase hex digits of SHA-256 of the scope text.
  static std::string scopeDigest(std::string_view scope);
  // The secure store account of a scope's key.
  static std::string keyAccount(std::string_view scope);
  // The file name of an entry: SHA-256 of the name, then ".sealed".
  static std::string entryFileName(std::string_view name);

  struct State;
  EncryptedCache(std::shared_ptr<const State> state, std::shared_ptr<async::SerialWorker> worker);
  ~EncryptedCache();

 private:
  std::shared_ptr<const State> state_;
  std::shared_ptr<async::SerialWorker> worker_;
};

}  // namespace dorvik
