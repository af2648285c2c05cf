// attempt(): a task's failure as a value, so that a workflow reads as straight-line code.
//
//   auto saved = co_await async::attempt(cache->write(value, "name"));
//   if (!saved) return show(saved.failure());
//   use(*saved);  // for a task with a value
//
// A cancellation is no failure: it still ends the awaiting task by CancelledError.
#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "core/async/task.h"
#include "core/base/errors.h"

namespace dorvik::async {

namespace detail {
class OutcomeBase {
 public:
  explicit operator bool() const { return !failure_; }
  const std::exception_ptr& failure() const { return failure_; }

 protected:
  std::exception_ptr failure_;
};
}  // namespace detail

// The value of a task that ended normally, or its failure.
template <class T>
class Outcome : public detail::OutcomeBase {
 public:
  static Outcome success(T value) {
    Outcome outcome;
    outcome.value_.emplace(std::move(value));
    return outcome;
  }
  static Outcome failed(std::exception_ptr failure) {
    Outcome outcome;
    outcome.failure_ = std::move(failure);
    return outcome;
  }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
};

template <>
class Outcome<void> : public detail::OutcomeBase {
 public:
  static Outcome success() { return Outcome(); }
  static Outcome failed(std::exception_ptr failure) {
    Outcome outcome;
    outcome.failure_ = std::move(failure);
    return outcome;
  }
};

namespace detail {
template <class A>
struct AwaitResult {
  using type = std::remove_cvref_t<decltype(std::declval<A&>().await_resume())>;
};
template <class U>
struct AwaitResult<Task<U>> {
  using type = U;
};
}  // namespace detail

// Awaits the task (or another awaitable of this library) and answers its outcome; CancelledError passes through,
// and so does the awaiting task's own cancellation, whatever the outcome.
template <class A, class T = typename detail::AwaitResult<A>::type>
Task<Outcome<T>> attempt(A awaitable) {
  std::exception_ptr failure;
  try {
    if constexpr (std::is_void_v<T>) {
      co_await std::move(awaitable);
      co_return Outcome<void>::success();
    } else {
      T value = co_await std::move(awaitable);
      co_return Outcome<T>::success(std::move(value));
    }
  } catch (const CancelledError&) {
    throw;
  } catch (...) {
    failure = std::current_exception();
  }
  // A failure that arrives after the awaiting task was cancelled is stale like a value would be.
  const CancelToken own = co_await currentToken();
  own.throwIfCancelled();
  co_return Outcome<T>::failed(std::move(failure));
}

}  // namespace dorvik::async
