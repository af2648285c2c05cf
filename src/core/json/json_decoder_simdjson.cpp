// Decoding through simdjson's DOM parser: the parse validates the text (JSON grammar, UTF-8, escapes) into a
// tape, which is then walked once into a JSONValue.
#include <simdjson.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <forward_list>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/json/json_internal.h"
#include "core/json/json_value.h"

namespace dorvik {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// What a thread's decodings reuse from one to the next: the stacks on which members and elements wait for their
// object or array to be complete, the key orders of the kinds of objects met, and the table of shared texts. None of
// it is allocated again: a new large buffer at the start of a decoding would make the allocator settle every chunk
// the previous document freed before the new one could take them over.
struct Scratch {
  struct Shape {
    std::vector<std::string> keys;  // empty: the order stands for keys that were sorted already
    std::vector<std::uint32_t> order;
  };
  struct Slot {
    std::string_view text;
    JSONValue value;
  };
  std::vector<std::string_view> keys;
  std::vector<JSONValue> values;
  std::vector<JSONValue> elements;
  std::array<Shape, 40> shapes;
  Shape unusual;
  std::vector<Slot> texts;
};

// Walks the tape into a JSONValue.
class Builder {
 public:
  // zeroSigns: the signs of the text's integer zeros ("0", "-0") in the order of the text, when it has a "-0";
  // the parser reads both as the integer 0. textSize sizes the table of shared texts.
  Builder(Scratch& scratch, std::vector<bool> zeroSigns, std::size_t textSize)
      : s_(scratch),
        zeroSigns_(std::move(zeroSigns)),
        textSlots_(std::clamp<std::size_t>(std::bit_ceil(textSize / 512 + 1), kFewestTexts, kMostTexts)) {
    if (s_.texts.size() < textSlots_) s_.texts.resize(textSlots_);
  }
  // Leaves the scratch empty (also after a refusal halfway): no value of this text outlives the decoding there.
  ~Builder() {
    s_.keys.clear();
    s_.values.clear();
    s_.elements.clear();
    for (std::size_t i = 0; i < textSlots_; ++i) s_.texts[i] = Scratch::Slot{};
  }
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;

  JSONValue build(element e, int depth) {
    switch (e.type()) {
      case element_type::ARRAY: {
        if (depth >= JSONValue::kMaxDepth) throw JSONDecodeError(depthErrorMessage());
        simdjson::dom::array source;
        if (e.get_array().get(source)) return JSONValue(JSONArray{});
        return array(source, depth);
      }
      case element_type::OBJECT: {
        if (depth >= JSONValue::kMaxDepth) throw JSONDecodeError(depthErrorMessage());
        simdjson::dom::object source;
        if (e.get_object().get(source)) return JSONBuilder::object(JSONObject{});
        return object(source, depth);
      }
      case element_type::INT64: {
        const std::int64_t value = e.get_int64().value_unsafe();
        if (value == 0 && nextZero_ < zeroSigns_.size() && zeroSigns_[nextZero_++]) return JSONValue(-0.0);
        return JSONValue(static_cast<double>(value));
      }
      case element_type::UINT64:
        return JSONValue(static_cast<double>(e.get_uint64().value_unsafe()));
      case element_type::DOUBLE:
        return JSONValue(e.get_double().value_unsafe());
      case element_type::STRING:
        return text(e.get_string().value_unsafe());
      case element_type::BOOL:
        return JSONValue(e.get_bool().value_unsafe());
      case element_type::NULL_VALUE:
        return JSONValue();
    }
    return JSONValue();
  }

 private:
  // The elements wait on the scratch stack; the array's own buffer is allocated once they are all built.
  JSONValue array(simdjson::dom::array source, int depth) {
    const std::size_t mark = s_.elements.size();
    for (element child : source) {
      JSONValue value = build(child, depth + 1);
      s_.elements.push_back(std::move(value));
    }
    const auto first = s_.elements.begin() + static_cast<std::ptrdiff_t>(mark);
    JSONArray elements(std::make_move_iterator(first), std::make_move_iterator(s_.elements.end()));
    s_.elements.erase(first, s_.elements.end());
    return JSONValue(std::move(elements));
  }

  // The members wait, keys and values apart, until their object is complete; the map is then filled in key
  // order (constant time per member). Keys are views into the parser's buffer, or into composedKeys_ for the few
  // that are not ASCII and are stored in their canonical form.
  JSONValue object(simdjson::dom::object source, int depth) {
    const std::size_t mark = s_.keys.size();
    const auto composedMark = composedKeys_.begin();
    for (simdjson::dom::key_value_pair field : source) {
      std::string_view key = field.key;
      if (!isAsciiText(key)) key = composedKeys_.emplace_front(canonicalKey(key));
      JSONValue value = build(field.value, depth + 1);
      s_.keys.push_back(key);
      s_.values.push_back(std::move(value));
    }
    const std::span<const std::string_view> keys(s_.keys.data() + mark, s_.keys.size() - mark);
    const std::span<const std::uint32_t> order = keyOrder(keys);
    JSONObject members;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::uint32_t at = order[i];
      // Of repeated keys the last one written wins: the order is stable, so it comes last.
      if (i + 1 < order.size() && keys[order[i + 1]] == keys[at]) continue;
      members.emplace_hint(members.end(), std::piecewise_construct, std::forward_as_tuple(keys[at]),
                           std::forward_as_tuple(std::move(s_.values[mark + at])));
    }
    s_.keys.resize(mark);
    s_.values.resize(mark);
    while (composedKeys_.begin() != composedMark) composedKeys_.pop_front();
    return JSONBuilder::object(std::move(members));
  }

  // The positions of the keys in ascending order, equal keys in the order written. Objects of one kind (the
  // orders of a plan, the rows of a list) repeat one sequence of keys, so the order found for the last object
  // with as many keys is tried first.
  std::span<const std::uint32_t> keyOrder(std::span<const std::string_view> keys) {
    const std::size_t n = keys.size();
    Scratch::Shape& shape = n < s_.shapes.size() ? s_.shapes[n] : s_.unusual;
    if (std::is_sorted(keys.begin(), keys.end())) {
      if (shape.order.size() != n || !shape.keys.empty()) {
        shape.keys.clear();
        shape.order.resize(n);
        std::iota(shape.order.begin(), shape.order.end(), 0u);
      }
      return shape.order;
    }
    if (shape.keys.size() == n && std::equal(keys.begin(), keys.end(), shape.keys.begin())) return shape.order;
    shape.order.resize(n);
    std::iota(shape.order.begin(), shape.order.end(), 0u);
    auto less = [&keys](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; };
    if (n > 48) {
      std::stable_sort(shape.order.begin(), shape.order.end(), less);
    } else {
      for (std::size_t i = 1; i < n; ++i) {
        const std::uint32_t moving = shape.order[i];
        std::size_t j = i;
        for (; j > 0 && less(moving, shape.order[j - 1]); --j) shape.order[j] = shape.order[j - 1];
        shape.order[j] = moving;
      }
    }
    shape.keys.assign(keys.begin(), keys.end());
    return shape.order;
  }

  // Equal short texts share one stored string: a plan repeats its windows, sources, driver names and empty
  // fields thousands of times. A small table remembers the text last met in each slot, so a repeated text is
  // found again while a text met once only passes through it. The views point into the parser's own buffer,
  // valid for the whole walk.
  JSONValue text(std::string_view text) {
    if (text.size() > kSharedLength) return JSONValue(largeStringCopy(text));
    Scratch::Slot& slot = s_.texts[slotHash(text) & (textSlots_ - 1)];
    if (!slot.value.isString() || slot.text != text) {
      slot.text = text;
      slot.value = JSONValue(text);
    }
    return slot.value;
  }

  // Where a text goes in the table: its length and a few of its bytes (the first, middle and last eight), mixed.
  // Texts that differ elsewhere only share a slot, and take turns in it.
  static std::size_t slotHash(std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::uint64_t h = n * 0x9E3779B97F4A7C15ULL;
    auto word = [p](std::size_t at) {
      std::uint64_t w;
      std::memcpy(&w, p + at, sizeof w);
      return w;
    };
    if (n >= 8) {
      h ^= word(0);
      h = (h * 0xBF58476D1CE4E5B9ULL) ^ word(n - 8);
      if (n > 16) h = (h * 0x94D049BB133111EBULL) ^ word(n / 2 - 4);
    } else {
      for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001B3ULL;
    }
    h ^= h >> 31;
    h *= 0xFF51AFD7ED558CCDULL;
    return static_cast<std::size_t>(h ^ (h >> 33));
  }

  static constexpr std::size_t kSharedLength = 160;  // a Cyrillic sentence of some eighty letters
  static constexpr std::size_t kFewestTexts = 16;
  static constexpr std::size_t kMostTexts = 4096;

  Scratch& s_;
  std::vector<bool> zeroSigns_;
  std::size_t nextZero_ = 0;
  std::size_t textSlots_;
  std::forward_list<std::string> composedKeys_;  // a stack: the nodes stay where they are
};

// The parser's own messages are English: the user reads one of these instead.
std::string messageFor(simdjson::error_code error) {
  switch (error) {
    case simdjson::DEPTH_ERROR:
      return depthErrorMessage();
    case simdjson::UTF8_ERROR:
      return "Не удалось прочитать JSON: текст не в кодировке UTF-8.";
    case simdjson::EMPTY:
      return "Не удалось прочитать JSON: текст пуст.";
    case simdjson::NUMBER_ERROR:
    case simdjson::NUMBER_OUT_OF_RANGE:
      return "Не удалось прочитать JSON: число записано неверно или выходит за допустимые пределы.";
    case simdjson::STRING_ERROR:
    case simdjson::UNESCAPED_CHARS:
    case simdjson::UNCLOSED_STRING:
      return "Не удалось прочитать JSON: строка записана неверно.";
    case simdjson::T_ATOM_ERROR:
    case simdjson::F_ATOM_ERROR:
    case simdjson::N_ATOM_ERROR:
      return "Не удалось прочитать JSON: вместо значения стоит неизвестное слово.";
    case simdjson::CAPACITY:
    case simdjson::MEMALLOC:
      return "Не удалось прочитать JSON: текст слишком велик.";
    default:
      return "Не удалось прочитать JSON: нарушена структура текста.";
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Calls visit(start, end, integral, integerDigits) for every number token of the text outside string literals
// (-digits[.digits][e[+-]digits], read leniently: the parser judges validity) and copies nothing. Only for the
// rare text the parser refused for a number.
template <class Visit>
void forEachNumber(std::string_view text, Visit&& visit) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {  // skip the whole string literal
      std::size_t j = i + 1;
      while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
      i = std::min(j + 1, text.size());
      continue;
    }
    if (!isDigit(c) && c != '-') {
      ++i;
      continue;
    }
    std::size_t j = i + (c == '-' ? 1 : 0);
    const std::size_t digitsStart = j;
    while (j < text.size() && isDigit(text[j])) ++j;
    const std::size_t integerDigits = j - digitsStart;
    bool integral = true;
    if (j < text.size() && text[j] == '.') {
      integral = false;
      for (++j; j < text.size() && isDigit(text[j]);) ++j;
    }
    if (j < text.size() && (text[j] == 'e' || text[j] == 'E')) {
      integral = false;
      ++j;
      if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
      while (j < text.size() && isDigit(text[j])) ++j;
    }
    j = std::max(j, i + 1);
    visit(i, j, integral, integerDigits);
    i = j;
  }
}

// The parser refuses integers beyond 64 bits (and negative ones below the 64-bit minimum), which JSON allows and
// which are read as doubles here. The text is copied with such integers given a fraction (".0"), which turns them
// into floating-point literals of the same value and leaves every other token, valid or not, as it was. Returns
// false when there are none.
bool widenLongIntegers(std::string_view text, std::string& out) {
  constexpr std::size_t kLongest64 = 19;  // longer integers may not fit; negative ones of 19 digits may not either
  bool changed = false;
  out.clear();
  out.reserve(text.size() + 64);
  std::size_t copied = 0;
  forEachNumber(text, [&](std::size_t start, std::size_t end, bool integral, std::size_t digits) {
    if (!integral || digits < kLongest64 || (digits == kLongest64 && text[start] != '-')) return;
    out.append(text.substr(copied, end - copied));
    out.append(".0");
    copied = end;
    changed = true;
  });
  out.append(text.substr(copied));
  return changed;
}

// The signs of the text's integer zeros ("0", "-0") in the order of the text, when one of them is "-0"; none
// otherwise. The parser reads both as the integer 0, but its first stage has already found where every value
// begins: only those bytes are looked at, never the inside of a string.
std::vector<bool> integerZeroSigns(const simdjson::dom::parser& parser, std::string_view text) {
  const std::uint32_t* starts = parser.implementation->structural_indexes.get();
  const std::uint32_t count = parser.implementation->n_structural_indexes;
  // A valid text has nothing but a separator or white space after an integer zero: no digit, fraction or exponent.
  auto zeroAt = [&text](std::size_t i) {
    const char next = i + 1 < text.size() ? text[i + 1] : ' ';
    return i < text.size() && text[i] == '0' && next != '.' && next != 'e' && next != 'E' && !isDigit(next);
  };
  const char* bytes = text.data();  // every structural position lies inside the text
  std::uint32_t n = 0;
  while (n < count && !(bytes[starts[n]] == '-' && zeroAt(starts[n] + 1))) ++n;
  if (n == count) return {};
  std::vector<bool> signs;
  for (n = 0; n < count; ++n) {
    const std::size_t start = starts[n];
    const bool minus = bytes[start] == '-';
    if ((minus || bytes[start] == '0') && zeroAt(start + (minus ? 1 : 0))) signs.push_back(minus);
  }
  return signs;
}

}  // namespace

namespace {

// Parses the text (in place when `padded`: it then has SIMDJSON_PADDING readable bytes past its end), calls
// `parsed` once the tape no longer needs the text, and walks the tape into a value.
template <class Parsed>
JSONValue parseAndBuild(std::string_view bytes, bool padded, Parsed parsed) {
  // Each thread keeps its parser, whose buffers have grown to the largest text it has read: the planning
  // document is decoded again on every change, and fresh buffers of that size cost a third of the time (page
  // faults, allocator work). A text beyond kKeptCapacity (the largest plans) gets a parser of its own, freed
  // afterwards, unless the thread's text before was that large too: a thread that reads such texts one after
  // another (a large plan changed again and again) keeps their buffers, up to kLargestKept, and lets them go at
  // its next smaller text. A single large text (an import) is never held for the rest of the thread's life.
  constexpr std::size_t kKeptCapacity = 16u << 20;
  constexpr std::size_t kLargestKept = 64u << 20;
  thread_local simdjson::dom::parser kept;
  thread_local bool lastLarge = false;
  const bool large = bytes.size() > kKeptCapacity;
  if (!large && kept.capacity() > kKeptCapacity) kept = simdjson::dom::parser();
  const bool keep = !large || (lastLarge && bytes.size() <= kLargestKept);
  lastLarge = large;
  std::optional<simdjson::dom::parser> own;
  simdjson::dom::parser& parser = keep ? kept : own.emplace();
  element root;
  simdjson::error_code error =
      parser.parse(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), !padded).get(root);
  std::string widened;
  std::string_view walked = bytes;
  if (error == simdjson::NUMBER_ERROR && widenLongIntegers(bytes, widened)) {
    walked = widened;
    error = parser.parse(widened.data(), widened.size()).get(root);
  }
  if (error) throw JSONDecodeError(messageFor(error));
  std::vector<bool> zeroSigns = integerZeroSigns(parser, walked);
  std::string().swap(widened);
  parsed();
  thread_local Scratch scratch;
  return Builder(scratch, std::move(zeroSigns), walked.size()).build(root, 0);
}

}  // namespace

JSONValue decodeWithSimdjson(std::string_view bytes, bool padded) {
  static_assert(JSONValue::kDecodePadding >= simdjson::SIMDJSON_PADDING);
  return parseAndBuild(bytes, padded, [] {});
}

JSONValue decodeTakingWithSimdjson(std::string text) {
  const std::size_t size = text.size();
  // The padding is written, not just reserved: the parser may read it.
  text.resize(size + JSONValue::kDecodePadding, ' ');
  return parseAndBuild(std::string_view(text.data(), size), true, [&text] { std::string().swap(text); });
}

}  // namespace dorvik
