// Runs against the real Secret Service of the test session (scripts/with-session.sh); every test uses scopes of
// its own, so tests may run in parallel.
#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/async/task_group.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/json/json_value.h"
#include "core/store/secure_store.h"

using namespace dorvik;

// Each cache's worker thread ends by itself after the cache is dropped; when the test process exits first, the
// per-thread state OpenSSL keeps for that thread (its random generator) is still held and the leak checker of the
// sanitizer build would count it. Leaks of our own sealing code are checked by the single-threaded sealing suite.
extern "C" const char* __lsan_default_suppressions() { return "leak:libcrypto.so\n"; }

namespace {

std::string uniqueScope() {
  g_autofree gchar* uuid = g_uuid_string_random();
  return std::string("https://test.example/api|7|") + uuid + "|3";
}

std::shared_ptr<EncryptedCache> openCache(const std::string& scope) {
  return async::runBlocking(EncryptedCache::open(scope));
}
std::optional<JSONValue> readEntry(const std::shared_ptr<EncryptedCache>& cache, const std::string& name) {
  return async::runBlocking(cache->read(name));
}
void writeEntry(const std::shared_ptr<EncryptedCache>& cache, const JSONValue& value, const std::string& name) {
  async::runBlocking(cache->write(value, name));
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
  if (!dir) return names;
  while (const gchar* name = g_dir_read_name(dir)) names.emplace_back(name);
  g_dir_close(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string fileBytes(const std::string& path) {
  gchar* data = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &data, &length, nullptr)) return "<missing>";
  std::string bytes(data, length);
  g_free(data);
  return bytes;
}
void putFile(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(g_file_set_contents(path.c_str(), bytes.data(), static_cast<gssize>(bytes.size()), nullptr));
}

mode_t modeOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

std::string entryPath(const std::shared_ptr<EncryptedCache>& cache, const std::string& name) {
  return cache->folder() + "/" + EncryptedCache::entryFileName(name);
}

// Reading must fail with a CacheError carrying a Russian message, and leave the file as it was.
void expectRefused(const std::shared_ptr<EncryptedCache>& cache, const std::string& name, const char* why) {
  const std::string before = fileBytes(entryPath(cache, name));
  try {
    auto value = readEntry(cache, name);
    ADD_FAILURE() << why << ": read gave " << (value ? value->data() : std::string("none"));
  } catch (const CacheError& e) {
    EXPECT_NE(std::string(e.what()).find("Локальные данные повреждены"), std::string::npos) << why;
  }
  EXPECT_EQ(fileBytes(entryPath(cache, name)), before) << why;
}

JSONValue everyShape() {
  JSONArray nested;
  JSONValue deep = JSONValue::array({1});
  for (int i = 0; i < 200; ++i) deep = JSONValue::array({deep});
  return JSONValue::object({
      {"null", nullptr},
      {"true", true},
      {"false", false},
      {"zero", 0},
      {"negative", -17.25},
      {"huge", 1.7976931348623157e308},
      {"tiny", 5e-324},
      {"integer", 9007199254740993.0},
      {"empty", ""},
      {"text", "Доставка №5 «Север» — ёлка 🚚"},
      {"controls", std::string("tab\tquote\"back\\slash\nzero\0end", 30)},
      {"emptyArray", JSONValue(JSONArray{})},
      {"emptyObject", JSONValue(JSONObject{})},
      {"mixed", JSONValue::array({nullptr, true, 1, "x", JSONValue::array({2}), JSONValue::object({{"k", "v"}})})},
      {"deep", deep},
      {"keys", JSONValue::object({{"b", 1}, {"a", 2}, {"_nativeID", 3}, {"Я", 4}})},
  });
}

}  // namespace

TEST(EncryptedCache, RoundTripsEveryJsonShape) {
  auto cache = openCache(uniqueScope());
  EXPECT_EQ(readEntry(cache, "planner"), std::nullopt);

  const std::vector<JSONValue> values = {nullptr,
                                         true,
                                         false,
                                         0,
                                         -0.0,
                                         3.5,
                                         1e21,
                                         "",
                                         "строка",
                                         everyShape(),
                                         JSONValue(JSONArray{}),
                                         JSONValue(JSONObject{})};
  for (std::size_t i = 0; i < values.size(); ++i) {
    writeEntry(cache, values[i], "value");
    auto back = readEntry(cache, "value");
    ASSERT_TRUE(back.has_value()) << i;
    EXPECT_TRUE(*back == values[i]) << i << ": " << back->data() << " != " << values[i].data();
  }
  // Any text names an entry: the empty one, a request path with a query, Cyrillic.
  for (const std::string& name : {std::string(), std::string("/panel/addresses?limit=20000"), std::string("история")}) {
    writeEntry(cache, JSONValue(name + "!"), name);
  }
  for (const std::string& name : {std::string(), std::string("/panel/addresses?limit=20000"), std::string("история")}) {
    EXPECT_EQ(readEntry(cache, name), std::optional<JSONValue>(JSONValue(name + "!"))) << name;
  }
  EXPECT_TRUE(g_file_test(entryPath(cache, "").c_str(), G_FILE_TEST_EXISTS));
}

TEST(EncryptedCache, AJsonTextIsStoredAsTheValueItWrites) {
  auto cache = openCache(uniqueScope());
  const JSONValue value = everyShape();
  async::runBlocking(cache->writeText(OwnedText(g_strdup(value.data().c_str())), "planner"));
  EXPECT_EQ(readEntry(cache, "planner"), std::optional<JSONValue>(value));
  // Written as text or as a value, an entry is the same sealed file: either replaces the other.
  writeEntry(cache, JSONValue("kept"), "planner");
  EXPECT_EQ(readEntry(cache, "planner"), std::optional<JSONValue>(JSONValue("kept")));
}

TEST(EncryptedCache, NonFiniteNumbersWriteNothing) {
  auto cache = openCache(uniqueScope());
  EXPECT_THROW(writeEntry(cache, JSONValue::array({std::nan("")}), "fresh"), JSONEncodeError);
  EXPECT_FALSE(g_file_test(entryPath(cache, "fresh").c_str(), G_FILE_TEST_EXISTS));
  writeEntry(cache, JSONValue("kept"), "planner");
  EXPECT_THROW(writeEntry(cache, JSONValue(std::numeric_limits<double>::infinity()), "planner"), JSONEncodeError);
  EXPECT_EQ(readEntry(cache, "planner"), std::optional<JSONValue>(JSONValue("kept")));
  EXPECT_EQ(listFolder(cache->folder()), std::vector<std::string>{EncryptedCache::entryFileName("planner")});
}

TEST(EncryptedCache, LaysOutOwnerOnlyFilesNamedByDigests) {
  const std::string scope = uniqueScope();
  auto cache = openCache(scope);
  EXPECT_EQ(cache->folder(),
            std::string(g_get_user_data_dir()) + "/Dorvik/Accounts/" + EncryptedCache::scopeDigest(scope));
  EXPECT_EQ(EncryptedCache::entryFileName(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855.sealed");
  EXPECT_EQ(modeOf(cache->folder()), 0700u);

  const JSONValue value = JSONValue::object({{"secretAddress", "ул. Тайная, 1"}});
  writeEntry(cache, value, "addresses");
  const std::string path = entryPath(cache, "addresses");
  EXPECT_EQ(modeOf(path), 0600u);
  EXPECT_EQ(listFolder(cache->folder()), std::vector<std::string>{EncryptedCache::entryFileName("addresses")});
  const std::string sealed = fileBytes(path);
  EXPECT_EQ(sealed.size(), 12 + value.data().size() + 16);
  EXPECT_EQ(sealed.find("secretAddress"), std::string::npos);

  // The key is 32 bytes in the secure store, under the scope's account.
  auto key = SecureStore::readSync("cache-" + EncryptedCache::scopeDigest(scope));
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->size(), 32u);

  // A fresh nonce every time: the same value twice gives two different files, both readable.
  writeEntry(cache, value, "addresses");
  EXPECT_NE(fileBytes(path), sealed);
  EXPECT_EQ(readEntry(cache, "addresses"), std::optional<JSONValue>(value));
}

TEST(EncryptedCache, ScopesKeepTheirOwnFoldersAndKeys) {
  const std::string scope = uniqueScope();
  {
    auto cache = openCache(scope);
    writeEntry(cache, JSONValue("first run"), "planner");
  }
  auto again = openCache(scope);
  EXPECT_EQ(readEntry(again, "planner"), std::optional<JSONValue>(JSONValue("first run")));

  auto other = openCache(scope + " ");
  EXPECT_NE(other->folder(), again->folder());
  EXPECT_EQ(readEntry(other, "planner"), std::nullopt);
  EXPECT_NE(SecureStore::readSync(EncryptedCache::keyAccount(scope)),
            SecureStore::readSync(EncryptedCache::keyAccount(scope + " ")));
}

TEST(EncryptedCache, RefusesDamagedMisplacedAndForeignFiles) {
  auto cache = openCache(uniqueScope());
  const JSONValue plan = JSONValue::object({{"routeDate", "2026-12-08"}, {"orders", JSONValue::array({1, 2, 3})}});
  const JSONValue zones = JSONValue::array({"north", "south"});
  writeEntry(cache, plan, "planner");
  writeEntry(cache, zones, "zones");
  const std::string planPath = entryPath(cache, "planner");
  const std::string zonesPath = entryPath(cache, "zones");
  const std::string planFile = fileBytes(planPath);
  const std::string zonesFile = fileBytes(zonesPath);

  // One changed byte in the nonce, the cipher text or the tag.
  for (std::size_t at : {std::size_t(0), std::size_t(20), planFile.size() - 1}) {
    std::string changed = planFile;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    putFile(planPath, changed);
    expectRefused(cache, "planner", "changed byte");
  }
  // Cut short, below and above the 28 bytes of nonce and tag.
  putFile(planPath, planFile.substr(0, 27));
  expectRefused(cache, "planner", "27 bytes");
  putFile(planPath, planFile.substr(0, planFile.size() - 1));
  expectRefused(cache, "planner", "one byte short");
  putFile(planPath, "");
  expectRefused(cache, "planner", "empty file");

  // Two entries swapped between names: neither reads as the other.
  putFile(planPath, zonesFile);
  putFile(zonesPath, planFile);
  expectRefused(cache, "planner", "zones under the planner's name");
  expectRefused(cache, "zones", "planner under the zones' name");

  // An entry copied from another workspace, under the same name.
  auto other = openCache(uniqueScope());
  writeEntry(other, JSONValue("other workspace"), "planner");
  putFile(planPath, fileBytes(entryPath(other, "planner")));
  expectRefused(cache, "planner", "foreign file");

  // A new write of the name makes it readable again.
  writeEntry(cache, plan, "planner");
  writeEntry(cache, zones, "zones");
  EXPECT_EQ(readEntry(cache, "planner"), std::optional<JSONValue>(plan));
  EXPECT_EQ(readEntry(cache, "zones"), std::optional<JSONValue>(zones));
}

namespace {

JSONValue bulky(int tag) {
  JSONArray rows;
  for (int i = 0; i < 2000; ++i) rows.push_back(JSONValue::object({{"tag", tag}, {"row", i}, {"text", "строка"}}));
  return JSONValue::object({{"tag", tag}, {"rows", JSONValue(std::move(rows))}});
}

async::Task<void> writeMany(std::shared_ptr<EncryptedCache> a, std::shared_ptr<EncryptedCache> b, int count) {
  async::TaskGroup group(count * 2);
  for (int i = 0; i < count; ++i) {
    auto first = a->write(bulky(i), "planner");
    co_await group.add(std::move(first));
    auto second = b->write(bulky(1000 + i), "planner");
    co_await group.add(std::move(second));
  }
  co_await group.wait();
}

}  // namespace

TEST(EncryptedCache, ConcurrentWritesLeaveOneWholeValue) {
  const std::string scope = uniqueScope();
  auto cache = openCache(scope);
  auto second = openCache(scope);  // another actor on the same folder: its writes interleave with the first's
  constexpr int kCount = 25;
  async::runBlocking(writeMany(cache, second, kCount));

  auto value = readEntry(cache, "planner");
  ASSERT_TRUE(value.has_value());
  const int tag = static_cast<int>((*value)["tag"].intValue());
  EXPECT_TRUE((tag >= 0 && tag < kCount) || (tag >= 1000 && tag < 1000 + kCount)) << tag;
  EXPECT_TRUE(*value == bulky(tag));
  EXPECT_EQ(listFolder(cache->folder()), std::vector<std::string>{EncryptedCache::entryFileName("planner")});

  // Through one actor the writes keep their order: the last one stays.
  auto only = openCache(uniqueScope());
  async::runBlocking(writeMany(only, only, 10));
  EXPECT_EQ((*readEntry(only, "planner"))["tag"].intValue(), 1009);
}

TEST(EncryptedCache, LostKeyKeepsTheOldFolderAsideAndStartsAfresh) {
  const std::string scope = uniqueScope();
  const std::string account = EncryptedCache::keyAccount(scope);
  auto cache = openCache(scope);
  const std::string folder = cache->folder();
  writeEntry(cache, JSONValue("old plan"), "planner");
  writeEntry(cache, JSONValue::array({1, 2}), "addresses");
  const std::string oldPlanner = fileBytes(entryPath(cache, "planner"));
  const std::string oldKey = *SecureStore::readSync(account);
  cache.reset();

  SecureStore::writeSync(std::nullopt, account);  // the keyring was reset
  auto fresh = openCache(scope);
  EXPECT_EQ(fresh->folder(), folder);
  EXPECT_TRUE(listFolder(folder).empty());
  EXPECT_EQ(readEntry(fresh, "planner"), std::nullopt);
  auto newKey = SecureStore::readSync(account);
  ASSERT_TRUE(newKey.has_value());
  EXPECT_EQ(newKey->size(), 32u);
  EXPECT_NE(*newKey, oldKey);

  // The old folder is kept whole beside the new one.
  const std::string parent = folder.substr(0, folder.find_last_of('/'));
  const std::string base = folder.substr(folder.find_last_of('/') + 1);
  std::vector<std::string> aside;
  for (const auto& name : listFolder(parent))
    if (name.rfind(base + ".lost-", 0) == 0) aside.push_back(name);
  ASSERT_EQ(aside.size(), 1u);
  const std::string kept = parent + "/" + aside[0];
  EXPECT_EQ(listFolder(kept).size(), 2u);
  EXPECT_EQ(fileBytes(kept + "/" + EncryptedCache::entryFileName("planner")), oldPlanner);

  // The workspace works again and keeps its new key on the next opening.
  writeEntry(fresh, JSONValue("new plan"), "planner");
  fresh.reset();
  auto reopened = openCache(scope);
  EXPECT_EQ(readEntry(reopened, "planner"), std::optional<JSONValue>(JSONValue("new plan")));
  EXPECT_EQ(SecureStore::readSync(account), newKey);
  std::size_t lostFolders = 0;
  for (const auto& name : listFolder(parent)) lostFolders += name.rfind(base + ".lost-", 0) == 0;
  EXPECT_EQ(lostFolders, 1u);

  // A key lost while the folder holds no entry just makes a new key; nothing is moved.
  SecureStore::writeSync(std::nullopt, account);
  g_unlink(entryPath(reopened, "planner").c_str());
  reopened.reset();
  auto empty = openCache(scope);
  lostFolders = 0;
  for (const auto& name : listFolder(parent)) lostFolders += name.rfind(base + ".lost-", 0) == 0;
  EXPECT_EQ(lostFolders, 1u);
  EXPECT_EQ(SecureStore::readSync(account)->size(), 32u);
}

TEST(EncryptedCache, CancelledCallsEndWithCancellation) {
  auto cache = openCache(uniqueScope());
  async::CancelToken token;
  token.cancel();
  EXPECT_THROW(async::runBlocking(cache->read("planner"), token), CancelledError);
  EXPECT_THROW(async::runBlocking(cache->write(JSONValue(1), "planner"), token), CancelledError);
  EXPECT_THROW(async::runBlocking(EncryptedCache::open(uniqueScope()), token), CancelledError);
}
