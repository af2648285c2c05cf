// Sleeping on the monotonic clock without blocking the loop: `co_await sleepUntil(instant)`. Cancellable.
#pragma once

#include <chrono>

#include "core/async/task.h"

namespace dorvik::async {

using Clock = std::chrono::steady_clock;

class SleepAwaitable {
 public:
  explicit SleepAwaitable(Clock::time_point until) : until_(until) {}
  void bindEnv(const Env& env) { env_ = env; }
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h);
  void await_resume();

 private:
  struct State;
  Clock::time_point until_;
  Env env_;
  std::shared_ptr<State> state_;
};

inline SleepAwaitable sleepUntil(Clock::time_point until) { return SleepAwaitable(until); }
inline SleepAwaitable sleepFor(Clock::duration d) { return SleepAwaitable(Clock::now() + d); }

}  // namespace dorvik::async
