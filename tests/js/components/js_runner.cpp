// Runs the script component tests (tests/js/**/*.test.js) through JavaScriptCore: each case gets a fresh context
// with the core bundle's components evaluated in their loading order (for tests/js/map, the map page's script
// instead), the harness, and its test file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/base/errors.h"
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

std::string jsString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

class ComponentCase : public testing::Test {
 public:
  ComponentCase(fs::path file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}
  void TestBody() override {
    try {
      auto context = loadContext(file_);
      context->evaluate("__runTest(" + jsString(name_) + ")");
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
  }

 private:
  fs::path file_;
  std::string name_;
};

class FailingCase : public testing::Test {
 public:
  explicit FailingCase(std::string message) : message_(std::move(message)) {}
  void TestBody() override { FAIL() << message_; }

 private:
  std::string message_;
};

std::vector<std::string> testNames(const fs::path& file) {
  std::vector<std::string> names;
  auto context = loadContext(file);
  std::string list = context->evaluate("__testNames()");
  // The list is a JSON array of plain strings written by JSON.stringify; split it without a JSON library.
  std::string current;
  bool inString = false, escaped = false;
  for (char c : list) {
    if (!inString) {
      if (c == '"') {
        inString = true;
        current.clear();
      }
      continue;
    }
    if (escaped) {
      current += c;
      escaped = false;
      continue;
    }
    if (c == '\\') {
      escaped = true;
      continue;
    }
    if (c == '"') {
      inString = false;
      names.push_back(current);
      continue;
    }
    current += c;
  }
  return names;
}

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
    // A file that cannot be loaded, or registers no case, is one failing case: its tests never vanish silently.
    std::string failure;
    std::vector<std::string> names;
    try {
      names = testNames(file);
      if (names.empty()) failure = "the file registers no test case";
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (!failure.empty()) {
      testing::RegisterTest(suite.c_str(), "loads", nullptr, nullptr, file.string().c_str(), 0,
                            [failure]() -> testing::Test* { return new FailingCase(failure); });
      continue;
    }
    for (const auto& name : names) {
      testing::RegisterTest(suite.c_str(), identifier(name).c_str(), nullptr, name.c_str(), file.string().c_str(), 0,
                            [file, name]() -> testing::Test* { return new ComponentCase(file, name); });
    }
  }
  return RUN_ALL_TESTS();
}
