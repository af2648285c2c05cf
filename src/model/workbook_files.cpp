#include "model/workbook_files.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "core/base/errors.h"
#include "core/base/files.h"

namespace dorvik {

namespace {

// The file's name as the user reads it (valid UTF-8 whatever the file system's encoding).
std::string displayName(const std::string& path) {
  char* name = g_filename_display_basename(path.c_str());
  std::string out = name;
  g_free(name);
  return out;
}

std::string reason(int code) { return g_strerror(code); }

[[noreturn]] void readFailure(const std::string& path, int code) {
  throw DorvikError("Не удалось прочитать файл «" + displayName(path) + "»: " + reason(code));
}

}  // namespace

std::string readBoundedFile(const std::string& path, std::int64_t limit, std::string_view tooLarge) {
  std::optional<std::string> bytes;
  try {
    bytes = files::readWhole(path, static_cast<std::uint64_t>(std::max<std::int64_t>(limit, 0)));
  } catch (const files::FileTooLarge&) {
    throw DorvikError(std::string(tooLarge));
  } catch (const files::FileError& e) {
    readFailure(path, e.code());
  }
  if (!bytes) readFailure(path, ENOENT);
  return std::move(*bytes);
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  try {
    files::writeAtomically(path, {bytes});
  } catch (const files::FileError& e) {
    throw DorvikError("Не удалось сохранить файл «" + displayName(path) + "»: " + reason(e.code()));
  }
}

}  // namespace dorvik
