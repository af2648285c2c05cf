// build_catalogue: builds the address catalogue geocoder.sqlite from its tab-separated source.
//
//   build_catalogue [--strict] <GeocodingCore.js> <source.tsv> <output.sqlite>
//
// Source: UTF-8 text, one building per line: id, city, street, house, lat, lon separated by tabs; the first line
// that is not empty and not a comment ("#…") is the header naming exactly these six columns. Coordinates use a
// decimal point. city and house may be empty (a street row has no house).
//
// Every address_key is computed by GeocodingCore.catalogKey, evaluated in JavaScriptCore from the assembled
// component, so the catalogue and the engine's lookups cannot drift. A line that cannot be used (wrong column count,
// no id or street, unreadable or impossible coordinates, a repeated id, an address without a catalogue key) is
// named on the error output and left out; with --strict (the shipped sample) any such line fails the build.
// The database is written beside the output under a temporary name and renamed only when complete, in
// rollback-journal mode (the engine opens it read-only), so a failed build never leaves a half catalogue.
#include <sqlite3.h>

#include "core/json/json_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "core/base/errors.h"
#include "core/engine/script_context.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "id\tcity\tstreet\thouse\tlat\tlon";
constexpr std::size_t kBatch = 2000;

struct Row {
  std::size_t line = 0;
  std::string id, city, street, house;
  double lat = 0, lon = 0;
};

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string trimmed(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \r");
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(" \r");
  return text.substr(begin, end - begin + 1);
}

bool validUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

bool readCoordinate(const std::string& text, double limit, double& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last && !text.empty() && std::isfinite(value) && std::fabs(value) <= limit;
}

class Catalogue {
 public:
  explicit Catalogue(const fs::path& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      throw Failure("Не удалось создать каталог " + path.string() + ".");
    }
    exec("PRAGMA journal_mode=DELETE");
    exec("BEGIN");
    exec(
        "CREATE TABLE osm_addresses (id TEXT PRIMARY KEY, city TEXT, street TEXT, house TEXT, "
        "lat REAL NOT NULL, lon REAL NOT NULL, address_key TEXT NOT NULL CHECK (address_key <> ''))");
    exec("CREATE TABLE catalog_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)");
    if (sqlite3_prepare_v2(db_,
                           "INSERT INTO osm_addresses (id, city, street, house, lat, lon, address_key) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?)",
                           -1, &insert_, nullptr) != SQLITE_OK) {
      throw Failure(error());
    }
  }
  ~Catalogue() {
    if (insert_) sqlite3_finalize(insert_);
    if (db_) sqlite3_close(db_);
  }
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  // False when the id is already in the catalogue.
  bool add(const Row& row, const std::string& key) {
    sqlite3_reset(insert_);
    sqlite3_clear_bindings(insert_);
    bindText(1, row.id);
    bindText(2, row.city);
    bindText(3, row.street);
    bindText(4, row.house);
    sqlite3_bind_double(insert_, 5, row.lat);
    sqlite3_bind_double(insert_, 6, row.lon);
    bindText(7, key);
    int rc = sqlite3_step(insert_);
    if (rc == SQLITE_DONE) return true;
    if ((rc & 0xff) == SQLITE_CONSTRAINT) return false;
    throw Failure(error());
  }

  void finish(const std::string& keyVersion, std::size_t rows, const std::string& source) {
    exec("CREATE INDEX osm_addresses_key ON osm_addresses(address_key)");
    exec("INSERT INTO catalog_meta VALUES ('key_version', '" + keyVersion + "'), ('rows', '" + std::to_string(rows) +
         "')");
    sqlite3_stmt* meta = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO catalog_meta VALUES ('source', ?)", -1, &meta, nullptr);
    sqlite3_bind_text(meta, 1, source.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(meta);
    sqlite3_finalize(meta);
    if (rc != SQLITE_DONE) throw Failure(error());
    exec("COMMIT");
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (sqlite3_close(db_) != SQLITE_OK) throw Failure(error());
    db_ = nullptr;
  }

 private:
  void exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : "?";
      sqlite3_free(message);
      throw Failure("Ошибка SQLite: " + text);
    }
  }
  void bindText(int index, const std::string& text) {
    if (text.empty())
      sqlite3_bind_null(insert_, index);
    else
      sqlite3_bind_text(insert_, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  std::string error() const { return std::string("Ошибка SQLite: ") + sqlite3_errmsg(db_); }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

class Builder {
 public:
  Builder(dorvik::ScriptContext& script, Catalogue& catalogue, bool strict)
      : script_(script), catalogue_(catalogue), strict_(strict) {}

  void reject(std::size_t line, const std::string& why) {
    std::cerr << "строка " << line << ": " << why << "\n";
    ++rejected_;
    if (strict_) throw Failure("Каталог не собран: в источнике есть непригодные строки.");
  }

  void push(Row row) {
    batch_.push_back(std::move(row));
    if (batch_.size() >= kBatch) flush();
  }

  // Keys of the batch by GeocodingCore, then the rows into the database.
  void flush() {
    if (batch_.empty()) return;
    dorvik::JSONValue pairs = dorvik::JSONValue::array({});
    for (const Row& row : batch_) pairs.push(dorvik::JSONValue::array({row.street, row.house}));
    std::string script = "JSON.stringify(" + pairs.json() +
                         ".map(function (r) { return GeocodingCore.catalogKey("
                         "{address: GeocodingCore.catalogRowAddress(r[0], r[1])}).key; }))";
    dorvik::JSONValue keys = dorvik::JSONValue::decode(script_.evaluate(script, "build_catalogue.js"));
    if (!keys.isArray() || keys.size() != batch_.size()) throw Failure("GeocodingCore не вернул ключи адресов.");
    for (std::size_t i = 0; i < batch_.size(); ++i) {
      const Row& row = batch_[i];
      std::string key = keys.at(i).isString() ? keys.at(i).string() : std::string();
      if (key.empty()) {
        reject(row.line, "по адресу «" + row.street + ", " + row.house + "» нет ключа каталога");
        continue;
      }
      if (!catalogue_.add(row, key)) {
        reject(row.line, "повторный id «" + row.id + "»");
        continue;
      }
      ++added_;
    }
    batch_.clear();
  }

  std::size_t added() const { return added_; }
  std::size_t rejected() const { return rejected_; }

 private:
  dorvik::ScriptContext& script_;
  Catalogue& catalogue_;
  bool strict_;
  std::vector<Row> batch_;
  std::size_t added_ = 0, rejected_ = 0;
};

void build(const fs::path& component, const fs::path& source, const fs::path& output, bool strict) {
  // The context is left to the end of the process rather than released: JavaScriptCore's teardown hands its own
  // objects to standard library code instantiated in our binary, which the sanitizer build's vptr check rejects,
  // and a tool that exits right after gains nothing from the teardown.
  dorvik::ScriptContext& script = *new dorvik::ScriptContext();
  script.evaluateFile(component, "GeocodingCore");
  std::string keyVersion = script.evaluate("String(GeocodingCore.KEY_VERSION)");

  std::ifstream in(source, std::ios::binary);
  if (!in) throw Failure("Не удалось прочитать файл " + source.string() + ".");

  fs::path temporary = output;
  temporary += ".tmp";
  fs::remove(temporary);
  fs::remove(fs::path(temporary.string() + "-journal"));
  try {
    Catalogue catalogue(temporary);
    Builder builder(script, catalogue, strict);
    std::string line;
    std::size_t number = 0;
    bool header = false;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte order mark
      if (trimmed(line).empty() || line.front() == '#') continue;
      if (!header) {
        if (line != kHeader)
          throw Failure("строка " + std::to_string(number) +
                        ": ожидается заголовок «id, city, "
                        "street, house, lat, lon» через табуляцию.");
        header = true;
        continue;
      }
      if (!validUtf8(line)) {
        builder.reject(number, "текст не в кодировке UTF-8");
        continue;
      }
      std::vector<std::string> fields = splitTabs(line);
      if (fields.size() != 6) {
        builder.reject(number, "ожидается 6 полей через табуляцию");
        continue;
      }
      Row row;
      row.line = number;
      row.id = trimmed(fields[0]);
      row.city = trimmed(fields[1]);
      row.street = trimmed(fields[2]);
      row.house = trimmed(fields[3]);
      if (row.id.empty()) {
        builder.reject(number, "нет id");
        continue;
      }
      if (row.street.empty()) {
        builder.reject(number, "нет улицы");
        continue;
      }
      if (!readCoordinate(trimmed(fields[4]), 90, row.lat) || !readCoordinate(trimmed(fields[5]), 180, row.lon) ||
          (row.lat == 0 && row.lon == 0)) {
        builder.reject(number, "неверные координаты");
        continue;
      }
      builder.push(std::move(row));
    }
    if (!header) throw Failure("В источнике каталога нет заголовка.");
    builder.flush();
    if (builder.added() == 0) throw Failure("В источнике каталога нет ни одного адреса.");
    catalogue.finish(keyVersion, builder.added(), source.filename().string());
    std::cout << "Каталог адресов: " << builder.added() << " адресов";
    if (builder.rejected() > 0) std::cout << ", пропущено строк: " << builder.rejected();
    std::cout << "\n";
  } catch (...) {
    fs::remove(temporary);
    fs::remove(fs::path(temporary.string() + "-journal"));
    throw;
  }
  fs::rename(temporary, output);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool strict = false;
  if (!args.empty() && args.front() == "--strict") {
    strict = true;
    args.erase(args.begin());
  }
  if (args.size() != 3) {
    std::cerr << "usage: build_catalogue [--strict] <GeocodingCore.js> <source.tsv> <output.sqlite>\n";
    return 2;
  }
  try {
    build(args[0], args[1], args[2], strict);
  } catch (const dorvik::DorvikError& e) {
    std::cerr << e.message() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
