#include "core/cache/sealed_file.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "core/base/errors.h"
#include "core/base/files.h"

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

}  // namespace

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
  std::string out = files::largeBuffer(kNonceSize + plain.size() + kTagSize);
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
  try {
    return files::readWhole(path);
  } catch (const files::FileError& e) {
    fileError(kReadFailed, e.code());
  }
}

void writeFileAtomically(const std::string& folder, const std::string& fileName,
                         std::initializer_list<std::string_view> parts) {
  try {
    files::writeAtomically(folder + "/" + fileName, parts, 0600);
  } catch (const files::FileError& e) {
    fileError(kWriteFailed, e.code());
  }
}

}  // namespace dorvik::cache
