// The building blocks of the encrypted workspace cache: AES-256-GCM sealing in the combined form (nonce,
// ciphertext, tag), and the cache's whole-file reads and atomic writes with its own messages. Plain functions
// without state, safe on any thread.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dorvik {

// A cache file that cannot be read, opened or written. The message is the Russian text to show; the cache never
// turns such a failure into an empty result, and the file stays as it was.
class CacheError : public std::runtime_error {
 public:
  enum class Kind {
    FileSystem,      // the file or folder could not be read, written, created or moved (code: errno)
    TooShort,        // shorter than a nonce and a tag
    Authentication,  // altered, sealed with another key or under another name
  };
  CacheError(Kind kind, std::string message, int code = 0)
      : std::runtime_error(std::move(message)), kind_(kind), code_(code) {}
  Kind kind() const noexcept { return kind_; }
  int code() const noexcept { return code_; }

 private:
  Kind kind_;
  int code_;
};

namespace cache {

inline constexpr std::size_t kKeySize = 32;
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kTagSize = 16;

// Bytes from the system's secure random generator; none when it fails.
std::optional<std::string> randomBytes(std::size_t count);

// AES-256-GCM with a fresh random nonce; the sealed form is nonce (12) + cipher text (as long as the plain
// text) + tag (16). The associated data is authenticated, not stored: opening must be given the same.
struct SealedParts {
  std::array<unsigned char, kNonceSize> nonce;
  std::array<unsigned char, kTagSize> tag;
  std::string_view nonceView() const { return {reinterpret_cast<const char*>(nonce.data()), nonce.size()}; }
  std::string_view tagView() const { return {reinterpret_cast<const char*>(tag.data()), tag.size()}; }
};
// Seals the text in place (it becomes the cipher text) and gives the nonce and tag that frame it: large entries
// need no second buffer. Throws DorvikError "Не удалось зашифровать локальные данные." when sealing fails.
SealedParts sealInPlace(std::string_view key, char* text, std::size_t size, std::string_view associated);
// Opens a whole sealed form in place; gives the plain text, which lies inside the buffer. Throws CacheError
// TooShort or Authentication; the buffer's contents are then unspecified.
std::string_view openInPlace(std::string_view key, std::string& sealed, std::string_view associated);

// The same on copies: the whole sealed form, and the plain text of one.
std::string seal(std::string_view key, std::string_view plain, std::string_view associated);
std::string open(std::string_view key, std::string_view sealed, std::string_view associated);

// The whole file, or none when it does not exist. Something else in the file's place (a folder, a named pipe) is
// refused without blocking. Throws CacheError FileSystem.
std::optional<std::string> readFile(const std::string& path);

// Replaces folder/fileName with the bytes, owner read and write only, so that a reader, or the disk after a crash,
// sees either the old file or the new one whole (files::writeAtomically). Throws CacheError FileSystem; the old
// file is then untouched.
// The bytes are the parts one after another.
void writeFileAtomically(const std::string& folder, const std::string& fileName,
                         std::initializer_list<std::string_view> parts);
inline void writeFileAtomically(const std::string& folder, const std::string& fileName, std::string_view bytes) {
  writeFileAtomically(folder, fileName, {bytes});
}

}  // namespace cache
}  // namespace dorvik
