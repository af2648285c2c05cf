// Import of the largest workbook the open dialog allows, through AppModel::importWorkbook with the real planner
// engine: the bounded read and Base64 on a reading thread, the component's "import", and the address memory fed
// with every coordinate of the book. Reports wall time per phase and the peak resident memory of the importing
// process (getrusage ru_maxrss), which does nothing else.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/async/task.h"
#include "core/base/errors.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
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

// An order book of about `bytes` bytes (stored without compression: the limit is on the file as it lies on disk),
// one order per row, every order with coordinates, `addresses` distinct addresses among them.
const char* const kGenerator = R"JS(
function benchOrderBook(bytes, addresses) {
  const make = function (rows) {
    const aoa = [["Номер заказа", "Клиент", "Адрес", "Телефон", "Временное окно", "Количество мест", "Широта",
      "Долгота", "Комментарий логиста", "Инструкция курьеру"]];
    for (let i = 0; i < rows; i++) {
      const a = i % addresses;
      aoa.push([String(300000 + i), "ООО Клиент " + i, "Москва, улица Строителей " + (a % 997) + ", дом " + (1 + Math.floor(a / 997)),
        "+7 (900) " + (1000000 + i), "09:00-18:00", 1 + i % 7, 55.55 + (a % 4001) / 10000, 37.35 + (a % 5501) / 10000,
        "Комментарий к заказу " + i, "Позвонить за час до приезда"]);
    }
    const book = XLSX.utils.book_new();
    XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(aoa), "Заказы");
    return XLSX.write(book, { type: "base64", bookType: "xlsx", compression: false });
  };
  const size = function (text) { return Math.floor(text.length * 3 / 4); };
  let rows = 2000;
  let text = make(rows);
  rows = Math.floor(rows * bytes / size(text) * 0.995);
  text = make(rows);
  while (size(text) > bytes) { rows = Math.floor(rows * 0.998); text = make(rows); }
  return rows + ":" + text;
}
)JS";

fs::path buildBook(long bytes, long addresses) {
  fs::path file = fs::path(DORVIK_BINARY_DIR) /
                  ("import-bench-" + std::to_string(bytes) + "-" + std::to_string(addresses) + ".xlsx");
  if (fs::exists(file)) return file;
  auto start = Clock::now();
  ScriptContext script;
  script.evaluateFile(*PlannerEngine::bundleResources() / "xlsx.full.min.js", "xlsx.full.min");
  script.evaluate(kGenerator, "generator.js");
  std::string answer =
      script.evaluate("benchOrderBook(" + std::to_string(bytes) + ", " + std::to_string(addresses) + ")");
  const auto colon = answer.find(':');
  std::string book = decodeBase64(std::string_view(answer).substr(colon + 1)).value();
  writeFileAtomically(file.string(), book);
  std::printf("workbook built: %s rows, %zu bytes, %.1f s\n", answer.substr(0, colon).c_str(), book.size(),
              since(start));
  return file;
}

class ChosenFile : public FileDialogs {
 public:
  explicit ChosenFile(std::string path) : path_(std::move(path)) {}
  void openFile(std::vector<std::string>, Done done) override { done(path_); }
  void saveFile(std::string, Done done) override { done(std::nullopt); }

 private:
  std::string path_;
};

// The importing process: nothing but the model, its engine and the import.
int importOnce(const std::string& file) {
  auto model = AppModel::create();
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  model->setFileDialogs(std::make_shared<ChosenFile>(file));
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
