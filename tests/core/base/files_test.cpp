// Digests, and what the atomic write leaves beside its target; the reads and writes themselves are exercised
// through their callers (the cache's sealed files, the workbook files).
#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/base/digest.h"
#include "core/base/files.h"

using namespace dorvik;

TEST(Digest, LowercaseHexOfSha256) {
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256Hex(std::string("a\0b", 3)), "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138");
}

TEST(Files, TemporaryFilesOfAWriteAreKnownByTheirName) {
  g_autofree gchar* folder = g_dir_make_tmp("dorvik-files-XXXXXX", nullptr);
  ASSERT_NE(folder, nullptr);
  const std::string target = std::string(folder) + "/entry.sealed";
  // A write that cannot finish (the target is a folder) shows the name its temporary file had: none is left.
  ASSERT_EQ(g_mkdir(target.c_str(), 0700), 0);
  EXPECT_THROW(files::writeAtomically(target, {"x"}, 0600), files::FileError);
  GDir* dir = g_dir_open(folder, 0, nullptr);
  std::vector<std::string> names;
  while (const gchar* name = g_dir_read_name(dir)) names.emplace_back(name);
  g_dir_close(dir);
  EXPECT_EQ(names, std::vector<std::string>{"entry.sealed"});
  g_rmdir(target.c_str());
  g_rmdir(folder);

  EXPECT_TRUE(files::isTemporaryName(".entry.sealed.tmp-0123456789abcdef"));
  for (const char* other :
       {"entry.sealed", ".entry.sealed", ".entry.sealed.tmp-0123456789ABCDEF", ".entry.sealed.tmp-0123456789abcde",
        "entry.sealed.tmp-0123456789abcdef", ".entry.sealed.tmp-0123456789abcdefg", ".x.damaged-20260305T073000Z"}) {
    EXPECT_FALSE(files::isTemporaryName(other)) << other;
  }
}
