#include "core/base/files.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace dorvik::files {

namespace {

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kTemporaryDigits = 16;

[[noreturn]] void fail(int code, const std::string& what) { throw FileError(code, what + ": " + g_strerror(code)); }

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string taken(gchar* text) {
  std::string result = text;
  g_free(text);
  return result;
}

std::string randomHex() {
  char text[kTemporaryDigits + 1];
  g_snprintf(text, sizeof text, "%08x%08x", g_random_int(), g_random_int());
  return text;
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() { close(); }

int FileDescriptor::release() noexcept { return std::exchange(fd_, -1); }

int FileDescriptor::close() noexcept {
  if (fd_ < 0) return 0;
  const int fd = std::exchange(fd_, -1);
  return ::close(fd) == 0 ? 0 : errno;
}

std::optional<FileDescriptor> openRegular(const std::string& path) {
  FileDescriptor fd(openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT) return std::nullopt;
    fail(errno, "open " + path);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) fail(errno, "stat " + path);
  if (!S_ISREG(info.st_mode)) fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, "not a regular file " + path);
  return fd;
}

std::optional<std::string> readWhole(const std::string& path, std::optional<std::uint64_t> limit) {
  std::optional<FileDescriptor> fd = openRegular(path);
  if (!fd) return std::nullopt;
  struct stat info {};
  if (::fstat(fd->get(), &info) != 0) fail(errno, "stat " + path);
  const auto tooLarge = [&path] { throw FileTooLarge(EFBIG, "larger than allowed: " + path); };
  const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
  if (limit && size > *limit) tooLarge();

  // One byte past the size (or the limit) shows whether the file ends where it said it would.
  const std::uint64_t cap = limit ? *limit + 1 : UINT64_MAX;
  std::string bytes = largeBuffer(static_cast<std::size_t>(std::min(size + 1, cap)));
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() >= cap) break;
      bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() * 2 + 4096, cap)));
    }
    const ssize_t got = ::read(fd->get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      fail(errno, "read " + path);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (limit && filled > *limit) tooLarge();
  bytes.resize(filled);
  return bytes;
}

void writeAtomically(const std::string& path, std::initializer_list<std::string_view> parts,
                     std::optional<unsigned> mode) {
  // A new file beside the target (rename is atomic only within one file system), created exclusively under a
  // random name, so that several writers, even in several processes, never share one.
  const std::string folder = taken(g_path_get_dirname(path.c_str()));
  const std::string prefix = folder + "/." + taken(g_path_get_basename(path.c_str())) + std::string(kTemporaryMark);
  std::string temporary;
  FileDescriptor fd;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    temporary = prefix + randomHex();
    fd = FileDescriptor(openRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                                     static_cast<mode_t>(mode.value_or(0666))));
    if (!fd && errno != EEXIST) fail(errno, "create " + temporary);
  }
  if (!fd) fail(EEXIST, "create " + temporary);
  const auto abandon = [&](int code, const char* what) {
    fd.close();
    ::unlink(temporary.c_str());
    fail(code, std::string(what) + " " + temporary);
  };

  // The permissions are settled before the file takes the target's name: exactly the mode asked for (whatever
  // the umask), or those of the file replaced.
  if (mode) {
    if (::fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0) abandon(errno, "chmod");
  } else {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd.get(), existing.st_mode & 07777);
  }

  // Large files go out in slices, each handed to the disk at once, so the device works while the next slice is
  // copied and the final flush has little left to wait for.
  constexpr std::size_t kFlushSlice = std::size_t(8) << 20;
  off_t offset = 0;
  off_t started = 0;
  for (std::string_view bytes : parts) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(fd.get(), bytes.data() + done, std::min(bytes.size() - done, kFlushSlice));
      if (put < 0) {
        if (errno == EINTR) continue;
        abandon(errno, "write");
      }
      done += static_cast<std::size_t>(put);
      offset += put;
      if (offset - started >= static_cast<off_t>(kFlushSlice)) {
        ::sync_file_range(fd.get(), started, offset - started, SYNC_FILE_RANGE_WRITE);  // a hint; fsync decides
        started = offset;
      }
    }
  }
  if (::fsync(fd.get()) != 0) abandon(errno, "flush");
  if (const int code = fd.close()) abandon(code, "close");
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    fail(code, "rename " + temporary);
  }
  // The new name itself reaches the disk too. A folder that cannot be opened for reading (write-only) is left to
  // the file system.
  FileDescriptor dir(openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir && ::fsync(dir.get()) != 0) fail(errno, "flush " + folder);
}

bool isTemporaryName(std::string_view fileName) {
  if (fileName.size() < 1 + kTemporaryMark.size() + kTemporaryDigits || fileName.front() != '.') return false;
  const std::string_view tail = fileName.substr(fileName.size() - kTemporaryDigits);
  const std::string_view mark =
      fileName.substr(fileName.size() - kTemporaryDigits - kTemporaryMark.size(), kTemporaryMark.size());
  return mark == kTemporaryMark &&
         std::all_of(tail.begin(), tail.end(), [](char c) { return g_ascii_isxdigit(c) && !g_ascii_isupper(c); });
}

std::string largeBuffer(std::size_t size) {
  std::string s;
  s.reserve(size);
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  if (size >= 4 * kHuge) {
    const auto begin = (reinterpret_cast<std::uintptr_t>(s.data()) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(s.data()) + size) & ~(kHuge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // advice only
  }
#endif
  s.resize(size);
  return s;
}

}  // namespace dorvik::files
