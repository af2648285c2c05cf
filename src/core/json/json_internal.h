// Helpers shared by the JSON value, its decoder and its writer. Not part of the public interface.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/json/json_value.h"

namespace dorvik {

// Builds values from parts the decoder has already put in canonical form.
class JSONBuilder {
 public:
  // The keys must already be canonical (see canonicalKey).
  static JSONValue object(JSONObject&& members) {
    JSONValue value;
    value.v_ = std::make_shared<JSONObject>(std::move(members));
    return value;
  }
};

// True when every byte is below 0x80. Eight bytes at a time: long base64 texts are scanned often.
inline bool isAsciiText(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t any = 0;
  while (n >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    any |= word;
    p += 8;
    n -= 8;
  }
  while (n > 0) {
    any |= static_cast<unsigned char>(*p);
    ++p;
    --n;
  }
  return (any & 0x8080808080808080ULL) == 0;
}

// The lenient text of a number: whole values as "%.0f" writes them, other values in their shortest round-trip
// form, plain from 0.0001 up and in exponent form below ("1e-05"); NaN "nan". Independent of the locale.
std::string formatNumberText(double x);

// Truncation toward zero that is defined for every double: NaN gives 0, values beyond the 64-bit range
// saturate at its ends.
std::int64_t saturatingInt(double x) noexcept;

// Asks the kernel to back a large buffer that is about to be filled with huge pages: a 50 MB text otherwise
// costs some 12,000 page faults, a third of the time spent writing it. Does nothing for small buffers.
void preferHugePages(void* data, std::size_t size) noexcept;

// A string holding a copy of text, its buffer prepared as above.
std::string largeStringCopy(std::string_view text);

// The stored form of an object key: canonical composition (NFC); ASCII keys as they are.
std::string canonicalKey(std::string_view key);

// Message of a decoding refusal for nesting deeper than JSONValue::kMaxDepth.
std::string depthErrorMessage();

// The parser behind JSONValue::decode (simdjson; it decoded the 50 MB benchmark document three times as fast
// as nlohmann's SAX parser).
// padded: the text is followed by kDecodePadding readable bytes (of any content), so it is parsed where it lies.
JSONValue decodeWithSimdjson(std::string_view bytes, bool padded);
JSONValue decodeTakingWithSimdjson(std::string text);

}  // namespace dorvik
