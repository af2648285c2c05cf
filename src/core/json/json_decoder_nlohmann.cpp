// Decoding through nlohmann::json's SAX parser: events build the JSONValue on an explicit stack, so neither
// the parser nor the builder recurses.
#include <nlohmann/json.hpp>

#include "core/json/json_internal.h"
#include "core/json/json_value.h"

namespace dorvik {

namespace {

class SaxBuilder {
 public:
  using number_integer_t = nlohmann::json::number_integer_t;
  using number_unsigned_t = nlohmann::json::number_unsigned_t;
  using number_float_t = nlohmann::json::number_float_t;
  using string_t = nlohmann::json::string_t;
  using binary_t = nlohmann::json::binary_t;

  SaxBuilder() { stack_.reserve(64); }

  bool null() { return add(JSONValue()); }
  bool boolean(bool value) { return add(JSONValue(value)); }
  bool number_integer(number_integer_t value) { return add(JSONValue(static_cast<double>(value))); }
  bool number_unsigned(number_unsigned_t value) { return add(JSONValue(static_cast<double>(value))); }
  bool number_float(number_float_t value, const string_t&) { return add(JSONValue(value)); }
  // The parser's token buffer is handed over, not copied: a long text moves once.
  bool string(string_t& value) { return add(JSONValue(std::move(value))); }
  bool binary(binary_t&) { return false; }

  bool start_object(std::size_t) { return open(true); }
  bool key(string_t& key) {
    stack_.back().key = isAsciiText(key) ? std::move(key) : canonicalKey(key);
    return true;
  }
  bool end_object() {
    JSONObject members = std::move(stack_.back().object);
    stack_.pop_back();
    return add(JSONBuilder::object(std::move(members)));
  }
  bool start_array(std::size_t) { return open(false); }
  bool end_array() {
    JSONArray elements = std::move(stack_.back().array);
    stack_.pop_back();
    return add(JSONValue(std::move(elements)));
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    error_ = error.what();
    return false;
  }

  JSONValue take() {
    if (depthExceeded_) throw JSONDecodeError(depthErrorMessage());
    if (!error_.empty()) throw JSONDecodeError("Не удалось прочитать JSON (" + error_ + ").");
    return std::move(root_);
  }
  bool depthExceeded() const { return depthExceeded_; }

 private:
  struct Frame {
    bool isObject = false;
    JSONArray array;
    JSONObject object;
    std::string key;
  };

  bool open(bool isObject) {
    if (stack_.size() >= static_cast<std::size_t>(JSONValue::kMaxDepth)) {
      depthExceeded_ = true;
      return false;
    }
    stack_.emplace_back().isObject = isObject;
    return true;
  }

  bool add(JSONValue value) {
    if (stack_.empty()) {
      root_ = std::move(value);
    } else if (Frame& top = stack_.back(); top.isObject) {
      top.object.insert_or_assign(std::move(top.key), std::move(value));  // the last repeated key wins
    } else {
      top.array.push_back(std::move(value));
    }
    return true;
  }

  std::vector<Frame> stack_;
  JSONValue root_;
  std::string error_;
  bool depthExceeded_ = false;
};

}  // namespace

JSONValue decodeWithNlohmann(std::string_view bytes) {
  SaxBuilder builder;
  const bool ok = nlohmann::json::sax_parse(bytes.data(), bytes.data() + bytes.size(), &builder);
  if (!ok && !builder.depthExceeded()) {
    // parse_error has recorded the reason; an event that refused without one is a malformed text as well.
    JSONValue unused = builder.take();
    throw JSONDecodeError("Не удалось прочитать JSON.");
  }
  return builder.take();
}

}  // namespace dorvik
