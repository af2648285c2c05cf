// ScreenData: the loader behind a screen that shows or changes server data of its own. It keeps the last
// accepted answer, the text of the last failure and two progress flags, and guards the screen against answers
// of superseded loads, of an older workspace and of cancelled tasks.
//
// Main thread only. A load or write keeps the object alive while it waits.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/async/task.h"
#include "core/base/observers.h"
#include "core/json/json_value.h"

namespace dorvik {

// What a loader needs of the application model: the current workspace generation and the server gateway.
struct ScreenSource {
  using Fetch =
      std::function<async::Task<JSONValue>(std::string path, std::string method, std::optional<JSONValue> body)>;
  std::function<std::string()> generation;
  Fetch fetch;
};

class ScreenData : public std::enable_shared_from_this<ScreenData> {
 public:
  enum class Property { value, issue, loading, saving };
  using Observer = Observers<Property>::Observer;
  using Connection = Observers<Property>::Connection;

  static std::shared_ptr<ScreenData> create() { return std::shared_ptr<ScreenData>(new ScreenData()); }

  [[nodiscard]] Connection observe(Observer observer) { return observers_.observe(std::move(observer)); }

  const JSONValue& value() const { return value_; }
  void setValue(JSONValue value);
  const std::optional<std::string>& issue() const { return issue_; }
  void setIssue(std::optional<std::string> issue);
  bool loading() const { return loading_; }
  bool saving() const { return saving_; }

  // GET of `path`; the outcome is left in value, issue and loading. Never throws.
  async::Task<void> load(std::string path, ScreenSource source);
  // One request with the given method and body; true only when it succeeded and the workspace did not change.
  async::Task<bool> write(std::string path, std::string method, JSONValue body, ScreenSource source);

 private:
  ScreenData() = default;
  static async::Task<void> runLoad(std::shared_ptr<ScreenData> self, std::string path, ScreenSource source);
  static async::Task<bool> runWrite(std::shared_ptr<ScreenData> self, std::string path, std::string method,
                                    JSONValue body, ScreenSource source);
  void setLoading(bool on);
  void setSaving(bool on);
  void notify(Property property);

  JSONValue value_;
  std::optional<std::string> issue_;
  bool loading_ = false;
  bool saving_ = false;
  std::uint64_t request_ = 0;  // token of the latest load
  std::optional<std::string> scope_;
  Observers<Property> observers_;
};

}  // namespace dorvik
