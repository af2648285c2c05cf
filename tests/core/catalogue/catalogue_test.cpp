// The shipped address catalogue, read the way the planner engine's offline lookup reads it: the key from
// GeocodingCore.catalogKey, the one equality query with its limit, the rows as six members, then catalogMatch.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/base/files.h"
#include "core/engine/script_context.h"
#include "core/json/json_value.h"

namespace fs = std::filesystem;
using dorvik::JSONValue;

namespace {

const fs::path kResources = fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources";

class Catalogue : public testing::Test {
 protected:
  void SetUp() override {
    fs::path file = kResources / "geocoder.sqlite";
    ASSERT_TRUE(fs::exists(file)) << file;
    // The engine's flags: read-only, serialized threading.
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db_, 0x10001, nullptr), SQLITE_OK);
    fs::path component = kResources / "GeocodingCore.js";
    script_.evaluateFile(component, "GeocodingCore");
  }
  void TearDown() override { sqlite3_close(db_); }

  JSONValue call(const std::string& function, const JSONValue& payload) {
    return JSONValue::decode(
        script_.evaluate("JSON.stringify(GeocodingCore." + function + "(" + payload.json() + "))"));
  }

  // The offline lookup: key, query, rows, match.
  JSONValue lookupOffline(const std::string& address) {
    JSONValue keyResult = call("catalogKey", JSONValue::object({{"address", address}}));
    std::string key = keyResult["key"].string();
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_,
                                 "SELECT id,city,street,house,lat,lon FROM osm_addresses WHERE address_key = ? "
                                 "LIMIT 101",
                                 -1, &statement, nullptr),
              SQLITE_OK);
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    JSONValue rows = JSONValue::array({});
    while (sqlite3_step(statement) == SQLITE_ROW) {
      JSONValue row = JSONValue::object({});
      const char* names[] = {"id", "city", "street", "house"};
      for (int i = 0; i < 4; ++i) {
        const unsigned char* text = sqlite3_column_text(statement, i);
        row.set(names[i], text ? JSONValue(reinterpret_cast<const char*>(text)) : JSONValue());
      }
      row.set("lat", sqlite3_column_double(statement, 4));
      row.set("lon", sqlite3_column_double(statement, 5));
      rows.push(row);
    }
    sqlite3_finalize(statement);
    return call("catalogMatch", JSONValue::object({{"address", address}, {"rows", rows}}));
  }

  std::string scalar(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    std::string value;
    if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0)) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return value;
  }

  sqlite3* db_ = nullptr;
  dorvik::ScriptContext script_;
};

struct Demo {
  const char* address;
  double lat, lon;
};

// The orders of the demo workspace.
const Demo kDemo[] = {
    {"Москва, Тверская улица, 6", 55.7606, 37.6095},   {"Москва, улица Петровка, 12", 55.7635, 37.6185},
    {"Москва, Мясницкая улица, 20", 55.7632, 37.6363}, {"Москва, Покровка, 12", 55.7596, 37.6464},
    {"Москва, улица Арбат, 10", 55.7502, 37.5932},
};

TEST_F(Catalogue, EveryDemoAddressIsFoundExactlyOffline) {
  for (const Demo& demo : kDemo) {
    SCOPED_TRACE(demo.address);
    JSONValue answer = lookupOffline(demo.address);
    EXPECT_EQ(answer["provider"], "osm");
    ASSERT_TRUE(answer["found"].isObject()) << answer.json();
    EXPECT_EQ(answer["found"]["qc"], "0");
    EXPECT_DOUBLE_EQ(answer["found"]["lat"].doubleValue().value_or(0), demo.lat);
    EXPECT_DOUBLE_EQ(answer["found"]["lon"].doubleValue().value_or(0), demo.lon);
    EXPECT_EQ(answer["found"]["value"], answer["found"]["address"]);
  }
  // Other spellings of the same buildings find them too; a building the catalogue lacks is not found.
  EXPECT_EQ(lookupOffline("ул. Тверская, д. 6, кв 3")["found"]["qc"], "0");
  EXPECT_EQ(lookupOffline("Покровка ул., д.12, офис 4")["found"]["qc"], "0");
  EXPECT_TRUE(lookupOffline("Москва, Тверская улица, 8")["found"].isNull());
  EXPECT_TRUE(lookupOffline("???")["found"].isNull());
}

TEST_F(Catalogue, EveryRowIsFoundByTheKeyOfItsOwnAddress) {
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_, "SELECT street, house, address_key FROM osm_addresses", -1, &statement, nullptr),
            SQLITE_OK);
  int rows = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::string street = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    const unsigned char* house = sqlite3_column_text(statement, 1);
    std::string key = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
    std::string address = street + (house ? ", " + std::string(reinterpret_cast<const char*>(house)) : "");
    EXPECT_EQ(call("catalogKey", JSONValue::object({{"address", address}}))["key"].string(), key) << address;
    EXPECT_FALSE(key.empty());
    ++rows;
  }
  sqlite3_finalize(statement);
  EXPECT_EQ(std::to_string(rows), scalar("SELECT COUNT(*) FROM osm_addresses"));
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(scalar("SELECT value FROM catalog_meta WHERE key = 'key_version'"),
            script_.evaluate("String(GeocodingCore.KEY_VERSION)"));
  EXPECT_EQ(scalar("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'osm_addresses' AND "
                   "sql LIKE '%address_key%'"),
            "osm_addresses_key");
}

TEST_F(Catalogue, IsARollbackJournalDatabase) {
  EXPECT_EQ(scalar("PRAGMA journal_mode"), "delete");
  // Bytes 18 and 19 of the header are the file format versions: 1 for rollback journal, 2 for WAL.
  std::string header = dorvik::files::readWhole((kResources / "geocoder.sqlite").string()).value().substr(0, 20);
  ASSERT_EQ(header.size(), 20u);
  EXPECT_EQ(header[18], 1);
  EXPECT_EQ(header[19], 1);
  EXPECT_FALSE(fs::exists(kResources / "geocoder.sqlite-wal"));
}

// The builder: a bad source never leaves a half catalogue behind.
class Builder : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(DORVIK_BINARY_DIR) / "catalogue-builder-test" /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  int build(const std::string& source, bool strict) {
    std::ofstream(dir_ / "source.tsv", std::ios::binary) << source;
    std::string command = std::string("'") + DORVIK_CATALOGUE_BUILDER + "'" + (strict ? " --strict" : "") + " '" +
                          (kResources / "GeocodingCore.js").string() + "' '" + (dir_ / "source.tsv").string() + "' '" +
                          (dir_ / "out.sqlite").string() + "' 2>/dev/null >/dev/null";
    return std::system(command.c_str());
  }

  int count() {
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2((dir_ / "out.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM osm_addresses", -1, &statement, nullptr) == SQLITE_OK &&
          sqlite3_step(statement) == SQLITE_ROW) {
        rows = sqlite3_column_int(statement, 0);
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
  }

  fs::path dir_;
};

const std::string kHeader = "id\tcity\tstreet\thouse\tlat\tlon\n";

TEST_F(Builder, BadLinesFailAStrictBuildAndKeepThePreviousCatalogue) {
  ASSERT_EQ(build(kHeader + "a\tМосква\tТверская улица\t6\t55.7606\t37.6095\n", true), 0);
  ASSERT_EQ(count(), 1);
  const std::string bad[] = {
      "b\tМосква\tТверская улица\t8\t55,76\t37.6\n",  // decimal comma
      "b\tМосква\tТверская улица\t8\t0\t0\n",         // no coordinates
      "b\tМосква\tТверская улица\t8\t95\t37.6\n",     // out of range
      "a\tМосква\tТверская улица\t8\t55.7\t37.6\n",   // repeated id
      "b\tМосква\t!!!\t8\t55.7\t37.6\n",              // no catalogue key
      "b\tМосква\tТверская улица\t8\t55.7\n",         // a field missing
      "b\tМосква\tТверская \xff\t8\t55.7\t37.6\n",    // not UTF-8
  };
  for (const std::string& line : bad) {
    SCOPED_TRACE(line);
    EXPECT_NE(build(kHeader + "a\tМосква\tТверская улица\t6\t55.7606\t37.6095\n" + line, true), 0);
    EXPECT_EQ(count(), 1) << "the previous catalogue stays whole";
    EXPECT_FALSE(fs::exists(dir_ / "out.sqlite.tmp"));
  }
  EXPECT_NE(build("a\tМосква\tТверская улица\t6\t55.7606\t37.6095\n", false), 0) << "no header";
  EXPECT_NE(build(kHeader, false), 0) << "no rows";
  EXPECT_EQ(count(), 1);
}

TEST_F(Builder, ADeploymentBuildSkipsBadLinesAndKeepsTheRest) {
  ASSERT_EQ(build("\xEF\xBB\xBF# comment\n\n" + kHeader + "a\tМосква\tТверская улица\t6\t55.7606\t37.6095\r\n" +
                      "b\t\tулица Арбат\t\t55.75\t37.59\n" + "c\tМосква\t\t1\t55.7\t37.6\n" +
                      "d\tМосква\tулица Петровка\t12\tx\t37.6\n",
                  false),
            0);
  EXPECT_EQ(count(), 2);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((dir_ / "out.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT city IS NULL, house IS NULL, address_key FROM osm_addresses WHERE id = 'b'",
                               -1, &statement, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(statement, 0), 1) << "an empty city is stored as NULL";
  EXPECT_EQ(sqlite3_column_int(statement, 1), 1) << "a street row has a NULL house";
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)), "арбат ул|");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

}  // namespace
