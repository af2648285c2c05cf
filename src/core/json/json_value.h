// JSONValue: the one dynamic value in which server answers, request bodies, component calls, cache entries and
// table rows travel. A plain value: copies share their payload until one side writes (copy on write), so handing a
// planning document of tens of megabytes around costs a reference count.
//
// The readers never fail: a missing member or a wrong type gives the empty result of the accessor. Only decoding
// (malformed text, nesting deeper than kMaxDepth) and encoding (a non-finite number) throw.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace dorvik {

class JSONValue;
struct Record;

// Decoding failed: not JSON, not UTF-8, or nested too deeply.
class JSONDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encoding failed: the value holds a non-finite number.
class JSONEncodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The order of object keys: by their bytes, unsigned, a prefix first (the order of std::string's comparison),
// compared in place: keys are short and mostly differ early, where a call to memcmp would cost more than the
// comparison itself. Takes texts and views alike.
struct JSONKeyOrder {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
      const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

// Object keys are stored in Unicode canonical composition (NFC), so composed and decomposed spellings of one
// key address the same member. Keys sort by their UTF-8 bytes, which is also the order they are written in.
using JSONArray = std::vector<JSONValue>;
using JSONObject = std::map<std::string, JSONValue, JSONKeyOrder>;

class JSONValue {
 public:
  // Case numbers as they feed the hash.
  enum class Kind : std::uint8_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

  // Objects nested deeper than this are refused by decode() instead of exhausting the stack.
  static constexpr int kMaxDepth = 512;

  JSONValue() noexcept = default;
  JSONValue(std::nullptr_t) noexcept {}
  JSONValue(bool b) noexcept : v_(b) {}
  JSONValue(double d) noexcept : v_(d) {}
  JSONValue(int i) noexcept : v_(static_cast<double>(i)) {}
  JSONValue(long i) noexcept : v_(static_cast<double>(i)) {}
  JSONValue(long long i) noexcept : v_(static_cast<double>(i)) {}
  JSONValue(unsigned i) noexcept : v_(static_cast<double>(i)) {}
  JSONValue(unsigned long i) noexcept : v_(static_cast<double>(i)) {}
  JSONValue(unsigned long long i) noexcept : v_(static_cast<double>(i)) {}
  JSONValue(const char* s);
  JSONValue(std::string_view s);
  JSONValue(std::string s);
  JSONValue(JSONArray a);
  JSONValue(JSONObject o);
  // Builds an object from key/value pairs: JSONValue::object({{"a", 1}, {"b", "x"}}); JSONValue::object({}) is
  // an empty object. (No default argument: v.object() must name the reader below unambiguously.)
  static JSONValue object(std::initializer_list<std::pair<std::string_view, JSONValue>> members);
  static JSONValue array(std::initializer_list<JSONValue> elements);

  // Decoding and encoding ---------------------------------------------------------------------------------
  // Parses UTF-8 JSON text; any value may stand at the top level. Throws JSONDecodeError.
  static JSONValue decode(std::string_view bytes);
  // The same; a text with kDecodePadding bytes of spare capacity (as data() leaves) is parsed where it lies
  // instead of being copied first.
  static JSONValue decode(const std::string& text);
  static JSONValue decode(const char* text) { return decode(std::string_view(text)); }
  // Spare capacity past a text's end that lets the parser read it where it lies.
  static constexpr std::size_t kDecodePadding = 64;
  // Decodes a text it takes over: parsed where it lies when it has kDecodePadding bytes of spare capacity (else
  // copied once), and let go before the values are built, so that a large text is never held three times.
  // Throws JSONDecodeError.
  static JSONValue decodeTaking(std::string text);
  // Compact JSON (no spaces), object keys in ascending order at every depth, numbers in their shortest
  // round-trip form, independent of the process locale. Throws JSONEncodeError for NaN or infinities.
  std::string data() const;
  std::string json() const { return data(); }

  // Case -------------------------------------------------------------------------------------------------
  Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }
  bool isNull() const noexcept { return kind() == Kind::Null; }
  bool isBool() const noexcept { return kind() == Kind::Bool; }
  bool isNumber() const noexcept { return kind() == Kind::Number; }
  bool isString() const noexcept { return kind() == Kind::String; }
  bool isArray() const noexcept { return kind() == Kind::Array; }
  bool isObject() const noexcept { return kind() == Kind::Object; }

  // Lenient readers (never fail) ------------------------------------------------------------------------
  // Text of the value: bool "Да"/"Нет"; whole numbers without a fraction ("3", "-0", "inf"); other numbers in
  // their shortest round-trip form (exponent form below 0.0001: "1e-05"); strings as they are; others "".
  std::string string() const;
  // Number of the value: numbers as they are; texts with "," read as "." and parsed whole in the C locale;
  // anything else none.
  std::optional<double> doubleValue() const;
  // doubleValue() or 0, truncated toward zero; NaN gives 0, values beyond the 64-bit range saturate.
  std::int64_t intValue() const;
  // Truth: bools as they are, numbers other than 0 (NaN is true), texts that parse to a non-zero number.
  bool boolValue() const;
  // The payload when the case matches, else an empty list or map.
  const JSONArray& array() const noexcept;
  const JSONObject& object() const noexcept;
  // The raw text of a string value without copying; empty for other cases.
  std::string_view stringView() const noexcept;

  // Members ----------------------------------------------------------------------------------------------
  // The member named key of an object, else null. Never inserts.
  const JSONValue& operator[](std::string_view key) const;
  bool contains(std::string_view key) const;
  // Member lookup through nested objects along a dotted path ("a.b"); empty components are dropped; a path
  // without components gives the value itself.
  const JSONValue& path(std::string_view dotted) const;
  // Element of an array, else null.
  const JSONValue& at(std::size_t index) const;
  // Number of elements or members; 0 for other cases.
  std::size_t size() const noexcept;

  // Stores a member, turning a non-object into an empty object first. Setting null keeps the key.
  JSONValue& set(std::string_view key, JSONValue value);
  // Removes a member; true when there was one.
  bool erase(std::string_view key);
  // Appends to an array, turning a non-array into an empty array first.
  void push(JSONValue value);
  // Writable access for nested edits, with copy on write: the value becomes an object (or array) when it is
  // not one, and its payload is unshared from other copies first. A returned reference is good until the value
  // is next copied or assigned. Keys inserted straight into mutableObject() must be canonical (canonicalText);
  // set() and member() see to that themselves.
  JSONValue& member(std::string_view key);  // inserts null when absent
  JSONObject& mutableObject();
  JSONArray& mutableArray();

  // Rows for a table or list: one Record per element, fallback id its zero-based position.
  static std::vector<Record> records(const JSONArray& elements);

  // Equality (texts by canonical equivalence, numbers by IEEE comparison) and hashing.
  friend bool operator==(const JSONValue& a, const JSONValue& b);
  std::size_t hash() const;

 private:
  using StringPtr = std::shared_ptr<const std::string>;
  using ArrayPtr = std::shared_ptr<JSONArray>;
  using ObjectPtr = std::shared_ptr<JSONObject>;
  std::variant<std::monostate, bool, double, StringPtr, ArrayPtr, ObjectPtr> v_;

  friend class JSONBuilder;
};

// Appends a text (quoted and escaped) or a number exactly as data() writes them, for writers that lay out a
// document's members in an order of their own. A non-finite number throws JSONEncodeError.
void appendJSON(std::string& out, std::string_view text);
void appendJSON(std::string& out, double number);

// Canonical (NFC) form of a text; returns the text itself when it is already plain ASCII.
std::string canonicalText(std::string_view text);
// Texts equal under canonical equivalence.
bool canonicallyEqual(std::string_view a, std::string_view b);

// One identifiable row of a table or list.
struct Record {
  JSONValue value;
  std::string fallbackID;

  Record() = default;
  Record(JSONValue v, std::string fallback) : value(std::move(v)), fallbackID(std::move(fallback)) {}

  // "routeId/pointId/orderId" when the row has an orderId; "routeId/pointId" when it has a pointId; else the
  // first non-empty of id, routeId, courierId, key, pointId, name; else fallbackID.
  std::string id() const;
  // Reads a dotted path of the value.
  const JSONValue& operator[](std::string_view key) const { return value.path(key); }
  // Stores a top-level member (the key whole, not as a path).
  void set(std::string_view key, JSONValue v) { value.set(key, std::move(v)); }

  friend bool operator==(const Record& a, const Record& b) {
    return a.value == b.value && a.fallbackID == b.fallbackID;
  }
  std::size_t hash() const;
};

}  // namespace dorvik

template <>
struct std::hash<dorvik::JSONValue> {
  std::size_t operator()(const dorvik::JSONValue& v) const { return v.hash(); }
};
template <>
struct std::hash<dorvik::Record> {
  std::size_t operator()(const dorvik::Record& r) const { return r.hash(); }
};
