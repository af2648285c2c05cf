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
#include "core/engine/script_context.h"

namespace fs = std::filesystem;

namespace {

const char* kComponents[] = {"xlsx.full.min", "NativePrelude", "GeocodingCore", "PlannerCore", "NativeAdapter"};

// Loads the bundle's components that exist (for tests/js/map, the map page's MapCore.js alone), the harness, then
// the test file.
std::unique_ptr<dorvik::ScriptContext> loadContext(const fs::path& testFile) {
  auto context = std::make_unique<dorvik::ScriptContext>();
  if (testFile.parent_path().filename() == "map") {
    context->evaluateFile(fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikApp.bundle" / "Resources" / "Map" / "MapCore.js",
                          "MapCore");
  } else {
    fs::path resources = fs::path(DORVIK_APP_DIR) / "Dorvik_DorvikCore.bundle" / "Resources";
    for (const char* name : kComponents) {
      fs::path file = resources / (std::string(name) + ".js");
      if (fs::exists(file)) context->evaluateFile(file, name);
    }
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
    } catch (const dorvik::DorvikError& e) {
      FAIL() << e.message();
    }
  }

 private:
  fs::path file_;
  std::string name_;
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
    std::vector<std::string> names;
    try {
      names = testNames(file);
    } catch (const dorvik::DorvikError& e) {
      testing::RegisterTest(suite.c_str(), "loads", nullptr, nullptr, file.string().c_str(), 0,
                            [message = e.message()]() -> testing::Test* {
                              struct Failing : testing::Test {
                                std::string m;
                                explicit Failing(std::string s) : m(std::move(s)) {}
                                void TestBody() override { FAIL() << m; }
                              };
                              return new Failing(message);
                            });
      continue;
    }
    for (const auto& name : names) {
      testing::RegisterTest(suite.c_str(), identifier(name).c_str(), nullptr, name.c_str(), file.string().c_str(), 0,
                            [file, name]() -> testing::Test* { return new ComponentCase(file, name); });
    }
  }
  return RUN_ALL_TESTS();
}
