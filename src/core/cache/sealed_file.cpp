#include "core/cache/sealed_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

std::string seal(std::string_view key, std::string_view plain, std::string_view associated) {
  if (key.size() != kKeySize) throw DorvikError(kSealFailed, 0);
  std::string out(kNonceSize + plain.size() + kTagSize, '\0');
  unsigned char* nonce = bytesOf(out);
  if (RAND_bytes(nonce, kNonceSize) != 1) throw DorvikError(kSealFailed, 0);

  CipherPtr ctx(EVP_CIPHER_CTX_new());
  int length = 0;
  bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, bytesOf(key), nonce) == 1;
  for (std::size_t done = 0; ok && done < associated.size(); done += kSlice) {
    int n = static_cast<int>(std::min(kSlice, associated.size() - done));
    ok = EVP_EncryptUpdate(ctx.get(), nullptr, &length, bytesOf(associated) + done, n) == 1;
  }
  unsigned char* cipher = nonce + kNonceSize;
  std::size_t written = 0;
  for (std::size_t done = 0; ok && done < plain.size(); done += kSlice) {
    int n = static_cast<int>(std::min(kSlice, plain.size() - done));
    ok = EVP_EncryptUpdate(ctx.get(), cipher + written, &length, bytesOf(plain) + done, n) == 1;
    written += static_cast<std::size_t>(length);
  }
  ok = ok && EVP_EncryptFinal_ex(ctx.get(), cipher + written, &length) == 1;
  written += static_cast<std::size_t>(length);
  ok = ok && written == plain.size() &&
       EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, cipher + written) == 1;
  if (!ok) throw DorvikError(kSealFailed, 0);
  return out;
}

std::string open(std::string_view key, std::string_view sealed, std::string_view associated) {
  if (sealed.size() < kNonceSize + kTagSize)
    throw CacheError(CacheError::Kind::TooShort, "Локальные данные повреждены: файл записи слишком короткий.");
  const auto refused = [] {
    return CacheError(CacheError::Kind::Authentication,
                      "Локальные данные повреждены или зашифрованы другим ключом.");
  };
  if (key.size() != kKeySize) throw refused();
  const std::size_t n = sealed.size() - kNonceSize - kTagSize;
  const unsigned char* nonce = bytesOf(sealed);
  const unsigned char* cipher = nonce + kNonceSize;
  unsigned char tag[kTagSize];
  std::memcpy(tag, cipher + n, kTagSize);

  std::string plain(n, '\0');
  CipherPtr ctx(EVP_CIPHER_CTX_new());
  int length = 0;
  bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, bytesOf(key), nonce) == 1;
  for (std::size_t done = 0; ok && done < associated.size(); done += kSlice) {
    int m = static_cast<int>(std::min(kSlice, associated.size() - done));
    ok = EVP_DecryptUpdate(ctx.get(), nullptr, &length, bytesOf(associated) + done, m) == 1;
  }
  std::size_t written = 0;
  for (std::size_t done = 0; ok && done < n; done += kSlice) {
    int m = static_cast<int>(std::min(kSlice, n - done));
    ok = EVP_DecryptUpdate(ctx.get(), bytesOf(plain) + written, &length, cipher + done, m) == 1;
    written += static_cast<std::size_t>(length);
  }
  ok = ok && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) == 1 &&
       EVP_DecryptFinal_ex(ctx.get(), bytesOf(plain) + written, &length) == 1;
  if (!ok) {
    // Unauthenticated plain text never leaves this function.
    OPENSSL_cleanse(plain.data(), plain.size());
    throw refused();
  }
  return plain;
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
  std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
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

void writeFileAtomically(const std::string& folder, const std::string& fileName, std::string_view bytes) {
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

  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      abandon(errno);
    }
    done += static_cast<std::size_t>(put);
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
