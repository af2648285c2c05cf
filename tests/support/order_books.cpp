// The order books of the import's tests and benchmarks. Large and bomb books are laid out byte by byte (a stored
// zip is fast to make at any size); the hand-kept and damaged books are written by the workbook library of the
// build's core bundle in a script context of its own.
#include "support/order_books.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <memory>
#include <optional>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/base/base64.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"

namespace dorvik::testing {

namespace {

// A stored (uncompressed) zip: the limit is on the file as it lies on disk, and a stored book of that size holds
// the most orders the import can meet.
class StoredZip {
 public:
  void add(const std::string& name, const std::string& data) { add(name, data, 0, data.size(), crc32(data)); }
  // A part already deflated, declaring `unpacked` bytes (its CRC is not checked by the readers).
  void addDeflated(const std::string& name, const std::string& deflated, std::uint32_t unpacked) {
    add(name, deflated, 8, unpacked, 0);
  }
  std::string finish() {
    const auto directory = static_cast<std::uint32_t>(out_.size());
    for (const Entry& e : entries_) {
      header(0x02014b50);
      u16(20), u16(20), u16(0), u16(e.method), u16(0), u16(0x21);
      u32(e.crc), u32(e.csize), u32(e.size), u16(static_cast<std::uint16_t>(e.name.size())), u16(0), u16(0);
      u16(0), u16(0), u32(0), u32(e.offset);
      out_ += e.name;
    }
    const auto size = static_cast<std::uint32_t>(out_.size()) - directory;
    header(0x06054b50);
    u16(0), u16(0), u16(static_cast<std::uint16_t>(entries_.size())), u16(static_cast<std::uint16_t>(entries_.size()));
    u32(size), u32(directory), u16(0);
    return std::move(out_);
  }

 private:
  struct Entry {
    std::string name;
    std::uint16_t method;
    std::uint32_t crc, csize, size, offset;
  };
  void add(const std::string& name, const std::string& data, std::uint16_t method, std::uint64_t size,
           std::uint32_t crc) {
    Entry entry{name,
                method,
                crc,
                static_cast<std::uint32_t>(data.size()),
                static_cast<std::uint32_t>(size),
                static_cast<std::uint32_t>(out_.size())};
    header(0x04034b50);
    u16(20), u16(0), u16(method), u16(0), u16(0x21);  // version, flags, method, time, date
    u32(entry.crc), u32(entry.csize), u32(entry.size), u16(static_cast<std::uint16_t>(name.size())), u16(0);
    out_ += name;
    out_ += data;
    entries_.push_back(entry);
  }
  static std::uint32_t crc32(const std::string& data) {
    static const auto table = [] {
      std::array<std::uint32_t, 256> t{};
      for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
      }
      return t;
    }();
    std::uint32_t c = 0xffffffffu;
    for (unsigned char byte : data) c = table[(c ^ byte) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
  }
  void u16(std::uint16_t v) { out_ += static_cast<char>(v & 0xff), out_ += static_cast<char>(v >> 8); }
  void u32(std::uint32_t v) { u16(static_cast<std::uint16_t>(v & 0xffff)), u16(static_cast<std::uint16_t>(v >> 16)); }
  void header(std::uint32_t signature) { u32(signature); }
  std::string out_;
  std::vector<Entry> entries_;
};

std::string number(double value) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

const std::array<const char*, 25> kStreets{
    "Тверская улица",     "улица Петровка",   "Мясницкая улица",      "улица Покровка",         "улица Арбат",
    "Пятницкая улица",    "улица Маросейка",  "Новослободская улица", "Профсоюзная улица",      "Ленинский проспект",
    "проспект Мира",      "Каширское шоссе",  "улица Вавилова",       "Садовая-Спасская улица", "улица Зорге",
    "Бутырская улица",    "улица Сретенка",   "Большая Ордынка",      "улица Остоженка",        "Кутузовский проспект",
    "улица Гиляровского", "Щёлковское шоссе", "улица Лобачевского",   "Рязанский проспект",     "улица Талалихина"};

}  // namespace

// An order book of `rows` orders, every one with coordinates, `addresses` distinct addresses among them, in the
// layout a spreadsheet program writes (shared strings).
std::string depotBook(long rows, long addresses) {
  std::vector<std::string> strings;
  std::map<std::string, std::size_t> known;
  auto shared = [&](const std::string& text) {
    auto [it, added] = known.emplace(text, strings.size());
    if (added) strings.push_back(text);
    return "<c t=\"s\"><v>" + std::to_string(it->second) + "</v></c>";
  };
  auto numeric = [](double value) { return "<c><v>" + number(value) + "</v></c>"; };
  std::string sheet =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet "
      "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  sheet += "<row>";
  for (const char* title : {"Номер заказа", "Клиент", "Адрес", "Телефон", "Временное окно", "Количество мест", "Широта",
                            "Долгота", "Комментарий логиста", "Инструкция курьеру"})
    sheet += shared(title);
  sheet += "</row>";
  for (long i = 0; i < rows; ++i) {
    const long a = i % addresses;
    sheet += "<row>";
    sheet += shared(std::to_string(300000 + i));
    sheet += shared("ООО Клиент " + std::to_string(i));
    sheet += shared(std::string("Москва, ") + kStreets[a % kStreets.size()] + ", " +
                    std::to_string(1 + a / static_cast<long>(kStreets.size())));
    sheet += shared("+7 (900) " + std::to_string(1000000 + i));
    sheet += shared("09:00-18:00");
    sheet += numeric(static_cast<double>(1 + i % 7));
    sheet += numeric(55.55 + static_cast<double>(a % 4001) / 10000);
    sheet += numeric(37.35 + static_cast<double>(a % 5501) / 10000);
    sheet += shared("Комментарий к заказу " + std::to_string(i));
    sheet += shared("Позвонить за час до приезда");
    sheet += "</row>";
  }
  sheet += "</sheetData></worksheet>";
  std::string table =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst "
      "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"" +
      std::to_string(strings.size()) + "\" uniqueCount=\"" + std::to_string(strings.size()) + "\">";
  for (const std::string& text : strings) table += "<si><t>" + text + "</t></si>";
  table += "</sst>";

  StoredZip zip;
  zip.add("[Content_Types].xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Types "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/xl/workbook.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
          "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
          "<Override PartName=\"/xl/sharedStrings.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/></Types>");
  zip.add("_rels/.rels",
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
          "Target=\"xl/workbook.xml\"/></Relationships>");
  zip.add("xl/workbook.xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<workbook "
          "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
          "<sheet name=\"Заказы\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  zip.add("xl/_rels/workbook.xml.rels",
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
          "Target=\"worksheets/sheet1.xml\"/>"
          "<Relationship Id=\"rId2\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
          "Target=\"sharedStrings.xml\"/></Relationships>");
  zip.add("xl/worksheets/sheet1.xml", sheet);
  zip.add("xl/sharedStrings.xml", table);
  return zip.finish();
}

namespace {

// Raw deflate of `head` followed by `matches` copies of 258 bytes of its last byte, at the format's best ratio
// (1032:1): one dynamic block whose codes are a single bit for "258 bytes back 1" and for its distance.
std::string bombDeflate(const std::string& head, std::uint64_t matches) {
  std::string out;
  unsigned bits = 0, count = 0;
  auto put = [&](unsigned value, unsigned n) {  // n bits, least significant first
    for (unsigned k = 0; k < n; ++k) {
      bits |= ((value >> k) & 1u) << count;
      if (++count == 8) out += static_cast<char>(bits), bits = 0, count = 0;
    }
  };
  auto code = [&](unsigned value, unsigned n) {  // a Huffman code, most significant bit first
    for (unsigned k = n; k-- > 0;) put((value >> k) & 1u, 1);
  };
  auto align = [&] {
    if (count) out += static_cast<char>(bits), bits = 0, count = 0;
  };
  // The head in a stored block.
  put(0, 3), align(), put(static_cast<unsigned>(head.size()), 16), put(static_cast<unsigned>(head.size()) ^ 0xffff, 16);
  out += head;
  // The final dynamic block. Literal/length lengths: ' ' 2, end of block 2, 285 (258 bytes) 1; one distance
  // code (distance 1) of length 1. Code-length codes 0, 1, 2 and 18 (a run of zeros), two bits each.
  put(1, 1), put(2, 2), put(286 - 257, 5), put(0, 5), put(18 - 4, 4);
  for (int symbol : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1})
    put(symbol == 18 || symbol == 0 || symbol == 1 || symbol == 2 ? 2 : 0, 3);
  auto length = [&](unsigned l) { code(l, 2); };                                 // codes of 0, 1, 2 are 00, 01, 10
  auto zeros = [&](unsigned n) { code(3, 2), put(n - 11, 7); };                  // code 18: 11 to 138 zeros
  zeros(32), length(2), zeros(138), zeros(85), length(2), zeros(28), length(1);  // 0..285
  length(1);                                                                     // the distance code
  // Each match is two zero bits: literal/length code "0", distance code "0".
  std::uint64_t zeroBits = matches * 2;
  while (count != 0 && zeroBits > 0) put(0, 1), --zeroBits;
  out.append(static_cast<std::size_t>(zeroBits / 8), '\0');
  put(0, static_cast<unsigned>(zeroBits % 8));
  code(3, 2);  // end of block: "11"
  align();
  return out;
}

}  // namespace

// A one-sheet order book whose sheet unpacks to about `unpacked` bytes, declaring `declared` (a bomb that tells
// the truth declares what it unpacks to; one that lies declares less).
std::string bombBook(std::uint64_t unpacked, std::uint64_t declared) {
  const std::string head =
      "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<sheetData><row><c t=\"inlineStr\"><is><t>Адрес</t></is></c></row></sheetData></worksheet> ";
  StoredZip zip;
  zip.add("xl/workbook.xml",
          "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
          "<sheet name=\"Заказы\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  zip.add(
      "xl/_rels/workbook.xml.rels",
      "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\"/></Relationships>");
  zip.addDeflated("xl/worksheets/sheet1.xml", bombDeflate(head, (unpacked - head.size()) / 258),
                  static_cast<std::uint32_t>(declared));
  return zip.finish();
}

namespace {

// The workbook library of the core bundle, and the bytes of a book a script of it writes as Base64.
std::string scriptBook(const std::string& script) {
  static const auto context = [] {
    auto made = std::make_shared<ScriptContext>();
    const std::optional<std::filesystem::path> resources = PlannerEngine::bundleResources();
    if (!resources) throw std::runtime_error("no core bundle to make workbooks with");
    made->evaluateFile(*resources / "xlsx.full.min.js", "xlsx.full.min");
    made->evaluate(R"(
      function bookOf(sheets, type) {
        const wb = XLSX.utils.book_new();
        sheets.forEach(function (s) { XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(s[1]), s[0]); });
        return XLSX.write(wb, { type: "base64", bookType: type || "xlsx" });
      }
      function btoa_(bytes) {
        const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", out = [];
        for (let i = 0; i < bytes.length; i += 3) {
          const n = (bytes[i] << 16) | ((bytes[i + 1] || 0) << 8) | (bytes[i + 2] || 0);
          out.push(alphabet[n >> 18], alphabet[(n >> 12) & 63], i + 1 < bytes.length ? alphabet[(n >> 6) & 63] : "=",
            i + 2 < bytes.length ? alphabet[n & 63] : "=");
        }
        return out.join("");
      }
      function i32At(b, at) { return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (b[at + 3] << 24); }
      function setI32(b, at, v) { for (let k = 0; k < 4; k++) b[at + k] = (v >> (8 * k)) & 0xff; }
      0)",
                   "order_books");
    return made;
  }();
  std::optional<std::string> bytes = decodeBase64(context->evaluate(script, "order_books"));
  if (!bytes) throw std::runtime_error("the script gave no Base64 book");
  return std::move(*bytes);
}

}  // namespace

std::string mistakesBook() {
  std::string bytes = scriptBook(R"((function () {
    return bookOf([["Заказы", [
      ["Отчёт за день"],
      ["№", "Получатель", "Адрес доставки", "Окно с", "Окно до", "Места", "Вес", "Координаты", "Комментарий"],
      [1001, "Кафе", "Москва, Арбат, 10", 0.375, 0.5, "2,5", 12, "55.7502, 37.5932", "x"],
      [null, null, null, null, null, null, null, null, null],
      [1002, "Офис", "", null, null, 3, null, null, null],
      [1003, "Склад", "Москва, Покровка, 12", "18:00", "09:00", "три", "два кг", "55.7596, 37.6464", ""],
      [1001, "Дубль", "Москва, Арбат, 10", null, null, null, null, "55.7502, 37.5932", ""],
      ["", "Без номера", "Москва, Тверская, 1", "", "", 1, null, "555, 37.6", "вход @@@ со двора"],
      [1006, "Аптека", "Москва, Покровка, 12", "10:00", "", "", null, "55.7596, 37.6464", ""]
    ]]]);
  })())");
  // The marker becomes a lone surrogate as a damaged book holds it: three bytes of UTF-8 that encode a surrogate
  // (the book is stored, not compressed, so its text lies as it is).
  const std::size_t at = bytes.find("@@@");
  if (at == std::string::npos) throw std::runtime_error("the marker is not in the book");
  bytes.replace(at, 3, "\xED\xA0\x80");
  return bytes;
}

std::string dayBook(int orders) { return depotBook(orders, orders); }

std::vector<DamagedBook> damagedBooks() {
  std::vector<DamagedBook> books;
  // A password-protected package as a compound file: an encryption description and the encrypted stream (ten
  // sectors), with one thing broken.
  const char* compound = R"((function (damage) {
    const cfb = XLSX.CFB.utils.cfb_new();
    XLSX.CFB.utils.cfb_add(cfb, "/EncryptionInfo", [4, 0, 4, 0, 0x40, 0, 0, 0, 60, 101, 47, 62]);
    XLSX.CFB.utils.cfb_add(cfb, "/EncryptedPackage", new Array(5000).fill(7));
    const b = new Uint8Array(XLSX.CFB.write(cfb, { type: "array" }));
    const sector = function (k) { return (k + 1) * 512; };
    const dir = sector(i32At(b, 48)), fat = sector(i32At(b, 76));
    const entry = function (e, field) { return dir + 128 * e + { L: 68, R: 72, start: 116 }[field]; };
    const start = i32At(b, entry(3, "start"));
    if (damage === "siblings") { setI32(b, entry(1, "R"), 2); setI32(b, entry(2, "R"), 1); }
    if (damage === "left") { setI32(b, entry(1, "L"), 2); setI32(b, entry(2, "L"), 1); }
    if (damage === "chain") { setI32(b, fat + 4 * (start + 1), start); setI32(b, entry(3, "start"), start + 1); }
    if (damage === "difat") { setI32(b, 68, 0); setI32(b, 72, 1000000); setI32(b, sector(0) + 508, 0); }
    return btoa_(b);
  }))";
  for (const auto& [damage, name] : std::vector<std::pair<std::string, std::string>>{
           {"siblings", "сёстры в каталоге ссылаются друг на друга"},
           {"left", "левые ссылки каталога по кругу"},
           {"chain", "цепочка секторов замкнута, поток начинается в ней"},
           {"difat", "цепочка DIFAT указывает сама на себя"}})
    books.push_back({name, scriptBook(std::string(compound) + "(\"" + damage + "\")")});
  // An .xls whose formula record is too short to hold its formula.
  books.push_back({"запись формулы короче формулы", scriptBook(R"((function () {
    const out = [];
    function record(type, bytes) { out.push(type & 0xff, type >> 8, bytes.length & 0xff, bytes.length >> 8); bytes.forEach(function (v) { out.push(v); }); }
    function u16(v) { return [v & 0xff, v >> 8]; }
    const bof = function (kind) { record(0x0809, [].concat(u16(0x0600), u16(kind), [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0])); };
    bof(0x0005);
    const at = out.length;
    record(0x0085, [0, 0, 0, 0, 0, 0, 1, 0, 0x53]);
    record(0x000a, []);
    for (let k = 0; k < 4; k++) out[at + 4 + k] = (out.length >> (8 * k)) & 0xff;
    bof(0x0010);
    record(0x0006, [1, 0, 1, 0, 15, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x40, 0, 0]);
    record(0x000a, []);
    const cfb = XLSX.CFB.utils.cfb_new();
    XLSX.CFB.utils.cfb_add(cfb, "/Workbook", out);
    return XLSX.CFB.write(cfb, { type: "base64" });
  })())")});
  // Zip bombs: a sheet that honestly unpacks to 1.5 GB, and one that declares 1 KB for it.
  books.push_back({"zip-бомба", bombBook(1536ull << 20, 1536ull << 20)});
  books.push_back({"zip-бомба, которая занижает свой размер", bombBook(1536ull << 20, 1024)});
  return books;
}

}  // namespace dorvik::testing
