// Import of the largest workbook the open dialog allows, through AppModel::importWorkbook with the real planner
// engine: the bounded read and Base64 on a reading thread, the component's "import", and the address memory fed
// with every coordinate of the book. Reports wall time per phase and the peak resident memory of the importing
// process (getrusage ru_maxrss), which does nothing else.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/async/task.h"
#include "core/base/base64.h"
#include "core/base/errors.h"
#include "core/cache/encrypted_cache.h"
#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"
#include "model/app_model.h"
#include "model/file_dialogs.h"
#include "model/workbook_files.h"
#include "support/order_books.h"

using namespace dorvik;
using dorvik::testing::bombBook;
using dorvik::testing::depotBook;
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

// The largest book of at most `bytes` bytes (written once into the build folder).
fs::path buildBook(long bytes, long addresses) {
  fs::path file = fs::path(DORVIK_BINARY_DIR) /
                  ("Заказы на среду " + std::to_string(bytes) + "-" + std::to_string(addresses) + ".xlsx");
  if (fs::exists(file)) return file;
  auto start = Clock::now();
  long rows = 1000;
  std::string book = depotBook(rows, addresses);
  // Scaled up in proportion until within half a percent below the size, then trimmed to fit.
  for (int round = 0; round < 4 && book.size() < static_cast<std::size_t>(bytes) * 0.995; ++round) {
    rows = static_cast<long>(static_cast<double>(rows) * static_cast<double>(bytes) * 0.998 /
                             static_cast<double>(book.size()));
    book = depotBook(rows, addresses);
  }
  while (book.size() > static_cast<std::size_t>(bytes)) {
    rows = rows * 998 / 1000;
    book = depotBook(rows, addresses);
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

// The importing process: nothing but the model, its engine and the import; with `cache`, a workspace cache as the
// program has one (the plan and its source workbook stored; needs a Secret Service).
int importOnce(const std::string& file, bool cache) {
  auto model = AppModel::create();
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  if (cache) {
    model->setCache(async::runBlocking(EncryptedCache::open("https://bench.test/api|1|" + randomUUID() + "|1")));
  }
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
  ScriptContext::sizeHeapForTheProgram();  // as the program does
  try {
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--import-file")
      return importOnce(argv[2], argc == 4 && std::string(argv[3]) == "--cache");
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
