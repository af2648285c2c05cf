#include <gtest/gtest.h>

#include "core/base/errors.h"
#include "shell/toolkit/form.h"

using namespace dorvik;
using Kind = FieldSpec::Kind;

namespace {
std::string failure(const JSONValue& value, const std::vector<FieldSpec>& fields) {
  try {
    validated(value, fields, false);
  } catch (const DorvikError& e) {
    EXPECT_EQ(e.status(), 0);
    return e.message();
  }
  return "(passed)";
}
}  // namespace

TEST(Validated, RequiredFieldsAreTestedAfterTrimming) {
  std::vector<FieldSpec> fields{{"name", "Название", Kind::text, true}};
  EXPECT_EQ(failure(JSONValue::object({{"name", " \n\t "}}), fields), "Заполните поле «Название».");
  EXPECT_EQ(failure(JSONValue::object({{"name", "\u00a0"}}), fields), "Заполните поле «Название».");
  EXPECT_EQ(failure(JSONValue::object({}), fields), "Заполните поле «Название».");
  // Sent untrimmed once it passes.
  EXPECT_EQ(validated(JSONValue::object({{"name", " Склад "}}), fields, false)["name"].string(), " Склад ");
  // A required toggle holding false passes: its text is "Нет".
  std::vector<FieldSpec> toggle{{"on", "Активен", Kind::toggle, true}};
  EXPECT_EQ(validated(JSONValue::object({{"on", false}}), toggle, true)["on"], JSONValue(false));
}

TEST(Validated, AnEmptySecretIsLeftOut) {
  std::vector<FieldSpec> fields{{"password", "Пароль", Kind::secret, false}};
  JSONValue out = validated(JSONValue::object({{"password", ""}}), fields, false);
  EXPECT_FALSE(out.contains("password"));
  EXPECT_TRUE(out.isObject());
  out = validated(JSONValue::object({{"password", " секрет "}}), fields, false);
  EXPECT_EQ(out["password"].string(), " секрет ");
}

TEST(Validated, Numbers) {
  std::vector<FieldSpec> fields{{"weight", "Вес", Kind::number, false}};
  auto read = [&](JSONValue v) { return validated(JSONValue::object({{"weight", v}}), fields, false)["weight"]; };
  EXPECT_TRUE(read(JSONValue("")).isNull());
  EXPECT_TRUE(validated(JSONValue::object({}), fields, false)["weight"].isNull());
  EXPECT_TRUE(validated(JSONValue::object({}), fields, false).contains("weight"));
  EXPECT_EQ(read(JSONValue("12,5")), JSONValue(12.5));
  EXPECT_EQ(read(JSONValue(7)), JSONValue(7));
  EXPECT_EQ(failure(JSONValue::object({{"weight", " "}}), fields), "«Вес» должно быть числом.");
  EXPECT_EQ(failure(JSONValue::object({{"weight", "inf"}}), fields), "«Вес» должно быть числом.");
  EXPECT_EQ(failure(JSONValue::object({{"weight", "nan"}}), fields), "«Вес» должно быть числом.");
  EXPECT_EQ(failure(JSONValue::object({{"weight", "12 кг"}}), fields), "«Вес» должно быть числом.");
  // Required and empty: the required message, not the number one.
  std::vector<FieldSpec> required{{"weight", "Вес", Kind::number, true}};
  EXPECT_EQ(failure(JSONValue::object({{"weight", ""}}), required), "Заполните поле «Вес».");
}

TEST(Validated, UnknownKeysAreDroppedAndTextsFilled) {
  std::vector<FieldSpec> fields{{"name", "Название", Kind::text, false}, {"note", "Заметка", Kind::longText, false}};
  JSONValue value = JSONValue::object({{"name", "A"}, {"secretId", 5}});
  JSONValue out = validated(value, fields, false);
  EXPECT_EQ(out, JSONValue::object({{"name", "A"}, {"note", ""}}));
  EXPECT_EQ(validated(value, fields, true), out);
}

TEST(Validated, TheFirstFailingFieldInTableOrderWins) {
  std::vector<FieldSpec> fields{{"b", "Второе", Kind::number, false}, {"a", "Первое", Kind::text, true}};
  EXPECT_EQ(failure(JSONValue::object({{"b", "x"}}), fields), "«Второе» должно быть числом.");
}

TEST(ValueFields, BindingsKeepOtherMembers) {
  FieldSpec weight{"weight", "Вес", Kind::number, false};
  FieldSpec on{"on", "Активен", Kind::toggle, false};
  JSONValue value = JSONValue::object({{"weight", 3}, {"hidden", "x"}});
  EXPECT_EQ(ValueFields::text(value, weight), "3");
  ValueFields::setText(value, weight, "4,5");
  ValueFields::setFlag(value, on, true);
  EXPECT_EQ(value["weight"], JSONValue("4,5"));
  EXPECT_EQ(value["hidden"], JSONValue("x"));
  EXPECT_TRUE(ValueFields::flag(value, on));
}
