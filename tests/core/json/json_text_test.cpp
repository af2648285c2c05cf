// Reading and writing JSON text: round trips, the writer's exact form, refusals, locale independence.
#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/json/json_value.h"

namespace dorvik {
namespace {

JSONValue everyShape() {
  return JSONValue::object({
      {"null", nullptr},
      {"yes", true},
      {"no", false},
      {"int", 42},
      {"negative", -17.25},
      {"tiny", 2.5e-7},
      {"huge", 1.7976931348623157e308},
      {"text", "Москва, ул. Тверская \"7\"\\\n\t/"},
      {"empty", ""},
      {"list", JSONValue::array({1, "два", JSONValue::array({}), JSONValue::object({})})},
      {"nested", JSONValue::object({{"a", JSONValue::object({{"b", JSONValue::array({nullptr, false})}})}})},
  });
}

TEST(JsonText, EveryShapeSurvivesARoundTrip) {
  const JSONValue value = everyShape();
  const std::string text = value.data();
  const JSONValue back = JSONValue::decode(text);
  EXPECT_EQ(back, value);
  EXPECT_EQ(back.data(), text);  // the written form is canonical
  EXPECT_EQ(back.path("nested.a.b").at(1), JSONValue(false));
}

TEST(JsonText, NumbersRoundTripBitForBit) {
  const double values[] = {0.0,
                           1.0,
                           -1.0,
                           0.1,
                           1e-7,
                           123456.789,
                           1e15,
                           1e14,
                           1e21,
                           1e300,
                           5e-324,
                           9007199254740993.0,
                           4503599627370497.5,
                           -2.5e-8,
                           0.0001,
                           1e-5,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min()};
  for (double x : values) {
    const std::string text = JSONValue(JSONArray{x}).data();
    const double back = *JSONValue::decode(text).at(0).doubleValue();
    EXPECT_EQ(std::memcmp(&back, &x, sizeof x), 0) << text;
  }
}

TEST(JsonText, WriterForm) {
  // Sorted keys, no spaces.
  EXPECT_EQ(JSONValue::object({{"b", 1}, {"a", JSONValue::array({true, nullptr})}}).data(),
            R"({"a":[true,null],"b":1})");
  // Keys sort by their UTF-8 bytes at every depth: upper case before lower case before Cyrillic.
  EXPECT_EQ(JSONValue::object({{"я", 1}, {"b", JSONValue::object({{"z", 1}, {"y", 2}})}, {"B", 3}, {"а", 4}}).data(),
            R"({"B":3,"b":{"y":2,"z":1},"а":4,"я":1})");
  // Whole numbers without a fraction, others in shortest form.
  EXPECT_EQ(JSONValue(JSONArray{3.0, -0.0, 0.5, 1e14, 1e15, 1e-7, -12.75}).data(),
            "[3,-0,0.5,100000000000000,1e+15,1e-07,-12.75]");
  // Escapes: quote, backslash and control characters; "/", DEL and Cyrillic stay as they are.
  EXPECT_EQ(JSONValue(std::string("q\"b\\s/\x7f\n\r\t\b\f\x01\x1f\0я", 17)).data(),
            "\"q\\\"b\\\\s/\x7f\\n\\r\\t\\b\\f\\u0001\\u001f\\u0000я\"");
  EXPECT_EQ(JSONValue("ключ").data(), "\"ключ\"");
}

TEST(JsonText, MalformedUtf8InProgramTextIsWrittenAsReplacementCharacters) {
  const JSONValue value(
      std::string("a\xC3(b\xED\xA0\x80"
                  "c\xF0\x9F\x98",
                  11));
  const std::string text = value.data();
  const JSONValue back = JSONValue::decode(text);  // still valid JSON
  EXPECT_EQ(back.string(), "a\uFFFD(b\uFFFD\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFD");
}

TEST(JsonText, NonFiniteNumbersAreRefusedAnywhere) {
  const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double x : bad) {
    EXPECT_THROW(JSONValue(x).data(), JSONEncodeError);
    JSONValue deep = everyShape();
    deep.member("nested").member("a").member("b").push(x);
    EXPECT_THROW(deep.data(), JSONEncodeError);
    EXPECT_THROW(deep.json(), JSONEncodeError);
  }
}

TEST(JsonText, DecodesEachCaseAsItsOwnKind) {
  EXPECT_EQ(JSONValue::decode("1").kind(), JSONValue::Kind::Number);
  EXPECT_EQ(JSONValue::decode("true").kind(), JSONValue::Kind::Bool);
  EXPECT_EQ(JSONValue::decode("\"a\"").kind(), JSONValue::Kind::String);
  EXPECT_EQ(JSONValue::decode(" null ").kind(), JSONValue::Kind::Null);
  EXPECT_EQ(JSONValue::decode("[]").kind(), JSONValue::Kind::Array);
  EXPECT_EQ(JSONValue::decode("{}").kind(), JSONValue::Kind::Object);
  EXPECT_TRUE(std::signbit(*JSONValue::decode("-0.0").doubleValue()));
  // Negative zero keeps its sign however it is written; a plain zero has none.
  const std::pair<const char*, const char*> zeros[] = {
      {"-0", "-0"}, {"[-0, 0]", "[-0,0]"}, {R"({"a":-0})", R"({"a":-0})"}, {"-0e0", "-0"}, {"0", "0"},
      // A "-0" inside a text is no number: the zeros after it keep their own signs.
      {R"({"id":"A-0","d":"2026-01-05","z":[0,-0,"-0",-0.0,-1,0, -0 ]})",
       R"({"d":"2026-01-05","id":"A-0","z":[0,-0,"-0",-0,-1,0,-0]})"}};
  for (const auto& [text, written] : zeros) EXPECT_EQ(JSONValue::decode(text).data(), written) << text;
  // Every 64-bit integer, down to the minimum and past it with 19 digits, is a number.
  EXPECT_EQ(*JSONValue::decode("-9223372036854775808").doubleValue(), -9223372036854775808.0);
  EXPECT_EQ(*JSONValue::decode("-9223372036854775809").doubleValue(), -9223372036854775808.0);
  EXPECT_EQ(*JSONValue::decode("[-9999999999999999999]").array().at(0).doubleValue(), -1e19);
  EXPECT_EQ(*JSONValue::decode("9999999999999999999").doubleValue(), 1e19);
  // Integers beyond 64 bits are numbers too, with the precision of a double.
  EXPECT_DOUBLE_EQ(*JSONValue::decode("123456789012345678901234567890").doubleValue(), 1.2345678901234568e29);
  EXPECT_EQ(*JSONValue::decode("18446744073709551615").doubleValue(), 18446744073709551616.0);
  EXPECT_EQ(JSONValue::decode(R"({"big":[-100000000000000000000000,"12345678901234567890123"]})"),
            JSONValue::object({{"big", JSONValue::array({-1e23, "12345678901234567890123"})}}));
  EXPECT_EQ(JSONValue::decode("[1.12345678901234567890123,1e-12345678901234567890,123456789012345678901]"),
            JSONValue::array({1.1234567890123457, 0.0, 1.2345678901234568e20}));
  EXPECT_THROW(JSONValue::decode("[012345678901234567890123]"), JSONDecodeError);
  EXPECT_THROW(JSONValue::decode("[1e123456789012345678901]"), JSONDecodeError);
  EXPECT_THROW(JSONValue::decode("[12345678901234567890123x]"), JSONDecodeError);
  // Escapes, a surrogate pair and a zero character.
  EXPECT_EQ(JSONValue::decode(R"("\u00e9\ud83d\ude00\/\u0000x")").string(), std::string("é😀/\0x", 9));
}

TEST(JsonText, RepeatedKeysKeepTheLastMember) {
  const JSONValue value = JSONValue::decode(R"({"a":1,"b":2,"a":3})");
  EXPECT_EQ(value.size(), 2u);
  EXPECT_EQ(value["a"].intValue(), 3);
  // Composed and decomposed spellings of one key are one member as well.
  const JSONValue spelled = JSONValue::decode("{\"\xD0\xB9\":1,\"\xD0\xB8\xCC\x86\":2}");
  EXPECT_EQ(spelled.size(), 1u);
  EXPECT_EQ(spelled["й"].intValue(), 2);
  // Rows of one kind repeat their keys in one order; rows of another kind with as many keys, rows with a repeated
  // key and keys to be composed each still get their own members.
  const JSONValue rows = JSONValue::decode(
      "[{\"b\":1,\"a\":2},{\"d\":3,\"c\":4},{\"b\":5,\"a\":6,\"b\":7},{\"b\":8,\"a\":9},"
      "{\"b\":10,\"a\":11,\"b\":12},{\"a\":13,\"b\":14},{\"b\":15,\"a\":16},"
      "{\"\xD0\xB9\":1,\"x\":{\"\xD0\xB8\xCC\x86\":2,\"a\":3}}]");
  EXPECT_EQ(rows.data(),
            "[{\"a\":2,\"b\":1},{\"c\":4,\"d\":3},{\"a\":6,\"b\":7},{\"a\":9,\"b\":8},{\"a\":11,\"b\":12},"
            "{\"a\":13,\"b\":14},{\"a\":16,\"b\":15},{\"x\":{\"a\":3,\"\xD0\xB9\":2},\"\xD0\xB9\":1}]");
}

TEST(JsonText, MalformedTextIsRefused) {
  const char* texts[] = {"",     "   ",      "[1,]",        "{\"a\"}",    "{\"a\":1,}", "01",    "1 2",           "nan",
                         "NaN",  "Infinity", "[1e400]",     "'a'",        "[\"a]",      "{a:1}", "\"tab\there\"", "tru",
                         "[1]x", "\"\\x\"",  "\"\\ud800\"", "[\"\\u12\"]"};
  // Each is refused with Russian text alone: past the word "JSON", no Latin letter of the parser's own English.
  for (const char* text : texts) {
    std::string message = "<no failure>";
    try {
      (void)JSONValue::decode(text);
    } catch (const JSONDecodeError& e) {
      message = e.what();
    }
    const std::string lead = "Не удалось прочитать JSON";
    ASSERT_EQ(message.rfind(lead, 0), 0u) << text << ": " << message;
    EXPECT_FALSE(std::any_of(message.begin() + lead.size(), message.end(), [](char c) { return g_ascii_isalpha(c); }))
        << text << ": " << message;
  }
}

TEST(JsonText, InvalidUtf8IsRefused) {
  const std::string texts[] = {
      "\"\xC3(\"",             // broken two-byte sequence
      "\"\xC0\xAF\"",          // overlong "/"
      "\"\xED\xA0\x80\"",      // an encoded surrogate
      "\"\xF4\x90\x80\x80\"",  // beyond U+10FFFF
      "\"\xFF\"",
      "{\"\xE2\x82\":1}",  // truncated, in a key
  };
  for (const std::string& text : texts) EXPECT_THROW(JSONValue::decode(text), JSONDecodeError) << text;
}

std::string nestedArrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string nestedObjects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "{\"a\":";
  text += "1";
  text += std::string(depth, '}');
  return text;
}

TEST(JsonText, NestingIsLimited) {
  const int limit = JSONValue::kMaxDepth;
  EXPECT_NO_THROW(JSONValue::decode(nestedArrays(limit)));
  EXPECT_NO_THROW(JSONValue::decode(nestedObjects(limit)));
  EXPECT_THROW(JSONValue::decode(nestedArrays(limit + 1)), JSONDecodeError);
  EXPECT_THROW(JSONValue::decode(nestedObjects(limit + 1)), JSONDecodeError);
  EXPECT_THROW(JSONValue::decode(std::string(100000, '[')), JSONDecodeError);
  // Refused halfway, with members and elements waiting for their object and array: the next text has only its own.
  EXPECT_THROW(JSONValue::decode(R"([1,{"a":"x","b":)" + nestedArrays(limit + 1) + "}]"), JSONDecodeError);
  EXPECT_EQ(JSONValue::decode(R"({"c":[2,"x"]})").data(), R"({"c":[2,"x"]})");
  try {
    JSONValue::decode(nestedArrays(100000));
    FAIL() << "100,000 nested arrays were accepted";
  } catch (const JSONDecodeError& error) {
    EXPECT_NE(std::string(error.what()).find(std::to_string(limit)), std::string::npos) << error.what();
  }
  // A value built deeper by program code is refused by the writer instead of overflowing the stack.
  JSONValue deep = JSONValue::decode(nestedArrays(limit));
  EXPECT_EQ(JSONValue::decode(deep.data()), deep);
  EXPECT_THROW(JSONValue(JSONArray{deep}).data(), JSONEncodeError);
}

TEST(JsonText, LargeTextsTravelWhole) {
  std::string big(3 << 20, 'A');
  big[12345] = '"';  // one escape in the middle
  const JSONValue value = JSONValue::object({{"workbook", big}, {"n", 1}});
  const JSONValue back = JSONValue::decode(value.data());
  EXPECT_EQ(back["workbook"].stringView(), big);
}

// A text taken over is read as the same text given as a view: where it lies (with the padding's room), copied
// (without it), through the long-integer path, and refused alike. Repeated short texts share their storage and
// still read as themselves.
TEST(JsonText, ATextTakenOverDecodesAsTheSameText) {
  std::string many = "[";
  for (int i = 0; i < 5000; ++i) many += std::string(i ? "," : "") + R"({"window":"09:00-18:00","source":"file","n":)" +
                                         std::to_string(i) + "}";
  many += "]";
  const std::string texts[] = {everyShape().data(), many, std::string(20 << 20, ' ') + "[123456789012345678901234567890]",
                               R"({"a":"é","a":2})"};
  for (const std::string& text : texts) {
    const JSONValue expected = JSONValue::decode(text);
    std::string roomy;
    roomy.reserve(text.size() + JSONValue::kDecodePadding);
    roomy = text;
    EXPECT_EQ(JSONValue::decodeTaking(std::move(roomy)), expected) << text.substr(0, 60);
    EXPECT_EQ(JSONValue::decodeTaking(text), expected) << text.substr(0, 60);
    // A text with the padding's room in its capacity is read where it lies.
    std::string padded;
    padded.reserve(text.size() + JSONValue::kDecodePadding);
    padded = text;
    EXPECT_EQ(JSONValue::decode(padded), expected) << text.substr(0, 60);
  }
  const JSONValue rows = JSONValue::decode(many);
  EXPECT_EQ(rows.at(4999)["window"].string(), "09:00-18:00");
  EXPECT_EQ(rows.at(4999)["window"].stringView().data(), rows.at(0)["window"].stringView().data());
  for (const char* text : {"", "[1,]", "\"\xC3(\"", "{\"a\":1}x"}) {
    EXPECT_THROW(JSONValue::decodeTaking(text), JSONDecodeError) << text;
  }
}

TEST(JsonText, ThreadsDecodeAndShareValuesIndependently) {
  const JSONValue shared = everyShape();
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        JSONValue copy = shared;  // shares the payload with the other threads' copies
        copy.member("nested").member("a").set("thread", t);
        const JSONValue back = JSONValue::decode(copy.data());
        if (back.path("nested.a.thread").intValue() != t || back["text"] != shared["text"]) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(shared, everyShape());
}

class RussianLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8")) GTEST_SKIP() << "the ru_RU.UTF-8 locale is not installed";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(RussianLocale, NumbersReadAndWriteTheSame) {
  EXPECT_EQ(JSONValue(JSONArray{12.5, 0.001, 1e-7, 1e20}).data(), "[12.5,0.001,1e-07,1e+20]");
  EXPECT_EQ(JSONValue(12.5).string(), "12.5");
  EXPECT_EQ(JSONValue(2.5e-7).string(), "2.5e-07");
  EXPECT_EQ(JSONValue("12.5").doubleValue(), 12.5);
  EXPECT_EQ(JSONValue("12,5").doubleValue(), 12.5);
  EXPECT_EQ(JSONValue::decode("[12.5,-0.25e1]"), JSONValue(JSONArray{12.5, -2.5}));
}

}  // namespace
}  // namespace dorvik
