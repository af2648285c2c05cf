// The secure store over the Secret Service (libsecret). Every item carries our schema and one attribute, the
// account name; the value is stored as binary data, so any byte (zero included) survives. Items go to the default
// collection (the user's login keyring), which persists across sessions; the in-memory session collection would
// lose refresh tokens and cache keys at logout.
//
// The SecretService proxy is used directly (not the secret_password_* helpers), so a missing Secret Service is an
// error and never a fallback to some other storage.
#include "core/store/secure_store.h"

#include <glib.h>
#include <libsecret/secret.h>

#include <cerrno>
#include <memory>
#include <sstream>
#include <string_view>

#include "build_info.h"
#include "core/async/worker.h"
#include "core/base/digest.h"
#include "core/base/errors.h"
#include "core/base/files.h"
#include "core/base/glib_handles.h"

namespace dorvik {

namespace {

const SecretSchema* schema() {
  static const SecretSchema s = {BuildInfo::kApplicationId,
                                 SECRET_SCHEMA_NONE,
                                 {
                                     {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                     {nullptr, SecretSchemaAttributeType(0)},
                                 },
                                 0,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr};
  return &s;
}

// One worker for the whole store: calls run one at a time, off the caller's thread.
async::SerialWorker& storeWorker() {
  static auto* worker = new async::SerialWorker("secure-store");
  return *worker;
}

using ErrorPtr = GErrorPtr;
using ServicePtr = GObjectPtr<SecretService>;

struct ValueUnref {
  void operator()(SecretValue* v) const { secret_value_unref(v); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

struct TableUnref {
  void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
using TablePtr = std::unique_ptr<GHashTable, TableUnref>;

struct ItemListFree {
  void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};
using ItemListPtr = std::unique_ptr<GList, ItemListFree>;

[[noreturn]] void fail(const char* prefix, const GError* error, int fallback = -1) {
  // The libsecret / D-Bus error code (or the errno of a file) stands where the message shows a status number.
  int code = error ? error->code : fallback;
  if (error) g_debug("secure store: %s", error->message);
  throw DorvikError(std::string(prefix) + std::to_string(code) + ").", 0);
}

constexpr const char* kLocked = "Связка ключей заблокирована. Разблокируйте её и повторите попытку.";
constexpr const char* kReadFailed = "Связка ключей недоступна (";
constexpr const char* kAddFailed = "Не удалось сохранить данные в Связке ключей (";
constexpr const char* kUpdateFailed = "Не удалось обновить Связку ключей (";
constexpr const char* kDeleteFailed = "Не удалось удалить сохранённый вход (";

TablePtr attributesFor(const std::string& account) {
  GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  g_hash_table_insert(table, g_strdup("account"), g_strdup(account.c_str()));
  return TablePtr(table);
}

// The process-wide connection to the Secret Service, with an open transfer session. Throws with the given prefix
// when none is reachable.
ServicePtr connect(const char* failurePrefix) {
  GError* raw = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &raw);
  ErrorPtr error(raw);
  if (!service) fail(failurePrefix, error.get());
  return ServicePtr(service);
}

using CollectionPtr = GObjectPtr<SecretCollection>;

// The items of the account in every collection; the Secret Service is asked to unlock locked ones (the desktop
// then asks the user for the keyring's password). Items that stay locked are still listed.
ItemListPtr itemsOf(SecretService* service, const std::string& account, SecretSearchFlags extra, const char* prefix) {
  TablePtr attributes = attributesFor(account);
  GError* raw = nullptr;
  ItemListPtr items(secret_service_search_sync(service, schema(), attributes.get(),
                                               SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | extra),
                                               nullptr, &raw));
  ErrorPtr error(raw);
  if (error) fail(prefix, error.get());
  return items;
}

bool anyLocked(GList* items) {
  for (GList* it = items; it; it = it->next) {
    if (secret_item_get_locked(SECRET_ITEM(it->data))) return true;
  }
  return false;
}

// The default collection, where new items go (null when the Secret Service has none), with a request to unlock it
// when it is locked. It is found by asking the service for the alias, never through the alias's object path: the
// keyring daemon rewrites such paths on its bus thread from a table that its main thread replaces whenever a client
// connects, so that with many clients at once a call through it can name no collection at all. libsecret then asks
// to create a new default keyring, a prompt that nobody answers and that the store waits for without end.
CollectionPtr defaultCollection(SecretService* service, const char* prefix) {
  GError* raw = nullptr;
  CollectionPtr collection(
      secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw));
  ErrorPtr error(raw);
  if (error) fail(prefix, error.get());
  if (!collection || !secret_collection_get_locked(collection.get())) return collection;
  GList objects{collection.get(), nullptr, nullptr};
  raw = nullptr;
  secret_service_unlock_sync(service, &objects, nullptr, nullptr, &raw);
  ErrorPtr unlockError(raw);  // a declined prompt or a refusal leaves it locked; the caller asks
  if (unlockError) g_debug("secure store: unlock: %s", unlockError->message);
  return collection;
}

// True when the default collection is locked and stays locked after the Secret Service was asked to unlock it. Such
// a collection may hide its items: nothing can be said to be absent from it.
bool defaultCollectionStaysLocked(SecretService* service, const char* prefix) {
  CollectionPtr collection = defaultCollection(service, prefix);
  return collection && secret_collection_get_locked(collection.get());
}

// Withdrawn values: one line per value, the digest of the account and the digest of account and value, so that
// neither can be read back from the file.
std::string withdrawnPath() { return std::string(g_get_user_data_dir()) + "/Dorvik/withdrawn"; }

std::string accountMark(const std::string& account) { return sha256Hex(account); }
std::string valueMark(const std::string& account, const std::string& value) {
  return sha256Hex(account + '\n' + value);
}

std::string withdrawnLines(const char* failurePrefix) {
  try {
    return files::readWhole(withdrawnPath(), 1 << 20).value_or(std::string());
  } catch (const files::FileError& e) {
    fail(failurePrefix, nullptr, e.code());
  }
}

bool withdrawn(const std::string& account, const std::string& value, const char* failurePrefix) {
  const std::string lines = withdrawnLines(failurePrefix);
  return !lines.empty() && lines.find(accountMark(account) + " " + valueMark(account, value) + "\n") != std::string::npos;
}

void keepWithdrawn(std::string lines) {
  try {
    const std::string folder = std::string(g_get_user_data_dir()) + "/Dorvik";
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) throw files::FileError(errno, folder);
    files::writeAtomically(withdrawnPath(), {lines}, 0600);
  } catch (const files::FileError& e) {
    fail(kDeleteFailed, nullptr, e.code());
  }
}

// Forgets the marks of an account whose item is gone. A mark that stays only costs a digest comparison.
void dropWithdrawn(const std::string& account) {
  try {
    const std::string lines = withdrawnLines(kDeleteFailed);
    const std::string prefix = accountMark(account) + " ";
    if (lines.find(prefix) == std::string::npos) return;
    std::istringstream in(lines);
    std::string kept, line;
    while (std::getline(in, line)) {
      if (!line.empty() && !line.starts_with(prefix)) kept += line + "\n";
    }
    keepWithdrawn(std::move(kept));
  } catch (const DorvikError& e) {
    g_warning("secure store: the withdrawn marks were left as they are: %s", e.what());
  }
}

ValuePtr valueOf(const std::string& bytes) {
  return ValuePtr(secret_value_new(bytes.data(), static_cast<gssize>(bytes.size()), "application/octet-stream"));
}

}  // namespace

std::optional<std::string> SecureStore::readSync(const std::string& account) {
  ServicePtr service = connect(kReadFailed);
  // A locked keyring is not a missing item: callers would take the secret for lost (a cache would start afresh
  // with a new key). What stays locked after the unlock request is refused instead.
  ItemListPtr items = itemsOf(service.get(), account, SECRET_SEARCH_LOAD_SECRETS, kReadFailed);
  for (GList* it = items.get(); it; it = it->next) {
    SecretItem* item = SECRET_ITEM(it->data);
    if (secret_item_get_locked(item)) continue;
    ValuePtr value(secret_item_get_secret(item));
    if (!value) continue;
    gsize length = 0;
    const gchar* data = secret_value_get(value.get(), &length);
    if (!data) continue;
    std::string bytes(data, length);
    if (!withdrawn(account, bytes, kReadFailed)) return bytes;
    // A withdrawn value reads as none; now that the keyring is open, the item goes.
    removeSync(account);
    return std::nullopt;
  }
  if (anyLocked(items.get()) || defaultCollectionStaysLocked(service.get(), kReadFailed)) {
    throw DorvikError(kLocked, 0);
  }
  return std::nullopt;
}

SecureStore::Removal SecureStore::removeSync(const std::string& account) {
  ServicePtr service = connect(kDeleteFailed);
  // Deleting by attributes alone would pass over items of a locked collection and report nothing: the items are
  // looked up (locked ones included, with a request to unlock them) and deleted one by one.
  ItemListPtr items = itemsOf(service.get(), account, SECRET_SEARCH_NONE, kDeleteFailed);
  if (anyLocked(items.get())) return Removal::locked;
  if (!items) {
    return defaultCollectionStaysLocked(service.get(), kDeleteFailed) ? Removal::locked : Removal::absent;
  }
  for (GList* it = items.get(); it; it = it->next) {
    GError* raw = nullptr;
    const gboolean deleted = secret_item_delete_sync(SECRET_ITEM(it->data), nullptr, &raw);
    ErrorPtr error(raw);
    if (!deleted) fail(kDeleteFailed, error.get());
  }
  dropWithdrawn(account);
  return Removal::removed;
}

void SecureStore::withdrawSync(const std::string& account, const std::string& value) {
  if (withdrawn(account, value, kDeleteFailed)) return;
  keepWithdrawn(withdrawnLines(kDeleteFailed) + accountMark(account) + " " + valueMark(account, value) + "\n");
}

void SecureStore::writeSync(const std::optional<std::string>& bytes, const std::string& account) {
  if (!bytes) {
    if (removeSync(account) == Removal::locked) throw DorvikError(kLocked, 0);
    return;
  }
  TablePtr attributes = attributesFor(account);

  ValuePtr value = valueOf(*bytes);
  // Update first: the items of this account (normally one), unlocking them when needed.
  ServicePtr service = connect(kUpdateFailed);
  ItemListPtr items = itemsOf(service.get(), account, SECRET_SEARCH_NONE, kUpdateFailed);
  if (anyLocked(items.get())) throw DorvikError(kLocked, 0);
  GError* raw = nullptr;
  if (items) {
    for (GList* it = items.get(); it; it = it->next) {
      raw = nullptr;
      if (!secret_item_set_secret_sync(SECRET_ITEM(it->data), value.get(), nullptr, &raw)) {
        ErrorPtr error(raw);
        fail(kUpdateFailed, error.get());
      }
    }
    return;
  }

  // No such item yet: add it to the default collection, addressed by its own path.
  CollectionPtr collection = defaultCollection(service.get(), kAddFailed);
  if (collection) {
    if (secret_collection_get_locked(collection.get())) throw DorvikError(kLocked, 0);
    raw = nullptr;
    GObjectPtr<SecretItem> item(secret_item_create_sync(collection.get(), schema(), attributes.get(), account.c_str(),
                                                        value.get(), SECRET_ITEM_CREATE_REPLACE, nullptr, &raw));
    ErrorPtr error(raw);
    if (item) return;
    if (g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) throw DorvikError(kLocked, 0);
    fail(kAddFailed, error.get());
  }
  // No default keyring at all: the Secret Service is asked to make one (the desktop asks the user for its password).
  raw = nullptr;
  gboolean stored = secret_service_store_sync(service.get(), schema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                              account.c_str(), value.get(), nullptr, &raw);
  ErrorPtr error(raw);
  if (!stored) fail(kAddFailed, error.get());
}

async::Task<std::optional<std::string>> SecureStore::read(std::string account) {
  auto job = [account] { return readSync(account); };
  auto call = storeWorker().run(std::move(job));
  std::optional<std::string> result = co_await call;
  co_return result;
}

async::Task<SecureStore::Removal> SecureStore::remove(std::string account) {
  auto job = [account] { return removeSync(account); };
  auto call = storeWorker().run(std::move(job));
  Removal result = co_await call;
  co_return result;
}

async::Task<void> SecureStore::withdraw(std::string account, std::string value) {
  auto job = [account, value] { withdrawSync(account, value); };
  auto call = storeWorker().run(std::move(job));
  co_await call;
}

async::Task<void> SecureStore::write(std::optional<std::string> bytes, std::string account) {
  auto job = [bytes, account] { writeSync(bytes, account); };
  auto call = storeWorker().run(std::move(job));
  co_await call;
}

}  // namespace dorvik
