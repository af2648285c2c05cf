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

#include <memory>

#include "build_info.h"
#include "core/async/worker.h"
#include "core/base/errors.h"

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

struct ErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct ObjectUnref {
  void operator()(gpointer p) const { g_object_unref(p); }
};
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;

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

[[noreturn]] void fail(const char* prefix, const GError* error) {
  // The libsecret / D-Bus error code stands where the message shows a status number.
  int code = error ? error->code : -1;
  if (error) g_debug("secure store: %s", error->message);
  throw DorvikError(std::string(prefix) + std::to_string(code) + ").", 0);
}

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

ValuePtr valueOf(const std::string& bytes) {
  return ValuePtr(secret_value_new(bytes.data(), static_cast<gssize>(bytes.size()), "application/octet-stream"));
}

}  // namespace

std::optional<std::string> SecureStore::readSync(const std::string& account) {
  ServicePtr service = connect(kReadFailed);
  TablePtr attributes = attributesFor(account);
  GError* raw = nullptr;
  ValuePtr value(secret_service_lookup_sync(service.get(), schema(), attributes.get(), nullptr, &raw));
  ErrorPtr error(raw);
  if (error) fail(kReadFailed, error.get());
  if (!value) return std::nullopt;
  gsize length = 0;
  const gchar* data = secret_value_get(value.get(), &length);
  if (!data) return std::nullopt;
  return std::string(data, length);
}

void SecureStore::writeSync(const std::optional<std::string>& bytes, const std::string& account) {
  TablePtr attributes = attributesFor(account);
  if (!bytes) {
    ServicePtr service = connect(kDeleteFailed);
    GError* raw = nullptr;
    secret_service_clear_sync(service.get(), schema(), attributes.get(), nullptr, &raw);  // false: nothing there
    ErrorPtr error(raw);
    if (error) fail(kDeleteFailed, error.get());
    return;
  }

  ValuePtr value = valueOf(*bytes);
  // Update first: the items of this account (normally one), unlocking them when needed.
  ServicePtr service = connect(kUpdateFailed);
  GError* raw = nullptr;
  ItemListPtr items(secret_service_search_sync(service.get(), schema(), attributes.get(),
                                               SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK), nullptr,
                                               &raw));
  ErrorPtr searchError(raw);
  if (searchError) fail(kUpdateFailed, searchError.get());
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

  // No such item yet: add it to the default collection.
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

async::Task<void> SecureStore::write(std::optional<std::string> bytes, std::string account) {
  auto job = [bytes, account] { writeSync(bytes, account); };
  auto call = storeWorker().run(std::move(job));
  co_await call;
}

}  // namespace dorvik
