// Runs against the real Secret Service of the test session (scripts/with-session.sh).
#include <gtest/gtest.h>
#include <glib.h>
#include <libsecret/secret.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/base/errors.h"
#include "core/store/secure_store.h"

using namespace dorvik;

namespace {

// A fresh account name per test run, so runs in parallel or one after another never meet.
std::string uniqueAccount(const std::string& stem) {
  static std::atomic<int> counter{0};
  g_autofree gchar* uuid = g_uuid_string_random();
  return stem + ":" + uuid + ":" + std::to_string(counter++);
}

std::optional<std::string> readBlocking(const std::string& account) {
  return async::runBlocking(SecureStore::read(account));
}
void writeBlocking(std::optional<std::string> bytes, const std::string& account) {
  async::runBlocking(SecureStore::write(std::move(bytes), account));
}

}  // namespace

TEST(SecureStore, StoresReplacesAndDeletesAnItem) {
  const std::string account = uniqueAccount("refresh:https://example.test/api");
  EXPECT_EQ(readBlocking(account), std::nullopt);

  writeBlocking(std::string("first token"), account);
  EXPECT_EQ(readBlocking(account), std::optional<std::string>("first token"));

  writeBlocking(std::string("second, longer token"), account);
  EXPECT_EQ(readBlocking(account), std::optional<std::string>("second, longer token"));

  writeBlocking(std::nullopt, account);
  EXPECT_EQ(readBlocking(account), std::nullopt);
}

// The keyring daemon resolves alias paths (/org/freedesktop/secrets/aliases/...) on its bus thread from a table its
// main thread replaces whenever a client connects; a store through one could find no collection and wait for ever on
// a prompt to create a new keyring. The store names the default collection by its own path.
TEST(SecureStore, NewItemsGoToTheDefaultCollectionByItsOwnPath) {
  struct Calls {
    std::mutex lock;
    std::vector<std::string> seen;  // "member path"
  };
  static Calls calls;  // the filter may still run on the bus thread for a moment after it is removed
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  const guint filter = g_dbus_connection_add_filter(
      bus,
      [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) -> GDBusMessage* {
        if (!incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
          const char* member = g_dbus_message_get_member(message);
          const char* path = g_dbus_message_get_path(message);
          std::lock_guard guard(calls.lock);
          calls.seen.push_back(std::string(member ? member : "") + " " + (path ? path : ""));
        }
        return message;
      },
      nullptr, nullptr);
  const std::string account = uniqueAccount("cache:https://example.test/api");
  writeBlocking(std::string("a new key"), account);
  writeBlocking(std::string("the key replaced"), account);
  g_dbus_connection_remove_filter(bus, filter);
  g_object_unref(bus);

  std::vector<std::string> seen;
  {
    std::lock_guard guard(calls.lock);
    seen.swap(calls.seen);
  }
  bool created = false;
  for (const std::string& call : seen) {
    EXPECT_EQ(call.find("/org/freedesktop/secrets/aliases/"), std::string::npos) << call;
    if (call.starts_with("CreateItem /org/freedesktop/secrets/collection/")) created = true;
  }
  EXPECT_TRUE(created) << "no CreateItem on a collection among " << seen.size() << " calls";
  EXPECT_EQ(readBlocking(account), std::optional<std::string>("the key replaced"));
  EXPECT_EQ(async::runBlocking(SecureStore::remove(account)), SecureStore::Removal::removed);
}

// The items the Secret Service holds for an account, whatever their schema.
int itemsOf(const std::string& account) {
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
  EXPECT_NE(service, nullptr);
  GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
  g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
  GList* items = secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
  const int count = static_cast<int>(g_list_length(items));
  g_list_free_full(items, g_object_unref);
  g_hash_table_unref(attributes);
  g_object_unref(service);
  return count;
}

TEST(SecureStore, ReplacingKeepsOneItemPerAccountAndRemovingTellsWhatItFound) {
  const std::string account = uniqueAccount("profile:https://example.test/api");
  EXPECT_EQ(async::runBlocking(SecureStore::remove(account)), SecureStore::Removal::absent);
  for (int i = 0; i < 3; ++i) writeBlocking("value " + std::to_string(i), account);
  EXPECT_EQ(itemsOf(account), 1);
  EXPECT_EQ(async::runBlocking(SecureStore::remove(account)), SecureStore::Removal::removed);
  EXPECT_EQ(itemsOf(account), 0);
  EXPECT_EQ(async::runBlocking(SecureStore::remove(account)), SecureStore::Removal::absent);
}

TEST(SecureStore, AWithdrawnValueReadsAsNoneAndItsItemGoesAtThatRead) {
  const std::string account = uniqueAccount("refresh:https://example.test/api");
  writeBlocking(std::string("refused"), account);
  async::runBlocking(SecureStore::withdraw(account, "refused"));
  EXPECT_EQ(readBlocking(account), std::nullopt);
  EXPECT_EQ(itemsOf(account), 0);
  // Another value of the account counts again, and withdrawing one it does not hold changes nothing.
  writeBlocking(std::string("refused"), account);
  EXPECT_EQ(readBlocking(account), std::optional<std::string>("refused"));
  writeBlocking(std::string("fresh"), account);
  async::runBlocking(SecureStore::withdraw(account, "other"));
  EXPECT_EQ(readBlocking(account), std::optional<std::string>("fresh"));
  writeBlocking(std::nullopt, account);
}

TEST(SecureStore, AccountsAreApart) {
  const std::string a = uniqueAccount("cache-a");
  const std::string b = uniqueAccount("cache-b");
  writeBlocking(std::string("A"), a);
  writeBlocking(std::string("B"), b);
  EXPECT_EQ(readBlocking(a), std::optional<std::string>("A"));
  EXPECT_EQ(readBlocking(b), std::optional<std::string>("B"));
  writeBlocking(std::nullopt, a);
  EXPECT_EQ(readBlocking(a), std::nullopt);
  EXPECT_EQ(readBlocking(b), std::optional<std::string>("B"));
  writeBlocking(std::nullopt, b);
}

TEST(SecureStore, BinaryValuesKeepEveryByte) {
  const std::string account = uniqueAccount("cache-binary");
  std::string key(32, '\0');
  for (int i = 0; i < 32; ++i) key[i] = static_cast<char>((i * 37) % 256);  // zero at 0, high bytes, zero inside
  key[17] = '\0';
  key[31] = '\0';
  writeBlocking(key, account);
  auto back = readBlocking(account);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->size(), 32u);
  EXPECT_EQ(*back, key);

  // Every byte value, twice, and an empty value (an empty item is not an absent one).
  std::string all;
  for (int round = 0; round < 2; ++round)
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  writeBlocking(all, account);
  EXPECT_EQ(readBlocking(account), std::optional<std::string>(all));
  writeBlocking(std::string(), account);
  EXPECT_EQ(readBlocking(account), std::optional<std::string>(std::string()));
  writeBlocking(std::nullopt, account);
}

TEST(SecureStore, MissingItems) {
  const std::string account = uniqueAccount("never-written");
  EXPECT_EQ(readBlocking(account), std::nullopt);
  EXPECT_NO_THROW(writeBlocking(std::nullopt, account));  // deleting an absent item succeeds
  EXPECT_EQ(readBlocking(account), std::nullopt);
}

TEST(SecureStore, SyncCallsFromAnotherThread) {
  const std::string account = uniqueAccount("sync");
  std::optional<std::string> seen;
  GThread* thread = g_thread_new(
      "store-test",
      [](gpointer data) -> gpointer {
        auto* acc = static_cast<std::string*>(data);
        SecureStore::writeSync(std::string("x\0y", 3), *acc);
        return nullptr;
      },
      const_cast<std::string*>(&account));
  g_thread_join(thread);
  seen = SecureStore::readSync(account);
  EXPECT_EQ(seen, std::optional<std::string>(std::string("x\0y", 3)));
  SecureStore::writeSync(std::nullopt, account);
}

TEST(SecureStore, CancelledCallEndsWithCancellation) {
  async::CancelToken token;
  token.cancel();
  EXPECT_THROW(async::runBlocking(SecureStore::read(uniqueAccount("cancelled")), token), CancelledError);
}

// The child half of the unreachable-service test: runs only in the process started below, whose session bus
// address points at nothing. Prints what each call threw.
TEST(SecureStoreUnreachable, Child) {
  if (!g_getenv("DORVIK_STORE_TEST_CHILD")) GTEST_SKIP() << "runs only as the child of Unreachable";
  auto report = [](const char* what, auto&& call) {
    try {
      call();
      printf("%s: no error\n", what);
    } catch (const DorvikError& e) {
      printf("%s: [%s] status %lld\n", what, e.message().c_str(), static_cast<long long>(e.status()));
    }
  };
  report("read", [] { (void)readBlocking("child"); });
  report("write", [] { writeBlocking(std::string("secret"), "child"); });
  report("delete", [] { writeBlocking(std::nullopt, "child"); });
  fflush(stdout);
}

TEST(SecureStoreUnreachable, EveryCallFailsWithItsMessage) {
  g_autofree gchar* self = g_file_read_link("/proc/self/exe", nullptr);
  ASSERT_NE(self, nullptr);
  g_autofree gchar* scratch = g_dir_make_tmp("dorvik-store-XXXXXX", nullptr);
  ASSERT_NE(scratch, nullptr);
  gchar** env = g_get_environ();
  env = g_environ_setenv(env, "DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/dorvik-no-bus", TRUE);
  env = g_environ_setenv(env, "DORVIK_STORE_TEST_CHILD", "1", TRUE);
  env = g_environ_setenv(env, "HOME", scratch, TRUE);  // anything written to disk would land here
  env = g_environ_setenv(env, "XDG_DATA_HOME", scratch, TRUE);
  env = g_environ_unsetenv(env, "DISPLAY");
  const gchar* argv[] = {self, "--gtest_filter=SecureStoreUnreachable.Child", nullptr};
  gchar* out = nullptr;
  gint status = 0;
  GError* error = nullptr;
  gboolean ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), env, G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr,
                              &status, &error);
  g_strfreev(env);
  ASSERT_TRUE(ran) << (error ? error->message : "");
  std::string output(out ? out : "");
  g_free(out);
  EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << output;
  EXPECT_NE(output.find("read: [Связка ключей недоступна ("), std::string::npos) << output;
  EXPECT_NE(output.find("write: [Не удалось обновить Связку ключей ("), std::string::npos) << output;
  EXPECT_NE(output.find("delete: [Не удалось удалить сохранённый вход ("), std::string::npos) << output;
  EXPECT_EQ(output.find("no error"), std::string::npos) << output;
  EXPECT_NE(output.find(")."), std::string::npos) << output;
  EXPECT_NE(output.find("status 0"), std::string::npos) << output;

  // Nothing was written to disk in place of the unreachable service.
  g_autofree gchar* find = g_strdup_printf("find %s -type f", scratch);
  gchar* listing = nullptr;
  ASSERT_TRUE(g_spawn_command_line_sync(find, &listing, nullptr, nullptr, nullptr));
  EXPECT_STREQ(listing, "");
  g_free(listing);
  g_autofree gchar* rm = g_strdup_printf("rm -rf %s", scratch);
  g_spawn_command_line_sync(rm, nullptr, nullptr, nullptr, nullptr);
}
