// Decoding through simdjson's DOM parser: the parse validates the text (JSON grammar, UTF-8, escapes) into a
// tape, which is then walked once into a JSONValue.
#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/json/json_internal.h"
#include "core/json/json_value.h"

namespace dorvik {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Walks the tape into a JSONValue. Members of the objects being built wait on one shared stack, so that each
// object's map is filled from sorted input (constant time per member) without an allocation of its own.
class Builder {
 public:
  // zeroSigns: the signs of the text's integer zeros ("0", "-0") in the order of the text, when it has a "-0";
  // the parser reads both as the integer 0.
  explicit Builder(std::vector<bool> zeroSigns = {}) : zeroSigns_(std::move(zeroSigns)) {}

  JSONValue build(element e, int depth) {
    switch (e.type()) {
      case element_type::ARRAY: {
        if (depth >= JSONValue::kMaxDepth) throw JSONDecodeError(depthErrorMessage());
        simdjson::dom::array source;
        if (e.get_array().get(source)) return JSONValue(JSONArray{});
        JSONArray elements;
        elements.reserve(source.size());
        for (element child : source) elements.push_back(build(child, depth + 1));
        return JSONValue(std::move(elements));
      }
      case element_type::OBJECT: {
        if (depth >= JSONValue::kMaxDepth) throw JSONDecodeError(depthErrorMessage());
        simdjson::dom::object source;
        if (e.get_object().get(source)) return JSONBuilder::object(JSONObject{});
        const std::size_t mark = pending_.size();
        for (simdjson::dom::key_value_pair field : source) {
          std::string key = canonicalKey(field.key);
          JSONValue value = build(field.value, depth + 1);
          pending_.emplace_back(std::move(key), std::move(value));
        }
        const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(mark);
        sortStable(first, pending_.end());
        JSONObject members;
        for (auto it = first; it != pending_.end(); ++it) {
          if (std::next(it) != pending_.end() && std::next(it)->first == it->first) continue;
          members.emplace_hint(members.end(), std::move(it->first), std::move(it->second));
        }
        pending_.erase(first, pending_.end());
        return JSONBuilder::object(std::move(members));
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
      case element_type::STRING: {
        const std::string_view text = e.get_string().value_unsafe();
        if (text.size() > kSharedLength) return JSONValue(largeStringCopy(text));
        auto [it, added] = strings_.try_emplace(text);
        if (added) it->second = JSONValue(text);
        return it->second;
      }
      case element_type::BOOL:
        return JSONValue(e.get_bool().value_unsafe());
      case element_type::NULL_VALUE:
        return JSONValue();
    }
    return JSONValue();
  }

 private:
  using Member = std::pair<std::string, JSONValue>;
  using Iterator = std::vector<Member>::iterator;

  // Stable, so that of repeated keys the last one written stays last and wins. Objects are small: an insertion
  // sort needs no buffer of its own.
  static void sortStable(Iterator first, Iterator last) {
    auto less = [](const Member& a, const Member& b) { return a.first < b.first; };
    if (last - first > 48) {
      std::stable_sort(first, last, less);
      return;
    }
    for (auto i = first + (first != last ? 1 : 0); i < last; ++i) {
      if (!less(*i, *(i - 1))) continue;
      Member moving = std::move(*i);
      auto j = i;
      do {
        *j = std::move(*(j - 1));
        --j;
      } while (j != first && less(moving, *(j - 1)));
      *j = std::move(moving);
    }
  }

  std::vector<Member> pending_;
  std::vector<bool> zeroSigns_;
  std::size_t nextZero_ = 0;
  // Equal short texts share one stored string: a plan repeats its windows, sources and empty fields thousands
  // of times. The views point into the parser's own buffer, valid for the whole walk.
  static constexpr std::size_t kSharedLength = 48;
  std::unordered_map<std::string_view, JSONValue> strings_;
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
// (-digits[.digits][e[+-]digits], read leniently: the parser judges validity) and copies nothing.
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

// The signs of the integer zeros of the text, in order, when one of them is written "-0"; none otherwise. A "-0"
// that is no number of its own (inside a string, a date "2026-01-05" or "-07") rarely passes the quick look, and
// the exact walk then finds it is none.
std::vector<bool> integerZeroSigns(std::string_view text) {
  bool candidate = false;
  for (std::size_t at = text.find("-0"); at != std::string_view::npos && !candidate; at = text.find("-0", at + 1)) {
    const char next = at + 2 < text.size() ? text[at + 2] : ' ';
    candidate = !isDigit(next) && next != '.' && next != 'e' && next != 'E';
  }
  if (!candidate) return {};
  std::vector<bool> signs;
  bool negative = false;
  forEachNumber(text, [&](std::size_t start, std::size_t end, bool integral, std::size_t digits) {
    if (!integral || digits != 1 || text[end - 1] != '0') return;
    signs.push_back(text[start] == '-');
    negative = negative || text[start] == '-';
  });
  if (!negative) signs.clear();
  return signs;
}

}  // namespace

namespace {

// Parses the text (in place when `padded`: it then has SIMDJSON_PADDING readable bytes past its end), calls
// `parsed` once the tape no longer needs the text, and walks the tape into a value.
template <class Parsed>
JSONValue parseAndBuild(std::string_view bytes, bool padded, Parsed parsed) {
  // Each thread keeps its parser, whose buffers have grown to the largest text it has read: the planning
  // document is decoded again on every change, and fresh buffers of that size cost a third of the time
  // (page faults, allocator work). Texts beyond kKeptCapacity (the largest plans) get a parser of their own,
  // freed afterwards, so that a thread does not hold their tape for the rest of its life.
  constexpr std::size_t kKeptCapacity = 16u << 20;
  thread_local simdjson::dom::parser kept;
  std::optional<simdjson::dom::parser> own;
  simdjson::dom::parser& parser = bytes.size() <= kKeptCapacity ? kept : own.emplace();
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
  std::vector<bool> zeroSigns = integerZeroSigns(walked);
  std::string().swap(widened);
  parsed();
  return Builder(std::move(zeroSigns)).build(root, 0);
}

}  // namespace

JSONValue decodeWithSimdjson(std::string_view bytes) {
  return parseAndBuild(bytes, false, [] {});
}

JSONValue decodeTakingWithSimdjson(std::string text) {
  static_assert(JSONValue::kDecodePadding >= simdjson::SIMDJSON_PADDING);
  const std::size_t size = text.size();
  // The padding is written, not just reserved: the parser may read it.
  text.resize(size + JSONValue::kDecodePadding, ' ');
  return parseAndBuild(std::string_view(text.data(), size), true, [&text] { std::string().swap(text); });
}

}  // namespace dorvik
