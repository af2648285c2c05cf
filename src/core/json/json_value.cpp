#include "core/json/json_value.h"

#include <locale.h>
#include <sys/mman.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/json/json_internal.h"

namespace dorvik {

namespace {

const JSONValue& nullValue() {
  static const JSONValue value;
  return value;
}

// Normalises the keys of a map built by program code; the last of several spellings of one key wins, in map
// order. Returns the map unchanged when every key is already ASCII.
JSONObject canonicalObject(JSONObject o) {
  bool plain = true;
  for (const auto& [key, value] : o) {
    if (!isAsciiText(key)) {
      plain = false;
      break;
    }
  }
  if (plain) return o;
  JSONObject result;
  for (auto& [key, value] : o) {
    result.insert_or_assign(canonicalText(key), std::move(value));
  }
  return result;
}

locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The whole text as a C-locale floating-point number (strtod grammar), a decimal comma read as a point.
std::optional<double> parseNumberText(std::string_view text) {
  if (text.empty() || isCSpace(text.front())) return std::nullopt;
  std::string buffer(text);
  for (char& c : buffer) {
    if (c == ',') c = '.';
  }
  char* end = nullptr;
  const double value = strtod_l(buffer.c_str(), &end, cLocale());
  if (end != buffer.c_str() + buffer.size()) return std::nullopt;
  return value;
}

std::size_t mix(std::size_t seed, std::size_t value) {
  // boost::hash_combine's mixing, widened to 64 bits.
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 12) + (seed >> 4));
}

std::size_t textHash(std::string_view text) {
  if (isAsciiText(text)) return std::hash<std::string_view>{}(text);
  return std::hash<std::string>{}(canonicalText(text));
}

}  // namespace

// Keys are stored canonically composed; ASCII keys (nearly all of them) need no work.
std::string canonicalKey(std::string_view key) {
  if (isAsciiText(key)) return std::string(key);
  return canonicalText(key);
}

void preferHugePages(void* data, std::size_t size) noexcept {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = 2u << 20;
  if (size < 4 * kHuge) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // advice only
#else
  (void)data;
  (void)size;
#endif
}

std::string largeStringCopy(std::string_view text) {
  std::string copy;
  copy.reserve(text.size());
  preferHugePages(copy.data(), text.size());
  copy.append(text);
  return copy;
}

// Construction ------------------------------------------------------------------------------------------------

JSONValue::JSONValue(const char* s) : v_(std::make_shared<const std::string>(s ? s : "")) {}
JSONValue::JSONValue(std::string_view s) : v_(std::make_shared<const std::string>(s)) {}
JSONValue::JSONValue(std::string s) : v_(std::make_shared<const std::string>(std::move(s))) {}
JSONValue::JSONValue(JSONArray a) : v_(std::make_shared<JSONArray>(std::move(a))) {}
JSONValue::JSONValue(JSONObject o) : v_(std::make_shared<JSONObject>(canonicalObject(std::move(o)))) {}

JSONValue JSONValue::object(std::initializer_list<std::pair<std::string_view, JSONValue>> members) {
  JSONObject o;
  for (const auto& [key, value] : members) o.insert_or_assign(canonicalKey(key), value);
  JSONValue result;
  result.v_ = std::make_shared<JSONObject>(std::move(o));
  return result;
}

JSONValue JSONValue::array(std::initializer_list<JSONValue> elements) { return JSONValue(JSONArray(elements)); }

// Decoding ----------------------------------------------------------------------------------------------------

std::string depthErrorMessage() {
  return "Не удалось прочитать JSON: вложенность глубже " + std::to_string(JSONValue::kMaxDepth) + " уровней.";
}

JSONValue JSONValue::decode(std::string_view bytes) { return decodeWithSimdjson(bytes, false); }
JSONValue JSONValue::decode(const std::string& text) {
  return decodeWithSimdjson(text, text.capacity() - text.size() >= kDecodePadding);
}
JSONValue JSONValue::decodeTaking(std::string text) { return decodeTakingWithSimdjson(std::move(text)); }

// Lenient readers ----------------------------------------------------------------------------------------------

std::string formatNumberText(double x) {
  char buffer[400];  // "%.0f" of the largest double has 309 digits
  if (std::isnan(x)) return "nan";
  std::to_chars_result r;
  const bool negativeZero = x == 0 && std::signbit(x);
  if (!negativeZero && std::fabs(x) < 9.0e15 && x == static_cast<double>(static_cast<std::int64_t>(x))) {
    // Counts, numbers and identifiers: whole and exact, written as integers are (the same digits, far cheaper).
    r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(x));
  } else if (x == std::nearbyint(x)) {
    // Whole numbers (and the infinities) with every digit, as "%.0f" writes them.
    r = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, 0);
  } else if (std::fabs(x) >= 0.0001) {
    r = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed);
  } else {
    r = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
  }
  return std::string(buffer, r.ptr);
}

std::string JSONValue::string() const {
  switch (kind()) {
    case Kind::Bool:
      return std::get<bool>(v_) ? "Да" : "Нет";
    case Kind::Number:
      return formatNumberText(std::get<double>(v_));
    case Kind::String:
      return *std::get<StringPtr>(v_);
    default:
      return {};
  }
}

std::string_view JSONValue::stringView() const noexcept {
  if (kind() != Kind::String) return {};
  return *std::get<StringPtr>(v_);
}

std::optional<double> JSONValue::doubleValue() const {
  switch (kind()) {
    case Kind::Number:
      return std::get<double>(v_);
    case Kind::String:
      return parseNumberText(*std::get<StringPtr>(v_));
    default:
      return std::nullopt;
  }
}

std::int64_t saturatingInt(double x) noexcept {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (std::isnan(x)) return 0;
  if (x >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (x < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(x);  // truncates toward zero; -2^63 itself is in range
}

std::int64_t JSONValue::intValue() const { return saturatingInt(doubleValue().value_or(0.0)); }

bool JSONValue::boolValue() const {
  switch (kind()) {
    case Kind::Bool:
      return std::get<bool>(v_);
    case Kind::Number:
      return std::get<double>(v_) != 0.0;
    case Kind::String: {
      const auto value = parseNumberText(*std::get<StringPtr>(v_));
      return value && *value != 0.0;
    }
    default:
      return false;
  }
}

const JSONArray& JSONValue::array() const noexcept {
  static const JSONArray empty;
  if (kind() != Kind::Array) return empty;
  return *std::get<ArrayPtr>(v_);
}

const JSONObject& JSONValue::object() const noexcept {
  static const JSONObject empty;
  if (kind() != Kind::Object) return empty;
  return *std::get<ObjectPtr>(v_);
}

// Members ------------------------------------------------------------------------------------------------------

const JSONValue& JSONValue::operator[](std::string_view key) const {
  if (kind() != Kind::Object) return nullValue();
  const JSONObject& o = *std::get<ObjectPtr>(v_);
  auto it = isAsciiText(key) ? o.find(key) : o.find(canonicalText(key));
  return it == o.end() ? nullValue() : it->second;
}

bool JSONValue::contains(std::string_view key) const {
  if (kind() != Kind::Object) return false;
  const JSONObject& o = *std::get<ObjectPtr>(v_);
  return isAsciiText(key) ? o.contains(key) : o.contains(canonicalText(key));
}

const JSONValue& JSONValue::path(std::string_view dotted) const {
  const JSONValue* current = this;
  std::size_t start = 0;
  while (start <= dotted.size()) {
    std::size_t dot = dotted.find('.', start);
    if (dot == std::string_view::npos) dot = dotted.size();
    if (dot > start) current = &(*current)[dotted.substr(start, dot - start)];
    start = dot + 1;
  }
  return *current;
}

const JSONValue& JSONValue::at(std::size_t index) const {
  if (kind() != Kind::Array) return nullValue();
  const JSONArray& a = *std::get<ArrayPtr>(v_);
  return index < a.size() ? a[index] : nullValue();
}

std::size_t JSONValue::size() const noexcept {
  switch (kind()) {
    case Kind::Array:
      return std::get<ArrayPtr>(v_)->size();
    case Kind::Object:
      return std::get<ObjectPtr>(v_)->size();
    default:
      return 0;
  }
}

JSONObject& JSONValue::mutableObject() {
  if (kind() != Kind::Object) {
    v_ = std::make_shared<JSONObject>();
  } else if (std::get<ObjectPtr>(v_).use_count() > 1) {
    v_ = std::make_shared<JSONObject>(*std::get<ObjectPtr>(v_));
  }
  return *std::get<ObjectPtr>(v_);
}

JSONArray& JSONValue::mutableArray() {
  if (kind() != Kind::Array) {
    v_ = std::make_shared<JSONArray>();
  } else if (std::get<ArrayPtr>(v_).use_count() > 1) {
    v_ = std::make_shared<JSONArray>(*std::get<ArrayPtr>(v_));
  }
  return *std::get<ArrayPtr>(v_);
}

JSONValue& JSONValue::set(std::string_view key, JSONValue value) {
  JSONObject& o = mutableObject();
  auto [it, inserted] = o.insert_or_assign(canonicalKey(key), std::move(value));
  return it->second;
}

bool JSONValue::erase(std::string_view key) {
  if (kind() != Kind::Object || !contains(key)) return false;
  JSONObject& o = mutableObject();
  auto it = isAsciiText(key) ? o.find(key) : o.find(canonicalText(key));
  o.erase(it);
  return true;
}

void JSONValue::push(JSONValue value) { mutableArray().push_back(std::move(value)); }

JSONValue& JSONValue::member(std::string_view key) {
  JSONObject& o = mutableObject();
  std::string canonical = canonicalKey(key);
  auto it = o.find(canonical);
  if (it == o.end()) it = o.emplace(std::move(canonical), JSONValue()).first;
  return it->second;
}

// Records ------------------------------------------------------------------------------------------------------

std::vector<Record> JSONValue::records(const JSONArray& elements) {
  std::vector<Record> rows;
  rows.reserve(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) rows.emplace_back(elements[i], std::to_string(i));
  return rows;
}

std::string Record::id() const {
  const std::string order = value["orderId"].string();
  if (!order.empty()) {
    return value["routeId"].string() + "/" + value["pointId"].string() + "/" + order;
  }
  const std::string point = value["pointId"].string();
  if (!point.empty()) return value["routeId"].string() + "/" + point;
  for (const char* key : {"id", "routeId", "courierId", "key", "pointId", "name"}) {
    std::string text = value[key].string();
    if (!text.empty()) return text;
  }
  return fallbackID;
}

std::size_t Record::hash() const { return mix(value.hash(), std::hash<std::string>{}(fallbackID)); }

// Equality and hashing -----------------------------------------------------------------------------------------

bool operator==(const JSONValue& a, const JSONValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JSONValue::Kind::Null:
      return true;
    case JSONValue::Kind::Bool:
      return std::get<bool>(a.v_) == std::get<bool>(b.v_);
    case JSONValue::Kind::Number:
      return std::get<double>(a.v_) == std::get<double>(b.v_);
    case JSONValue::Kind::String: {
      const auto& x = std::get<JSONValue::StringPtr>(a.v_);
      const auto& y = std::get<JSONValue::StringPtr>(b.v_);
      return x == y || canonicallyEqual(*x, *y);
    }
    case JSONValue::Kind::Array: {
      // No shortcut for a shared payload: a NaN inside it equals nothing, not even itself.
      const JSONArray& x = *std::get<JSONValue::ArrayPtr>(a.v_);
      const JSONArray& y = *std::get<JSONValue::ArrayPtr>(b.v_);
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!(x[i] == y[i])) return false;
      }
      return true;
    }
    case JSONValue::Kind::Object: {
      // Keys are canonical, so equal key sets are byte-equal and in the same order.
      const JSONObject& x = *std::get<JSONValue::ObjectPtr>(a.v_);
      const JSONObject& y = *std::get<JSONValue::ObjectPtr>(b.v_);
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || !(i->second == j->second)) return false;
      }
      return true;
    }
  }
  return false;
}

std::size_t JSONValue::hash() const {
  std::size_t seed = static_cast<std::size_t>(kind());
  switch (kind()) {
    case Kind::Null:
      return seed;
    case Kind::Bool:
      return mix(seed, std::get<bool>(v_) ? 1 : 0);
    case Kind::Number: {
      const double x = std::get<double>(v_);
      return mix(seed, std::hash<double>{}(x == 0.0 ? 0.0 : x));  // 0 and -0 alike
    }
    case Kind::String:
      return mix(seed, textHash(*std::get<StringPtr>(v_)));
    case Kind::Array:
      for (const JSONValue& element : *std::get<ArrayPtr>(v_)) seed = mix(seed, element.hash());
      return seed;
    case Kind::Object: {
      // A sum does not depend on the order the members are visited in.
      std::size_t members = 0;
      for (const auto& [key, value] : *std::get<ObjectPtr>(v_)) {
        members += mix(std::hash<std::string>{}(key), value.hash());
      }
      return mix(seed, members);
    }
  }
  return seed;
}

}  // namespace dorvik
