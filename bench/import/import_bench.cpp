// Import of the largest workbook the open dialog allows, through AppModel::importWorkbook with the real planner
// engine: the bounded read and Base64 on a reading thread, the component's "import", and the address memory fed
// with every coordinate of the book. Reports wall time per phase and the peak resident memory of the importing
// process (getrusage ru_maxrss), which does nothing else.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/base/base64.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"

using namespace dorvik;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double mib(long kib) { return kib / 1024.0; }

long peakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

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

// An order book of `rows` orders, every one with coordinates, `addresses` distinct addresses among them, in the
// layout a spreadsheet program writes (shared strings).
std::string orderBook(long rows, long addresses) {
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

// The largest book of at most `bytes` bytes (written once into the build folder).
fs::path buildBook(long bytes, long addresses) {
  fs::path file = fs::path(DORVIK_BINARY_DIR) /
                  ("import-bench-" + std::to_string(bytes) + "-" + std::to_string(addresses) + ".xlsx");
  if (fs::exists(file)) return file;
  auto start = Clock::now();
  long rows = 1000;
  std::string book = orderBook(rows, addresses);
  // Scaled up in proportion until within half a percent below the size, then trimmed to fit.
  for (int round = 0; round < 4 && book.size() < static_cast<std::size_t>(bytes) * 0.995; ++round) {
    rows = static_cast<long>(static_cast<double>(rows) * static_cast<double>(bytes) * 0.998 /
                             static_cast<double>(book.size()));
    book = orderBook(rows, addresses);
  }
  while (book.size() > static_cast<std::size_t>(bytes)) {
    rows = rows * 998 / 1000;
    book = orderBook(rows, addresses);
  }
  writeFileAtomically(file.string(), book);
  std::printf("workbook built: %ld orders, %zu bytes, %.1f s\n", rows, book.size(), since(start));
  return file;
}

class ChosenFile : public FileDialogs {
 public:
  explicit ChosenFile(std::string path) : path_(std::move(path)) {}
  async::Task<Chosen> openFile(std::vector<std::string>) override { co_return path_; }
  async::Task<Chosen> saveFile(std::string) override { co_return std::nullopt; }

 private:
  std::string path_;
};

// The importing process: nothing but the model, its engine and the import.
int importOnce(const std::string& file) {
  auto model = AppModel::create();
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  model->setFileDialogs(std::make_shared<ChosenFile>(file));
  model->setOffline(true);  // no server: the upload that follows the import stays out of the figures
  const long before = peakKiB();

  const auto start = Clock::now();
  double component = 0;
  auto watch = model->observe([&](AppModel::Property property) {
    if (property == AppModel::Property::status && model->status() == "Файл открыт. Сохраняем адресный справочник…")
      component = since(start);
  });
  async::runBlocking(model->importWorkbook());
  const double total = since(start);

  std::printf("file %s: %ju bytes\n", file.c_str(), static_cast<std::uintmax_t>(fs::file_size(file)));
  if (model->error()) std::printf("error: %s\n", model->error()->c_str());
  std::printf("status: %s\n", model->status().c_str());
  std::printf("orders %zu, addresses remembered %zu\n", model->orders().size(), model->pendingAddresses().size());
  std::printf("import: %.2f s in all; read, Base64 and the component's import %.2f s; address memory %.2f s\n", total,
              component, total - component);
  std::printf("peak RSS %.0f MiB (%.0f MiB with the engine loaded, before the import)\n", mib(peakKiB()), mib(before));
  return model->error() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--import-file") return importOnce(argv[2]);
    if (argc == 2 && (std::string(argv[1]) == "--bomb" || std::string(argv[1]) == "--lying-bomb")) {
      // A zip bomb of 1.5 MB unpacking to 1.5 GB; the lying one declares 1 KB for it.
      const std::uint64_t unpacked = 1536ull << 20;
      const bool lying = std::string(argv[1]) == "--lying-bomb";
      const fs::path file =
          fs::path(DORVIK_BINARY_DIR) / (lying ? "import-bench-lying-bomb.xlsx" : "import-bench-bomb.xlsx");
      writeFileAtomically(file.string(), bombBook(unpacked, lying ? 1024 : unpacked));
      std::printf("zip bomb: %ju bytes unpacking to %ju bytes\n", static_cast<std::uintmax_t>(fs::file_size(file)),
                  static_cast<std::uintmax_t>(unpacked));
      pid_t child = fork();
      if (child == 0) {
        execl("/proc/self/exe", argv[0], "--import-file", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      int status = 0;
      waitpid(child, &status, 0);
      return 0;  // the refusal is the expected outcome
    }
    long bytes = AppModel::kWorkbookLimit;
    long addresses = 5000;
    for (int i = 1; i + 1 < argc; i += 2) {
      if (std::string(argv[i]) == "--bytes") bytes = std::atol(argv[i + 1]);
      if (std::string(argv[i]) == "--addresses") addresses = std::atol(argv[i + 1]);
    }
    const fs::path file = buildBook(bytes, addresses);
    pid_t child = fork();
    if (child == 0) {
      execl("/proc/self/exe", argv[0], "--import-file", file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  } catch (const DorvikError& e) {
    std::fprintf(stderr, "%s\n", e.message().c_str());
    return 1;
  }
}
