// The value model: lenient readers, members and paths, copy on write, canonical equivalence, records.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "core/json/json_value.h"

namespace dorvik {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// "й" composed (U+0439) and decomposed (U+0438 U+0306).
const std::string kComposed = "\xD0\xB9";
const std::string kDecomposed = "\xD0\xB8\xCC\x86";

TEST(JsonReaders, TextOfEachCase) {
  const std::pair<JSONValue, std::string> cases[] = {
      {3.0, "3"},
      {-0.0, "-0"},
      {0.0, "0"},
      {-42.0, "-42"},
      {8999999999999998.0, "8999999999999998"},
      {9007199254740992.0, "9007199254740992"},
      {2.5, "2.5"},
      {12.75, "12.75"},
      {-7.9, "-7.9"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {2.5e-7, "2.5e-07"},
      {-2.5e-7, "-2.5e-07"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e20, "100000000000000000000"},
      {1e23, "99999999999999991611392"},  // every digit of the double, as "%.0f"
      {kInf, "inf"},
      {-kInf, "-inf"},
      {std::nan(""), "nan"},
      {true, "Да"},
      {false, "Нет"},
      {"as is", "as is"},
      {JSONValue::array({1}), ""},
      {JSONValue::object({{"a", 1}}), ""},
      {nullptr, ""},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.string(), text);
}

TEST(JsonReaders, NumberOfEachCase) {
  const std::pair<JSONValue, std::optional<double>> cases[] = {
      {12.5, 12.5},          {"12,5", 12.5},          {"12.5", 12.5},
      {"-3", -3.0},          {"1e3", 1000.0},         {"0x1p4", 16.0},            // hexadecimal floating form of strtod
      {"INF", kInf},         {"-Infinity", -kInf},    {"1,234.5", std::nullopt},  // becomes 1.234.5
      {" 12", std::nullopt}, {"12 ", std::nullopt},   {"12abc", std::nullopt},
      {"", std::nullopt},    {"abc", std::nullopt},   {std::string("1\0002", 3), std::nullopt},
      {true, std::nullopt},  {nullptr, std::nullopt}, {JSONValue::array({1}), std::nullopt},
  };
  for (const auto& [value, number] : cases) EXPECT_EQ(value.doubleValue(), number) << value.string();
  EXPECT_TRUE(std::isnan(*JSONValue("nan").doubleValue()));
  EXPECT_TRUE(std::isnan(*JSONValue("NaN").doubleValue()));
}

TEST(JsonReaders, WholeNumberIsTotal) {
  const std::pair<JSONValue, std::int64_t> cases[] = {
      {"12,9", 12},
      {"abc", 0},
      {true, 0},
      {-7.9, -7},
      {12.9, 12},
      {nullptr, 0},
      {std::nan(""), 0},
      {"nan", 0},
      {kInf, kMax},
      {-kInf, kMin},
      {1e19, kMax},
      {-1e19, kMin},
      {"1e300", kMax},
      {9223372036854775808.0, kMax},   // 2^63: the first value out of range
      {-9223372036854775808.0, kMin},  // -2^63 itself is in range
      {9223372036854774784.0, 9223372036854774784},
  };
  for (const auto& [value, whole] : cases) EXPECT_EQ(value.intValue(), whole) << value.string();
}

TEST(JsonReaders, TruthOfEachCase) {
  const std::pair<JSONValue, bool> cases[] = {
      {true, true},  {false, false},       {2.0, true},      {0.0, false},
      {-0.0, false}, {std::nan(""), true}, {"true", false},  {"yes", false},
      {"2", true},   {"1", true},          {"0,5", true},    {"0,0", false},
      {"0", false},  {"", false},          {nullptr, false}, {JSONValue::array({1}), false},
  };
  for (const auto& [value, truth] : cases) EXPECT_EQ(value.boolValue(), truth) << value.string();
}

TEST(JsonReaders, PayloadsOfOtherCasesAreEmpty) {
  const JSONValue number(1);
  EXPECT_TRUE(number.array().empty());
  EXPECT_TRUE(number.object().empty());
  EXPECT_FALSE(number.isNull());
  EXPECT_TRUE(JSONValue().isNull());
  EXPECT_EQ(number.size(), 0u);
  EXPECT_TRUE(number.stringView().empty());
}

TEST(JsonMembers, SubscriptsAndPaths) {
  const JSONValue value =
      JSONValue::object({{"a", JSONValue::object({{"b", true}})}, {"t", "text"}, {"list", JSONValue::array({1, 2})}});
  EXPECT_TRUE(value["missing"].isNull());
  EXPECT_TRUE(JSONValue(5)["a"].isNull());
  EXPECT_EQ(value.path("a.b"), JSONValue(true));
  EXPECT_EQ(value.path("a..b"), JSONValue(true));
  EXPECT_EQ(value.path(".a.b."), JSONValue(true));
  EXPECT_TRUE(value.path("t.x").isNull());  // through a text
  EXPECT_TRUE(value.path("a.b.c").isNull());
  EXPECT_TRUE(value.path("list.0").isNull());  // paths name members only
  EXPECT_EQ(value.path(""), value);
  EXPECT_EQ(value.path(".."), value);
  EXPECT_EQ(value.at(0), JSONValue());
  EXPECT_EQ(value["list"].at(1), JSONValue(2));
  EXPECT_TRUE(value["list"].at(2).isNull());
  EXPECT_TRUE(value.contains("t"));
  EXPECT_FALSE(value.contains("x"));
  // A key holding a dot is a member name, not a path.
  JSONValue dotted;
  dotted.set("a.b", 1);
  EXPECT_EQ(dotted["a.b"], JSONValue(1));
  EXPECT_TRUE(dotted.path("a.b").isNull());
}

TEST(JsonMembers, WritesTurnOtherCasesIntoContainers) {
  JSONValue value("text");
  value.set("k", 1);
  EXPECT_EQ(value, JSONValue::object({{"k", 1}}));
  value.set("k", nullptr);  // null is stored, the key stays
  EXPECT_TRUE(value.contains("k"));
  EXPECT_EQ(value.size(), 1u);
  EXPECT_TRUE(value.erase("k"));
  EXPECT_FALSE(value.erase("k"));
  EXPECT_EQ(value.size(), 0u);

  JSONValue list(3);
  list.push("a");
  list.push(JSONValue::array({}));
  EXPECT_EQ(list.data(), R"(["a",[]])");

  JSONValue nested;
  nested.member("a").member("b").set("c", 1);
  EXPECT_EQ(nested.path("a.b.c"), JSONValue(1));
  EXPECT_TRUE(nested.member("new").isNull());
  EXPECT_TRUE(nested.contains("new"));
}

TEST(JsonMembers, CopiesAreIndependent) {
  JSONValue original = JSONValue::decode(R"({"a":{"b":[1,2]},"s":"x"})");
  const JSONValue snapshot = original;
  JSONValue copy = original;
  copy.member("a").member("b").mutableArray().push_back(3);
  copy.set("s", "y");
  copy.mutableObject().erase("a");
  EXPECT_EQ(original, snapshot);
  EXPECT_EQ(original.data(), R"({"a":{"b":[1,2]},"s":"x"})");
  EXPECT_EQ(copy.data(), R"({"s":"y"})");

  // The other direction: writing the original leaves an earlier copy alone.
  JSONValue second = original;
  original.member("a").member("b").push(9);
  EXPECT_EQ(second.path("a.b").size(), 2u);
  EXPECT_EQ(original.path("a.b").size(), 3u);
}

TEST(JsonCanonical, KeysAndTextsFollowCanonicalEquivalence) {
  JSONValue value;
  value.set(kDecomposed, 1);
  EXPECT_EQ(value[kComposed], JSONValue(1));
  EXPECT_TRUE(value.contains(kComposed));
  value.set(kComposed, 2);
  EXPECT_EQ(value.size(), 1u);
  EXPECT_EQ(value.object().begin()->first, kComposed);  // stored composed
  EXPECT_EQ(value.path("x." + kDecomposed), JSONValue());
  EXPECT_EQ(JSONValue::object({{"x", value}}).path("x." + kDecomposed), JSONValue(2));
  EXPECT_TRUE(value.erase(kDecomposed));

  // A map built by program code is normalised as well.
  const JSONValue built(JSONObject{{kDecomposed, JSONValue(1)}});
  EXPECT_EQ(built, JSONValue::object({{kComposed, 1}}));
  EXPECT_EQ(built.data(), "{\"" + kComposed + "\":1}");

  // Texts compare by equivalence and hash alike; different letters stay different.
  EXPECT_EQ(JSONValue("Лен" + kComposed), JSONValue("Лен" + kDecomposed));
  EXPECT_EQ(JSONValue("Лен" + kComposed).hash(), JSONValue("Лен" + kDecomposed).hash());
  EXPECT_NE(JSONValue("Лени"), JSONValue("Лен" + kComposed));
  EXPECT_NE(JSONValue("e"), JSONValue("é"));
}

TEST(JsonEquality, CasesNumbersAndMembers) {
  EXPECT_NE(JSONValue(1), JSONValue(true));
  EXPECT_NE(JSONValue(1), JSONValue("1"));
  EXPECT_NE(JSONValue(), JSONValue(false));
  EXPECT_EQ(JSONValue(0.0), JSONValue(-0.0));
  EXPECT_EQ(JSONValue(0.0).hash(), JSONValue(-0.0).hash());
  const JSONValue nan(std::nan(""));
  EXPECT_NE(nan, nan);
  const JSONValue list = JSONValue::array({1, std::nan("")});
  const JSONValue same = list;  // shares the payload, still unequal
  EXPECT_NE(list, same);
  EXPECT_NE(JSONValue::array({1, 2}), JSONValue::array({2, 1}));
  EXPECT_NE(JSONValue::array({1}), JSONValue::array({1, 1}));

  // Objects do not depend on the order their members came in.
  const JSONValue ab = JSONValue::decode(R"({"a":1,"b":[true,"x"]})");
  const JSONValue ba = JSONValue::decode(R"({"b":[true,"x"],"a":1})");
  EXPECT_EQ(ab, ba);
  EXPECT_EQ(ab.hash(), ba.hash());
  EXPECT_NE(ab, JSONValue::decode(R"({"a":1,"c":[true,"x"]})"));
  EXPECT_NE(ab, JSONValue::decode(R"({"a":1,"b":[true,"y"]})"));

  std::unordered_set<JSONValue> set{ab, ba, JSONValue(0.0), JSONValue(-0.0), JSONValue("x")};
  EXPECT_EQ(set.size(), 3u);
}

TEST(JsonRecords, Identifiers) {
  auto id = [](std::string_view json) { return Record(JSONValue::decode(json), "fb").id(); };
  EXPECT_EQ(id(R"({"orderId":"A-17","routeId":5})"), "5//A-17");
  EXPECT_EQ(id(R"({"orderId":"A-17","routeId":5,"pointId":2,"id":9})"), "5/2/A-17");
  EXPECT_EQ(id(R"({"orderId":"A-17"})"), "//A-17");
  EXPECT_EQ(id(R"({"pointId":3})"), "/3");
  EXPECT_EQ(id(R"({"pointId":3,"routeId":"R1"})"), "R1/3");
  EXPECT_EQ(id(R"({"orderId":"","id":12})"), "12");
  EXPECT_EQ(id(R"({"id":"","routeId":"","courierId":7,"name":"N"})"), "7");
  EXPECT_EQ(id(R"({"key":true,"name":"N"})"), "Да");
  EXPECT_EQ(id(R"({"name":"N"})"), "N");
  EXPECT_EQ(id(R"({"id":[1],"name":{"a":1}})"), "fb");
  EXPECT_EQ(id(R"({})"), "fb");
  EXPECT_EQ(id(R"([{"id":1}])"), "fb");
  EXPECT_EQ(id(R"("id")"), "fb");
  EXPECT_EQ(id(R"({"nested":{"id":5}})"), "fb");  // top-level keys only
}

TEST(JsonRecords, RowsEqualityAndAccess) {
  const auto rows = JSONValue::records(JSONValue::decode(R"(["text",{"id":7},{}])").array());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].id(), "0");
  EXPECT_EQ(rows[1].id(), "7");
  EXPECT_EQ(rows[2].id(), "2");

  const Record a(JSONValue::object({{"id", 1}}), "0");
  const Record b(JSONValue::object({{"id", 1}}), "1");
  EXPECT_EQ(a.id(), b.id());
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a == Record(JSONValue::object({{"id", 1}}), "0"));
  EXPECT_EQ(a.hash(), Record(JSONValue::object({{"id", 1}}), "0").hash());

  Record row(JSONValue::object({{"geo", JSONValue::object({{"lat", 55.7}})}}), "0");
  EXPECT_EQ(row["geo.lat"], JSONValue(55.7));  // reads a path
  row.set("geo.lat", 1);                       // writes one top-level member
  EXPECT_EQ(row.value["geo.lat"], JSONValue(1));
  EXPECT_EQ(row["geo.lat"], JSONValue(55.7));
}

}  // namespace
}  // namespace dorvik
