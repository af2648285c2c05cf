#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/base/errors.h"
#include "core/cache/sealed_file.h"

using namespace dorvik;
using namespace dorvik::cache;

namespace {

std::string testKey(char seed) {
  std::string key(kKeySize, '\0');
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(seed + 31 * i);
  return key;
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
  if (!dir) return names;
  while (const gchar* name = g_dir_read_name(dir)) names.emplace_back(name);
  g_dir_close(dir);
  return names;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    gchar* path = g_dir_make_tmp("dorvik-sealed-XXXXXX", nullptr);
    path_ = path;
    g_free(path);
  }
  ~ScratchFolder() {
    for (const auto& name : listFolder(path_)) g_unlink((path_ + "/" + name).c_str());
    g_rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

CacheError::Kind refusalOf(const std::string& key, const std::string& sealed, const std::string& associated) {
  try {
    (void)open(key, sealed, associated);
  } catch (const CacheError& e) {
    EXPECT_FALSE(std::string(e.what()).empty());
    return e.kind();
  }
  ADD_FAILURE() << "opened";
  return CacheError::Kind::FileSystem;
}

}  // namespace

TEST(Sealing, RoundTripsInTheCombinedLayout) {
  const std::string key = testKey(1);
  for (const std::string& plain :
       {std::string(), std::string("{\"a\":1}"), std::string("\0\xff\0", 3), std::string(100000, 'x')}) {
    std::string sealed = seal(key, plain, "name");
    EXPECT_EQ(sealed.size(), kNonceSize + plain.size() + kTagSize);
    EXPECT_EQ(open(key, sealed, "name"), plain);
    if (plain.size() > 16) {
      EXPECT_EQ(sealed.find(plain.substr(0, 16)), std::string::npos);  // no clear text
    }
  }
}

TEST(Sealing, InPlaceFormsMatchTheCopyingOnes) {
  const std::string key = testKey(6);
  const std::string plain = "{\"orders\":[1,2,3],\"name\":\"Пётр\"}";
  std::string text = plain;
  SealedParts parts = sealInPlace(key, text.data(), text.size(), "entry.sealed");
  EXPECT_NE(text, plain);
  std::string whole = std::string(parts.nonceView()) + text + std::string(parts.tagView());
  EXPECT_EQ(open(key, whole, "entry.sealed"), plain);
  std::string buffer = seal(key, plain, "entry.sealed");
  EXPECT_EQ(openInPlace(key, buffer, "entry.sealed"), plain);
}

TEST(Sealing, EverySealHasAFreshNonce) {
  const std::string key = testKey(2);
  std::string a = seal(key, "same", "n");
  std::string b = seal(key, "same", "n");
  EXPECT_NE(a.substr(0, kNonceSize), b.substr(0, kNonceSize));
  EXPECT_NE(a, b);
  EXPECT_EQ(open(key, a, "n"), open(key, b, "n"));
}

TEST(Sealing, RefusesEveryAlteration) {
  const std::string key = testKey(3);
  const std::string sealed = seal(key, "{\"planner\":[1,2,3]}", "entry.sealed");
  // Any flipped bit in the nonce, the cipher text or the tag.
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    std::string changed = sealed;
    changed[i] = static_cast<char>(changed[i] ^ (1 << (i % 8)));
    EXPECT_EQ(refusalOf(key, changed, "entry.sealed"), CacheError::Kind::Authentication) << "byte " << i;
  }
  // Another key, another name.
  EXPECT_EQ(refusalOf(testKey(4), sealed, "entry.sealed"), CacheError::Kind::Authentication);
  EXPECT_EQ(refusalOf(key, sealed, "other.sealed"), CacheError::Kind::Authentication);
  EXPECT_EQ(refusalOf(key, sealed, ""), CacheError::Kind::Authentication);
  // Cut short: below the nonce plus the tag it is too short; above, the tag no longer matches.
  for (std::size_t length : {std::size_t(0), std::size_t(1), std::size_t(27)})
    EXPECT_EQ(refusalOf(key, sealed.substr(0, length), "entry.sealed"), CacheError::Kind::TooShort) << length;
  for (std::size_t length = 28; length < sealed.size(); ++length)
    EXPECT_EQ(refusalOf(key, sealed.substr(0, length), "entry.sealed"), CacheError::Kind::Authentication) << length;
  EXPECT_EQ(refusalOf(key, sealed + "x", "entry.sealed"), CacheError::Kind::Authentication);
}

TEST(Sealing, RefusesAKeyOfTheWrongLength) {
  EXPECT_THROW(seal(std::string(16, 'k'), "x", "n"), DorvikError);
  const std::string sealed = seal(testKey(5), "x", "n");
  EXPECT_EQ(refusalOf(std::string(16, 'k'), sealed, "n"), CacheError::Kind::Authentication);
}

TEST(Sealing, RandomBytesDiffer) {
  auto a = randomBytes(32);
  auto b = randomBytes(32);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 32u);
  EXPECT_NE(*a, *b);
}

TEST(SealedFiles, AtomicWriteReplacesWholeWithOwnerOnlyPermissions) {
  ScratchFolder folder;
  const std::string path = folder.path() + "/entry.sealed";
  EXPECT_EQ(readFile(path), std::nullopt);

  const mode_t old = umask(0);  // even a permissive umask gives an owner-only file
  writeFileAtomically(folder.path(), "entry.sealed", std::string("first\0value", 11));
  umask(old);
  EXPECT_EQ(readFile(path), std::optional<std::string>(std::string("first\0value", 11)));
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  writeFileAtomically(folder.path(), "entry.sealed", {"one ", "", "two ", "three"});
  EXPECT_EQ(readFile(path), std::optional<std::string>("one two three"));
  writeFileAtomically(folder.path(), "entry.sealed", "second");
  EXPECT_EQ(readFile(path), std::optional<std::string>("second"));
  writeFileAtomically(folder.path(), "entry.sealed", "");
  EXPECT_EQ(readFile(path), std::optional<std::string>(""));
  // No temporary file is left behind.
  EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{"entry.sealed"});
}

TEST(SealedFiles, FailuresAreReportedAndLeaveTheOldFile) {
  ScratchFolder folder;
  writeFileAtomically(folder.path(), "entry.sealed", "old");
  // The target name is a folder: the rename fails, the temporary file goes, nothing else changes.
  g_mkdir((folder.path() + "/taken").c_str(), 0700);
  try {
    writeFileAtomically(folder.path(), "taken", "new");
    ADD_FAILURE() << "written over a folder";
  } catch (const CacheError& e) {
    EXPECT_EQ(e.kind(), CacheError::Kind::FileSystem);
    EXPECT_NE(e.code(), 0);
    EXPECT_NE(std::string(e.what()).find("Не удалось записать локальные данные (код "), std::string::npos);
  }
  EXPECT_THROW(writeFileAtomically(folder.path() + "/missing", "entry.sealed", "x"), CacheError);
  EXPECT_THROW(readFile(folder.path() + "/taken"), CacheError);
  auto names = listFolder(folder.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"entry.sealed", "taken"}));
  EXPECT_EQ(readFile(folder.path() + "/entry.sealed"), std::optional<std::string>("old"));
  g_rmdir((folder.path() + "/taken").c_str());
}
