// The JSON writer: compact, object keys in ascending byte order at every depth, numbers independent of the
// process locale. Non-finite numbers are refused before anything is handed out.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/json/json_internal.h"
#include "core/json/json_value.h"

namespace dorvik {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// A byte of the word needs attention: below 0x20, a quote, a backslash, or not ASCII.
inline bool wordNeedsCare(std::uint64_t w) noexcept {
  const std::uint64_t control = (w - kOnes * 0x20) & ~w;
  const std::uint64_t q = w ^ (kOnes * '"');
  const std::uint64_t quote = (q - kOnes) & ~q;
  const std::uint64_t b = w ^ (kOnes * '\\');
  const std::uint64_t backslash = (b - kOnes) & ~b;
  return ((control | quote | backslash | w) & kHighs) != 0;
}

inline bool byteNeedsCare(unsigned char c) noexcept { return c < 0x20 || c == '"' || c == '\\' || c >= 0x80; }

// The first byte from p on that needs attention, or end.
inline const unsigned char* skipPlain(const unsigned char* p, const unsigned char* end) noexcept {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed comparison: bytes from 0x80 up count as negative, so below 0x20 as well.
    const __m128i hit =
        _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if (wordNeedsCare(w)) break;
    p += 8;
  }
  while (p < end && !byteNeedsCare(*p)) ++p;
  return p;
}

// Length of the well-formed UTF-8 sequence starting at p (RFC 3629), or 0 when it is malformed.
std::size_t utf8SequenceLength(const unsigned char* p, std::size_t available) noexcept {
  const unsigned char c = p[0];
  auto cont = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return i < available && p[i] >= lo && p[i] <= hi;
  };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
  if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
  if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
  if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
  if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
  if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
  return 0;
}

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void value(const JSONValue& v, int depth) {
    switch (v.kind()) {
      case JSONValue::Kind::Null:
        out_.append("null", 4);
        return;
      case JSONValue::Kind::Bool:
        if (v.boolValue()) {
          out_.append("true", 4);
        } else {
          out_.append("false", 5);
        }
        return;
      case JSONValue::Kind::Number:
        number(*v.doubleValue());
        return;
      case JSONValue::Kind::String:
        text(v.stringView());
        return;
      case JSONValue::Kind::Array: {
        out_.push_back('[');
        bool first = true;
        for (const JSONValue& element : v.array()) {
          if (!first) out_.push_back(',');
          first = false;
          value(element, depth + 1);
        }
        out_.push_back(']');
        return;
      }
      case JSONValue::Kind::Object: {
        // The map keeps its keys in ascending byte order already.
        out_.push_back('{');
        bool first = true;
        for (const auto& [key, member] : v.object()) {
          if (!first) out_.push_back(',');
          first = false;
          text(key);
          out_.push_back(':');
          value(member, depth + 1);
        }
        out_.push_back('}');
        return;
      }
    }
  }

  void number(double x) {
    if (!std::isfinite(x)) {
      throw JSONEncodeError("Значение содержит число, которое нельзя записать в JSON (NaN или бесконечность).");
    }
    char buffer[32];
    std::to_chars_result r;
    if (x == std::trunc(x) && std::fabs(x) < 1e15) {
      if (x == 0.0 && std::signbit(x)) {
        out_.append("-0", 2);
        return;
      }
      r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(x));
    } else {
      r = std::to_chars(buffer, buffer + sizeof buffer, x);  // shortest round-trip, "1e+20" style beyond
    }
    out_.append(buffer, static_cast<std::size_t>(r.ptr - buffer));
  }

  void text(std::string_view s) {
    out_.push_back('"');
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    const auto* run = p;  // start of bytes not yet written
    while (p < end) {
      p = skipPlain(p, end);
      if (p == end) break;
      const unsigned char c = *p;
      if (c >= 0x80) {
        const std::size_t n = utf8SequenceLength(p, static_cast<std::size_t>(end - p));
        if (n != 0) {
          p += n;
          continue;
        }
        // A text that is not UTF-8 cannot be JSON: the malformed byte becomes U+FFFD.
        flush(run, p);
        out_.append("\xEF\xBF\xBD", 3);
        run = ++p;
        continue;
      }
      flush(run, p);
      escape(c);
      run = ++p;
    }
    flush(run, p);
    out_.push_back('"');
  }

 private:
  void flush(const unsigned char* from, const unsigned char* to) {
    if (to > from) out_.append(reinterpret_cast<const char*>(from), static_cast<std::size_t>(to - from));
  }

  void escape(unsigned char c) {
    switch (c) {
      case '"':
        out_.append("\\\"", 2);
        return;
      case '\\':
        out_.append("\\\\", 2);
        return;
      case '\n':
        out_.append("\\n", 2);
        return;
      case '\r':
        out_.append("\\r", 2);
        return;
      case '\t':
        out_.append("\\t", 2);
        return;
      case '\b':
        out_.append("\\b", 2);
        return;
      case '\f':
        out_.append("\\f", 2);
        return;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out_.append(escaped, 6);
        return;
      }
    }
  }

  std::string& out_;
};

// Size of the written text when nothing needs escaping; also refuses values nested too deeply to be written
// (only program code can build those: decoding refuses them).
std::size_t estimateSize(const JSONValue& v, int depth) {
  switch (v.kind()) {
    case JSONValue::Kind::Null:
    case JSONValue::Kind::Bool:
      return 5;
    case JSONValue::Kind::Number:
      return 24;
    case JSONValue::Kind::String:
      return v.stringView().size() + 2;
    case JSONValue::Kind::Array:
    case JSONValue::Kind::Object:
      break;
  }
  if (depth >= JSONValue::kMaxDepth) {
    throw JSONEncodeError("Значение вложено глубже " + std::to_string(JSONValue::kMaxDepth) +
                          " уровней и не может быть записано в JSON.");
  }
  std::size_t size = 2;
  if (v.isArray()) {
    for (const JSONValue& element : v.array()) size += estimateSize(element, depth + 1) + 1;
  } else {
    for (const auto& [key, member] : v.object()) size += key.size() + 4 + estimateSize(member, depth + 1);
  }
  return size;
}

}  // namespace

void appendJSON(std::string& out, std::string_view text) { Writer(out).text(text); }

void appendJSON(std::string& out, double number) { Writer(out).number(number); }

std::string JSONValue::data() const {
  std::string out;
  const std::size_t estimate = estimateSize(*this, 0);
  // Room for the decoder's padding as well: a written text decodes where it lies.
  out.reserve(estimate + estimate / 16 + kDecodePadding);
  preferHugePages(out.data(), out.capacity());
  Writer(out).value(*this, 0);
  return out;
}

}  // namespace dorvik
