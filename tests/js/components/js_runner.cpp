// Runs the script component tests (tests/js/**/*.test.js) through JavaScriptCore: each case gets a fresh context
// with the core bundle's components evaluated in their loading order (for tests/js/map, the map page's script
// instead), the harness, and its test file.
//
// Listing the cases (CTest asks for the list before every run) starts no engine: a file's cases are the lines
// that begin with `test(` and a quoted name, read from its text. When a case runs, the file must register exactly
// those names once its scripts are loaded; a case registered any other way fails every case of its file instead of
// vanishing from the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/engine/planner_engine.h"
#include "core/engine/script_context.h"

namespace fs = std::filesystem;

namespace {

// Loads the script a test file tests, as its program loads it (a missing file fails the file's cases): for
// tests/js/map the map page's MapCore.js, for every other folder the core bundle's components as the engine
// evaluates them; then the harness and the test file.
std::unique_ptr<dorvik::ScriptContext> loadContext(const fs::path& testFile) {
  auto context = std::make_unique<dorvik::ScriptContext>();
  if (testFile.parent_path().filename() == "map") {
    context->evaluateFile(fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikApp.bundle" / "Resources" / "Map" / "MapCore.js",
                          "MapCore");
  } else {
    dorvik::PlannerEngine::evaluateComponents(*context,
                                              fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources");
  }
  fs::path harness = fs::path(DORVIK_SOURCE_DIR) / "tests" / "js" / "harness.js";
  context->evaluateFile(harness, "harness");
  context->evaluateFile(testFile, testFile.filename().string());
  return context;
}

std::string identifier(const std::string& text) {
  std::string out;
  for (char c : text) out += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return out;
}

// One case as its file lists it: the name's literal as written (for the script) and the name it stands for.
struct Listed {
  std::string literal;
  std::string name;
};

// The cases of a test file: every line that begins with `test(` followed by a quoted name. Throws
// std::runtime_error for such a line whose name is no closed string literal, and for a name listed twice.
std::vector<Listed> listCases(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::vector<Listed> cases;
  std::set<std::string> seen;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.starts_with("test(")) continue;
    std::size_t at = line.find_first_not_of(" \t", 5);
    const char quote = at == std::string::npos ? '\0' : line[at];
    Listed listed;
    bool closed = false;
    if (quote == '"' || quote == '\'') {
      for (std::size_t i = at + 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          listed.name += line[++i];
        } else if (line[i] == quote) {
          listed.literal = line.substr(at, i + 1 - at);
          closed = true;
          break;
        } else {
          listed.name += line[i];
        }
      }
    }
    const std::string where = file.filename().string() + ":" + std::to_string(number);
    if (!closed) throw std::runtime_error(where + ": a case is registered without a quoted name on its first line");
    if (!seen.insert(listed.name).second)
      throw std::runtime_error(where + ": the case \"" + listed.name + "\" is listed twice");
    cases.push_back(std::move(listed));
  }
  return cases;
}

class ComponentCase : public testing::Test {
 public:
  ComponentCase(fs::path file, std::string listedArray, std::string literal)
      : file_(std::move(file)), listedArray_(std::move(listedArray)), literal_(std::move(literal)) {}
  void TestBody() override {
    try {
      auto context = loadContext(file_);
      context->evaluate("__runListed(" + listedArray_ + ", " + literal_ + ")");
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
  }

 private:
  fs::path file_;
  std::string listedArray_;  // the file's listed names as a script array of their literals
  std::string literal_;
};

class FailingCase : public testing::Test {
 public:
  explicit FailingCase(std::string message) : message_(std::move(message)) {}
  void TestBody() override { FAIL() << message_; }

 private:
  std::string message_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::vector<fs::path> files;
  fs::path root = fs::path(DORVIK_SOURCE_DIR) / "tests" / "js";
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().string().ends_with(".test.js")) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::string suite = identifier(file.stem().stem().string());
    // A file whose cases cannot be listed, or that lists none, is one failing case: its tests never vanish.
    std::string failure;
    std::vector<Listed> cases;
    try {
      cases = listCases(file);
      if (cases.empty()) failure = "the file registers no test case";
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (!failure.empty()) {
      testing::RegisterTest(suite.c_str(), "loads", nullptr, nullptr, file.string().c_str(), 0,
                            [failure]() -> testing::Test* { return new FailingCase(failure); });
      continue;
    }
    std::string listedArray = "[";
    for (const Listed& listed : cases) listedArray += (listedArray.size() > 1 ? ", " : "") + listed.literal;
    listedArray += "]";
    for (const Listed& listed : cases) {
      testing::RegisterTest(suite.c_str(), identifier(listed.name).c_str(), nullptr, listed.name.c_str(),
                            file.string().c_str(), 0,
                            [file, listedArray, literal = listed.literal]() -> testing::Test* {
                              return new ComponentCase(file, listedArray, literal);
                            });
    }
  }
  return RUN_ALL_TESTS();
}
