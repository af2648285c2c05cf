// fromCallback(): awaits an answer that arrives through a callback (a dialog's response, a signal).
//
//   std::optional<std::string> path = co_await async::fromCallback<std::optional<std::string>>(
//       [&](async::Resolver<std::optional<std::string>> resolve) { showDialog(std::move(resolve)); });
//
// `start` runs at once, while the awaiting task suspends; the task resumes (deferred, on its own context) with
// the first value given to the resolver, from any thread. A `start` that throws ends the task with its exception. When
// every copy of the resolver is dropped without an answer, the answer will never come and the task ends by
// CancelledError; so it does when its token is cancelled first, and a late answer is then ignored.
#pragma once

#include <coroutine>
#include <memory>
#include <type_traits>
#include <utility>

#include "core/async/task.h"

namespace dorvik::async {

template <class T>
class Resolver {
 public:
  using Handoff = detail::Handoff<T>;

  explicit Resolver(std::shared_ptr<Handoff> handoff) : link_(std::make_shared<Link>(std::move(handoff))) {}

  template <class... V>
  void operator()(V&&... value) const {
    Handoff::succeed(link_->handoff, std::forward<V>(value)...);
  }

 private:
  // Shared by the copies of one resolver; the last one to go answers "never" when nobody answered.
  struct Link {
    explicit Link(std::shared_ptr<Handoff> h) : handoff(std::move(h)) {}
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() { Handoff::cancelled(handoff); }
    std::shared_ptr<Handoff> handoff;
  };
  std::shared_ptr<Link> link_;
};

template <class T, class Start>
class FromCallback {
 public:
  explicit FromCallback(Start start) : start_(std::move(start)) {}
  void bindEnv(const Env& env) { env_ = env; }
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> h) {
    auto handoff = detail::Handoff<T>::make(h, env_);
    handoff_ = handoff;
    if (!detail::Handoff<T>::watch(handoff, env_.token)) return;
    Resolver<T> resolver(handoff);
    try {
      start_(resolver);
    } catch (...) {
      // The failure resumes the task right away: nothing may resume it a second time.
      handoff->claim();
      throw;
    }
  }
  T await_resume() {
    auto handoff = std::move(handoff_);
    return handoff->take(env_.token);
  }

 private:
  Start start_;
  Env env_;
  std::shared_ptr<detail::Handoff<T>> handoff_;
};

template <class T, class Start>
FromCallback<T, std::decay_t<Start>> fromCallback(Start&& start) {
  return FromCallback<T, std::decay_t<Start>>(std::forward<Start>(start));
}

}  // namespace dorvik::async
