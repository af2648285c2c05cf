// OwnedText: a text in a buffer of GLib's allocator, held by one owner at a time and handed on without a copy.
// The planner engine's JSON texts run to a hundred megabytes for the largest plans, and each copy of one would
// count against the memory of the whole import.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

namespace dorvik {

class OwnedText {
 public:
  OwnedText() = default;
  // Takes over a NUL-terminated text that g_free releases.
  explicit OwnedText(char* text) noexcept : data_(text), size_(text ? std::strlen(text) : 0) {}
  ~OwnedText() { release(data_); }
  OwnedText(OwnedText&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  OwnedText& operator=(OwnedText&& other) noexcept {
    if (this != &other) {
      release(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  OwnedText(const OwnedText&) = delete;
  OwnedText& operator=(const OwnedText&) = delete;

  // The bytes, writable in place (the cache seals them where they lie).
  char* data() noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::string_view view() const noexcept { return {data_ ? data_ : "", size_}; }

 private:
  // g_free, kept out of this header: its users need not see GLib.
  static void release(char* text) noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace dorvik
