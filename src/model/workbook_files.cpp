#include "model/workbook_files.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "core/base/errors.h"

namespace dorvik {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports close's own failure (a deferred write error shows here).
  int close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

}  // namespace

std::string readBoundedFile(const std::string& path, std::int64_t limit, std::string_view tooLarge) {
  // Non-blocking open: a named pipe chosen by mistake must not hang the read; it is refused below.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) readFailure(path, errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) readFailure(path, errno);
  if (!S_ISREG(info.st_mode)) readFailure(path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  if (info.st_size > limit) throw DorvikError(std::string(tooLarge));

  // One byte past the limit is enough to know the file is too large, whatever its reported size said.
  const auto cap = static_cast<std::size_t>(limit) + 1;
  std::string bytes;
  bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(info.st_size) + 1, cap));
  std::size_t filled = 0;
  while (true) {
    if (filled == bytes.size()) {
      if (bytes.size() >= cap) break;
      bytes.resize(std::min<std::size_t>(bytes.size() * 2 + 4096, cap));
    }
    ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      readFailure(path, errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > static_cast<std::size_t>(limit)) throw DorvikError(std::string(tooLarge));
  bytes.resize(filled);
  return bytes;
}

std::string encodeBase64(std::string_view bytes) {
  std::string out;
  out.resize((bytes.size() + 2) / 3 * 4);
  auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0, o = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    const unsigned v = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = '=';
  }
  return out;
}

std::optional<std::string> decodeBase64(std::string_view text) {
  static const std::array<signed char, 256> codes = [] {
    std::array<signed char, 256> table{};
    table.fill(-1);
    for (int k = 0; k < 64; ++k) table[static_cast<unsigned char>(kAlphabet[k])] = static_cast<signed char>(k);
    return table;
  }();
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  const std::size_t body = text.size() - padding;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned value = 0;
  int bits = 0;
  for (std::size_t k = 0; k < body; ++k) {
    const int code = codes[static_cast<unsigned char>(text[k])];
    if (code < 0) return std::nullopt;  // a foreign character, or padding before the end
    value = ((value << 6) | static_cast<unsigned>(code)) & 0xffffff;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((value >> bits) & 0xff));
    }
  }
  // What the padding stands for: one group of two or three characters, whose spare bits must be zero.
  if ((padding == 1 && bits != 2) || (padding == 2 && bits != 4)) return std::nullopt;
  if (bits > 0 && (value & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string name = displayName(path);
  auto fail = [&name](int code) -> void {
    throw DorvikError("Не удалось сохранить файл «" + name + "»: " + reason(code));
  };
  char* folderText = g_path_get_dirname(path.c_str());
  const std::string folder = folderText;
  g_free(folderText);
  char* baseText = g_path_get_basename(path.c_str());
  const std::string base = baseText;
  g_free(baseText);

  // A new file beside the target (same file system, so the rename is atomic), created exclusively; the
  // process's umask applies to its mode, as it would to a file saved directly.
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[16];
    g_snprintf(suffix, sizeof suffix, "%08x", g_random_int());
    temporary = folder + "/." + base + "." + suffix + ".part";
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) fail(errno);
  }
  if (fd < 0) fail(EEXIST);
  FileDescriptor file(fd);
  bool renamed = false;
  try {
    // Replacing a file keeps its permissions.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd, existing.st_mode & 07777);
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      done += static_cast<std::size_t>(put);
    }
    if (::fsync(fd) != 0) fail(errno);
    if (int code = file.close()) fail(code);
    if (::rename(temporary.c_str(), path.c_str()) != 0) fail(errno);
    renamed = true;
    // The new directory entry reaches the disk too.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  } catch (...) {
    if (!renamed) ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace dorvik
