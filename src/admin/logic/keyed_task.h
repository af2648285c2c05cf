// KeyedTask: the one run of a screen's loading task for the current key (page, day, workspace...). A new key
// cancels the run in flight and starts the next; the same key again starts nothing. Destroying it cancels the run.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/async/task.h"

namespace dorvik::admin {

class KeyedTask {
 public:
  KeyedTask() = default;
  KeyedTask(const KeyedTask&) = delete;
  KeyedTask& operator=(const KeyedTask&) = delete;
  ~KeyedTask() { token_.cancel(); }

  // Starts make()'s task under a fresh token when `key` differs from the last one; true when it started.
  bool run(std::string key, const std::function<async::Task<void>()>& make) {
    if (key_ == key) return false;
    key_ = std::move(key);
    token_.cancel();
    token_ = async::CancelToken();
    async::spawn(make(), token_);
    return true;
  }

  // Cancels the run in flight (its screen went away); a later run() starts whatever its key.
  void cancel() {
    token_.cancel();
    key_.reset();
  }

  const std::optional<std::string>& key() const { return key_; }

 private:
  std::optional<std::string> key_;
  async::CancelToken token_;
};

}  // namespace dorvik::admin
