#include "shell/toolkit/form.h"

#include <cmath>

#include "core/base/errors.h"
#include "core/base/text.h"

namespace dorvik {

namespace ValueFields {
std::string text(const JSONValue& value, const FieldSpec& field) { return value[field.key].string(); }
void setText(JSONValue& value, const FieldSpec& field, std::string text) {
  value.set(field.key, JSONValue(std::move(text)));
}
bool flag(const JSONValue& value, const FieldSpec& field) { return value[field.key].boolValue(); }
void setFlag(JSONValue& value, const FieldSpec& field, bool on) { value.set(field.key, JSONValue(on)); }

bool sameEntry(const JSONValue& a, const JSONValue& b, const FieldSpec& field) {
  if (field.kind == FieldSpec::Kind::toggle) return flag(a, field) == flag(b, field);
  if (text(a, field) == text(b, field)) return true;
  if (field.kind != FieldSpec::Kind::number) return false;
  std::optional<double> x = a[field.key].doubleValue(), y = b[field.key].doubleValue();
  return x && y && *x == *y;
}

std::vector<std::string> follow(JSONValue& edited, const JSONValue& shown, const JSONValue& fresh,
                                const std::vector<FieldSpec>& fields) {
  std::vector<std::string> changed;
  for (const FieldSpec& field : fields) {
    if (!sameEntry(edited, shown, field) || sameEntry(edited, fresh, field)) continue;
    edited.set(field.key, fresh[field.key]);
    changed.push_back(field.key);
  }
  return changed;
}
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
