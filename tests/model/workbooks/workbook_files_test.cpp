// The files of the workbook import and export: the bounded read, the atomic write.
#include <gtest/gtest.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "core/base/errors.h"
#include "core/base/files.h"
#include "model/workbook_files.h"

using namespace dorvik;
namespace fs = std::filesystem;

namespace {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/dorvik-files-XXXXXX";
    path_ = g_mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const DorvikError& e) {
    return e.message();
  }
  return "<без ошибки>";
}

std::string readAll(const fs::path& file) { return dorvik::files::readWhole(file.string()).value_or(""); }

}  // namespace

TEST(BoundedRead, TheSizeIsCheckedFirstAndTheReadIsCapped) {
  TempFolder folder;
  const std::string limitText = "Файл больше 40 МБ.";

  // A sparse file far beyond the limit is refused at once, without reading a terabyte.
  const fs::path huge = folder / "huge.xlsx";
  std::ofstream(huge).close();
  fs::resize_file(huge, std::uintmax_t(1) << 40);
  EXPECT_EQ(errorOf([&] { readBoundedFile(huge, 41943040); }), limitText);

  const fs::path exact = folder / "exact.xlsx";
  std::ofstream(exact, std::ios::binary) << std::string(1000, 'x');
  EXPECT_EQ(readBoundedFile(exact, 1000).size(), 1000u);
  EXPECT_EQ(errorOf([&] { readBoundedFile(exact, 999); }), limitText);

  // A file whose reported size says nothing of its contents (the kernel's files report 0) is held to the limit
  // by the bytes actually read.
  const std::string maps = readBoundedFile("/proc/self/maps", 1 << 20);
  ASSERT_GT(maps.size(), 100u);
  EXPECT_EQ(errorOf([&] { readBoundedFile("/proc/self/maps", 100); }), limitText);

  EXPECT_EQ(errorOf([&] { readBoundedFile(folder.path(), 100); }).rfind("Не удалось прочитать файл «", 0), 0u);
  EXPECT_EQ(
      errorOf([&] { readBoundedFile(folder / "нет.xlsx", 100); }).rfind("Не удалось прочитать файл «нет.xlsx»: ", 0),
      0u);
  // A named pipe is refused instead of waiting for a writer.
  const fs::path pipe = folder / "pipe.xlsx";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(errorOf([&] { readBoundedFile(pipe, 100); }).rfind("Не удалось прочитать файл «pipe.xlsx»", 0), 0u);
}

TEST(AtomicWrite, ReplacesWholeKeepsPermissionsAndLeavesNothingOnFailure) {
  TempFolder folder;
  const fs::path target = folder / "Рабочая книга.xlsx";
  std::ofstream(target, std::ios::binary) << "старое содержимое";
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);

  std::string bytes(3 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
  writeFileAtomically(target, bytes);
  EXPECT_EQ(readAll(target), bytes);
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // A target that cannot be replaced (a folder): the failure is told and no partial file stays behind.
  const fs::path folderTarget = folder / "папка";
  fs::create_directory(folderTarget);
  EXPECT_EQ(errorOf([&] { writeFileAtomically(folderTarget, "abc"); }).rfind("Не удалось сохранить файл «папка»: ", 0),
            0u);
  EXPECT_TRUE(fs::is_directory(folderTarget));
  EXPECT_EQ(errorOf([&] {
              writeFileAtomically(folder / "нет" / "файл.xlsx", "abc");
            }).rfind("Не удалось сохранить файл «файл.xlsx»: ", 0),
            0u);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path())) ++entries;
  EXPECT_EQ(entries, 2u);  // the workbook and the folder
}
