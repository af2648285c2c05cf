// Whole-file reads and atomic whole-file writes, the two ways the program touches its files (the workspace cache,
// workbooks). Plain functions without state, safe on any thread. Failures throw FileError with the errno code;
// each caller words its own message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dorvik::files {

class FileError : public std::runtime_error {
 public:
  FileError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  // The errno value of the failure (EISDIR or EINVAL for something that is not a regular file).
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// A file larger than the limit of the read (code EFBIG).
class FileTooLarge : public FileError {
 public:
  using FileError::FileError;
};

// Owns an open file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  int release() noexcept;
  // Closes now; 0, or the errno of close itself (a late write error may show only there).
  int close() noexcept;

 private:
  int fd_;
};

// Opens a regular file for reading. The open never blocks: a named pipe or a device put in the file's place is
// refused (EINVAL; a folder EISDIR) instead of hanging the caller. None when nothing is at the path.
std::optional<FileDescriptor> openRegular(const std::string& path);

// The whole regular file, or none when nothing is at the path. With a limit, a file of more bytes throws
// FileTooLarge: the size is checked before anything is read, the read stops one byte past the limit, and the
// bytes read are checked again, so a file that grows meanwhile (or reports a wrong size) is refused as well.
std::optional<std::string> readWhole(const std::string& path, std::optional<std::uint64_t> limit = std::nullopt);

// Replaces the file at `path` with the parts, one after another, so that a reader, or the disk after a crash,
// sees either the old file or the new one whole: the bytes go to a temporary file beside the target (see
// isTemporaryName), are flushed to disk, the temporary file is renamed over the target, and the folder is
// flushed. `mode` given: the new file gets exactly these permissions; none: it keeps the permissions of the file
// it replaces (a new file gets the usual ones, 0666 less the umask). On failure nothing is left behind and the
// old file is untouched, unless the rename succeeded and only the folder could not be flushed.
void writeAtomically(const std::string& path, std::initializer_list<std::string_view> parts,
                     std::optional<unsigned> mode = std::nullopt);

// True for the name of a temporary file of writeAtomically (".<target name>.tmp-<16 hex digits>"). One that
// outlives its write was left by a process that died during the write.
bool isTemporaryName(std::string_view fileName);

// A string of `size` bytes whose buffer the kernel is asked to back with huge pages: filling tens of megabytes of
// fresh memory page by page costs more than the work done on it. The contents are zero bytes.
std::string largeBuffer(std::size_t size);

}  // namespace dorvik::files
