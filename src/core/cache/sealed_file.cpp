#include "core/cache/sealed_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/base/errors.h"

namespace dorvik::cache {

namespace {

constexpr const char* kSealFailed = "Не удалось зашифровать локальные данные.";

struct CipherFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherFree>;

// EVP takes int lengths: feed long buffers in slices.
constexpr std::size_t kSlice = std::size_t(1) << 30;

unsigned char* bytesOf(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }
const unsigned char* bytesOf(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

[[noreturn]] void fileError(const char* what, int code) {
  throw CacheError(CacheError::Kind::FileSystem, std::string(what) + " (код " + std::to_string(code) + ").", code);
}

constexpr const char* kReadFailed = "Не удалось прочитать локальные данные";
constexpr const char* kWriteFailed = "Не удалось записать локальные данные";

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the error of close (a late write error may show only there).
  int close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// A string of the given size whose buffer the kernel is asked to back with huge pages: filling 50 MB of fresh
// memory page by page costs far more than sealing it.
std::string largeString(std::size_t size) {
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

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1 || length != 32)
    throw std::runtime_error("SHA-256 failed");
  static const char hex[] = "0123456789abcdef";
  std::string text(64, '0');
  for (unsigned i = 0; i < 32; ++i) {
    text[2 * i] = hex[digest[i] >> 4];
    text[2 * i + 1] = hex[digest[i] & 0xf];
  }
  return text;
}

std::optional<std::string> randomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count > INT_MAX || RAND_bytes(bytesOf(bytes), static_cast<int>(count)) != 1) return std::nullopt;
  return bytes;
}

SealedParts sealInPlace(std::string_view key, char* text, std::size_t size, std::string_view associated) {
  SealedParts parts;
  if (key.size() != kKeySize || RAND_bytes(parts.nonce.data(), kNonceSize) != 1) throw DorvikError(kSealFailed, 0);
  CipherPtr ctx(EVP_CIPHER_CTX_new());
  int length = 0;
  bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, bytesOf(key), parts.nonce.data()) == 1;
  for (std::size_t done = 0; ok && done < associated.size(); done += kSlice) {
    int n = static_cast<int>(std::min(kSlice, associated.size() - done));
    ok = EVP_EncryptUpdate(ctx.get(), nullptr, &length, bytesOf(associated) + done, n) == 1;
  }
  // GCM is a stream mode: every slice comes out whole, in place.
  auto* bytes = reinterpret_cast<unsigned char*>(text);
  for (std::size_t done = 0; ok && done < size; done += kSlice) {
    int n = static_cast<int>(std::min(kSlice, size - done));
    ok = EVP_EncryptUpdate(ctx.get(), bytes + done, &length, bytes + done, n) == 1 && length == n;
  }
  unsigned char rest[16];
  ok = ok && EVP_EncryptFinal_ex(ctx.get(), rest, &length) == 1 && length == 0 &&
       EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, parts.tag.data()) == 1;
  if (!ok) throw DorvikError(kSealFailed, 0);
  return parts;
}

std::string_view openInPlace(std::string_view key, std::string& sealed, std::string_view associated) {
  if (sealed.size() < kNonceSize + kTagSize)
    throw CacheError(CacheError::Kind::TooShort, "Локальные данные повреждены: файл записи слишком короткий.");
  const std::size_t n = sealed.size() - kNonceSize - kTagSize;
  unsigned char* nonce = bytesOf(sealed);
  unsigned char* text = nonce + kNonceSize;
  unsigned char tag[kTagSize];
  std::memcpy(tag, text + n, kTagSize);

  CipherPtr ctx(EVP_CIPHER_CTX_new());
  int length = 0;
  bool ok = key.size() == kKeySize && ctx &&
            EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, bytesOf(key), nonce) == 1;
  for (std::size_t done = 0; ok && done < associated.size(); done += kSlice) {
    int m = static_cast<int>(std::min(kSlice, associated.size() - done));
    ok = EVP_DecryptUpdate(ctx.get(), nullptr, &length, bytesOf(associated) + done, m) == 1;
  }
  for (std::size_t done = 0; ok && done < n; done += kSlice) {
    int m = static_cast<int>(std::min(kSlice, n - done));
    ok = EVP_DecryptUpdate(ctx.get(), text + done, &length, text + done, m) == 1 && length == m;
  }
  unsigned char rest[16];
  ok = ok && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) == 1 &&
       EVP_DecryptFinal_ex(ctx.get(), rest, &length) == 1;
  if (!ok) {
    // Unauthenticated plain text never leaves this function.
    OPENSSL_cleanse(text, n);
    throw CacheError(CacheError::Kind::Authentication, "Локальные данные повреждены или зашифрованы другим ключом.");
  }
  return {reinterpret_cast<const char*>(text), n};
}

std::string seal(std::string_view key, std::string_view plain, std::string_view associated) {
  std::string out = largeString(kNonceSize + plain.size() + kTagSize);
  std::memcpy(out.data() + kNonceSize, plain.data(), plain.size());
  SealedParts parts = sealInPlace(key, out.data() + kNonceSize, plain.size(), associated);
  std::memcpy(out.data(), parts.nonce.data(), kNonceSize);
  std::memcpy(out.data() + kNonceSize + plain.size(), parts.tag.data(), kTagSize);
  return out;
}

std::string open(std::string_view key, std::string_view sealed, std::string_view associated) {
  std::string copy(sealed);
  return std::string(openInPlace(key, copy, associated));
}

std::optional<std::string> readFile(const std::string& path) {
  int raw;
  do {
    raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) {
    if (errno == ENOENT) return std::nullopt;
    fileError(kReadFailed, errno);
  }
  Fd fd(raw);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) fileError(kReadFailed, errno);
  if (!S_ISREG(info.st_mode)) fileError(kReadFailed, EISDIR);
  // Entry files are replaced whole by rename and never written in place, so the size holds; read on to the end
  // all the same.
  std::string bytes = largeString(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      fileError(kReadFailed, errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

void writeFileAtomically(const std::string& folder, const std::string& fileName,
                         std::initializer_list<std::string_view> parts) {
  // A unique temporary name in the same folder (rename is atomic only within one file system); several writers,
  // even in several processes, never share one.
  std::optional<std::string> salt = randomBytes(8);
  if (!salt) throw DorvikError(kSealFailed, 0);
  const std::string temporary = folder + "/." + fileName + ".tmp-" + sha256Hex(*salt).substr(0, 16);
  const std::string target = folder + "/" + fileName;

  int raw;
  do {
    raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) fileError(kWriteFailed, errno);
  Fd fd(raw);
  auto abandon = [&](int code) {
    fd.close();
    ::unlink(temporary.c_str());
    fileError(kWriteFailed, code);
  };

  // Large files go out in slices, each handed to the disk at once, so the device works while the next slice is
  // copied and the final flush has little left to wait for.
  constexpr std::size_t kFlushSlice = std::size_t(8) << 20;
  off_t offset = 0;
  off_t started = 0;
  for (std::string_view bytes : parts) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::write(fd.get(), bytes.data() + done, std::min(bytes.size() - done, kFlushSlice));
      if (put < 0) {
        if (errno == EINTR) continue;
        abandon(errno);
      }
      done += static_cast<std::size_t>(put);
      offset += put;
      if (offset - started >= static_cast<off_t>(kFlushSlice)) {
        ::sync_file_range(fd.get(), started, offset - started, SYNC_FILE_RANGE_WRITE);  // a hint; fsync decides
        started = offset;
      }
    }
  }
  // Owner read and write only, whatever the umask; set before the file takes the entry's name.
  if (::fchmod(fd.get(), 0600) != 0) abandon(errno);
  if (::fsync(fd.get()) != 0) abandon(errno);
  if (fd.close() != 0) {
    int code = errno;
    ::unlink(temporary.c_str());
    fileError(kWriteFailed, code);
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    int code = errno;
    ::unlink(temporary.c_str());
    fileError(kWriteFailed, code);
  }
  // Make the new name itself durable.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || ::fsync(dir.get()) != 0) fileError(kWriteFailed, errno);
}

}  // namespace dorvik::cache
