#include "shell/toolkit/form.h"

#include <cmath>

#include "core/base/errors.h"

namespace dorvik {

namespace {
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Trims ASCII white space and the Unicode spaces and line breaks a pasted text may carry.
std::string trimmed(const std::string& text) {
  static const std::string_view kWide[] = {"\u00a0", "\u2028", "\u2029", "\u0085", "\u2007", "\u202f", "\u3000",
                                           "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006",
                                           "\u2008", "\u2009", "\u200a", "\u1680", "\u205f"};
  std::string_view s = text;
  for (bool changed = true; changed && !s.empty();) {
    changed = false;
    if (isSpace(s.front())) {
      s.remove_prefix(1);
      changed = true;
      continue;
    }
    if (isSpace(s.back())) {
      s.remove_suffix(1);
      changed = true;
      continue;
    }
    for (std::string_view w : kWide) {
      if (s.starts_with(w)) {
        s.remove_prefix(w.size());
        changed = true;
        break;
      }
      if (s.ends_with(w)) {
        s.remove_suffix(w.size());
        changed = true;
        break;
      }
    }
  }
  return std::string(s);
}
}  // namespace

namespace ValueFields {
std::string text(const JSONValue& value, const FieldSpec& field) { return value[field.key].string(); }
void setText(JSONValue& value, const FieldSpec& field, std::string text) {
  value.set(field.key, JSONValue(std::move(text)));
}
bool flag(const JSONValue& value, const FieldSpec& field) { return value[field.key].boolValue(); }
void setFlag(JSONValue& value, const FieldSpec& field, bool on) { value.set(field.key, JSONValue(on)); }
}  // namespace ValueFields

JSONValue validated(const JSONValue& value, const std::vector<FieldSpec>& fields, bool /*patch*/) {
  JSONValue result = JSONValue::object({});
  for (const FieldSpec& field : fields) {
    const JSONValue& v = value[field.key];
    std::string text = v.string();
    if (field.required && trimmed(text).empty()) throw DorvikError("Заполните поле «" + field.title + "».");
    switch (field.kind) {
      case FieldSpec::Kind::secret:
        if (!text.empty()) result.set(field.key, JSONValue(std::move(text)));
        break;
      case FieldSpec::Kind::toggle:
        result.set(field.key, JSONValue(v.boolValue()));
        break;
      case FieldSpec::Kind::number: {
        if (text.empty()) {
          result.set(field.key, JSONValue());
          break;
        }
        std::optional<double> number = v.doubleValue();
        if (!number || !std::isfinite(*number)) throw DorvikError("«" + field.title + "» должно быть числом.");
        result.set(field.key, JSONValue(*number));
        break;
      }
      case FieldSpec::Kind::text:
      case FieldSpec::Kind::longText:
        result.set(field.key, JSONValue(std::move(text)));
        break;
    }
  }
  return result;
}

}  // namespace dorvik
