// Helpers for tests that run tasks on the main context and watch them from outside.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

#include <gtest/gtest.h>

#include "core/async/task.h"

namespace dorvik::testing {

// Iterates the calling thread's context until done() holds or the time is up; returns done().
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Iterates the calling thread's context for a while.
void spinFor(std::chrono::milliseconds duration);

// The outcome of a task started with start().
template <class T>
struct Outcome {
  bool done = false;
  std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
  std::exception_ptr error;

  // Rethrows the task's exception; true when it ended normally.
  bool ok() const { return done && !error; }
  void rethrow() const {
    if (error) std::rethrow_exception(error);
  }
  // True when the task failed with an exception of type E; then `out` (when given) receives a copy.
  template <class E>
  bool failedWith(E* out = nullptr) const {
    if (!error) return false;
    try {
      std::rethrow_exception(error);
    } catch (const E& e) {
      if (out) *out = e;
      return true;
    } catch (...) {
      return false;
    }
  }
};

namespace detail {
template <class T>
async::Task<void> record(async::Task<T> task, std::shared_ptr<Outcome<T>> out) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await std::move(task);
      out->value = true;
    } else {
      out->value = co_await std::move(task);
    }
  } catch (...) {
    out->error = std::current_exception();
  }
  out->done = true;
}
}  // namespace detail

// Starts a task detached on the calling thread's context and returns where its outcome will appear.
template <class T>
std::shared_ptr<Outcome<T>> start(async::Task<T> task, async::CancelToken token = async::CancelToken::none()) {
  auto out = std::make_shared<Outcome<T>>();
  async::spawn(detail::record(std::move(task), out), std::move(token));
  return out;
}

// Runs a task that must fail with an E: the failure, or none after recording a test failure (another failure,
// or none at all). Header-only, for suites that link GoogleTest.
template <class E, class T>
std::optional<E> failureOf(async::Task<T> task) {
  try {
    async::runBlocking(std::move(task));
  } catch (const E& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "another failure: " << e.what();
    return std::nullopt;
  }
  ADD_FAILURE() << "no failure";
  return std::nullopt;
}

}  // namespace dorvik::testing
