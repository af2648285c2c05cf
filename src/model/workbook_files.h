// Files of the workbook import and export: a size-bounded read and the atomic write of a saved file, with their
// Russian messages. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvik {

// Reads a whole regular file of at most `limit` bytes. The size is checked before anything is read, the read
// stops one byte past the limit, and the bytes read are checked again, so a file that grew meanwhile (or whose
// reported size is wrong) is refused as well. Throws DorvikError: `tooLarge` past the limit, and a
// "Не удалось прочитать файл …" text when the file cannot be opened, is no regular file or fails to read.
std::string readBoundedFile(const std::string& path, std::int64_t limit,
                            std::string_view tooLarge = "Файл больше 40 МБ.");

// Replaces the file at `path` with `bytes` atomically: the bytes go to a new file beside it, are flushed to disk,
// and that file is renamed over the target, so the target holds either its old or its new contents, never a part.
// Throws DorvikError("Не удалось сохранить файл «name»: reason") on failure; nothing is left behind then.
void writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace dorvik
