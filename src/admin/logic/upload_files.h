// Files that travel inside JSON bodies (document attachments, courier files): the size limit, the file's name and
// MIME type as the server receives them, and the bounded read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvik::admin {

// The largest file the client sends: 8 MiB.
inline constexpr std::int64_t kUploadLimit = 8388608;

// The MIME type of a file name's extension as the desktop's type database knows it; "application/octet-stream"
// for a name without extension or an unknown one.
std::string mimeForName(std::string_view name);

struct UploadFile {
  std::string name;   // the file's display name (valid UTF-8), extension included
  std::string mime;   // mimeForName(name)
  std::string bytes;  // the whole content
};

// Reads a chosen file of at most kUploadLimit bytes: its size is checked before it is read and the bytes read are
// checked again. Throws DorvikError: `tooLarge` past the limit, the read failure's own text otherwise.
UploadFile readUploadFile(const std::string& path, std::string_view tooLarge);

}  // namespace dorvik::admin
