// SharedTask<T>: one piece of work that several waiters join, such as the one token renewal in flight that every
// request answered 401 waits for. The work starts with the first join and runs once; every waiter gets its value
// or its exception. A waiter whose own token is cancelled leaves with CancelledError while the others go on;
// cancel() cancels the work itself, and then every waiter. settled() waits for the end without its outcome.
#pragma once

#include <list>
#include <memory>
#include <type_traits>

#include "core/async/task.h"

namespace dorvik::async {

template <class T>
class SharedTask {
 public:
  explicit SharedTask(Task<T> work) : state_(std::make_shared<State>()) { state_->work = std::move(work); }

  bool started() const { return state_->started; }
  bool finished() const { return state_->result.ready(); }
  void cancel() { state_->token.cancel(); }

  // Waits for the work's end: with its value or exception (kValue), or without them, only that it has ended.
  template <bool kValue>
  class Waiter {
   public:
    explicit Waiter(std::shared_ptr<typename SharedTask::State> state) : state_(std::move(state)) {}
    void bindEnv(const Env& env) { env_ = env; }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
      auto handoff = detail::Handoff<void>::make(h, env_);
      handoff_ = handoff;
      if (state_->result.ready()) {
        detail::Handoff<void>::succeed(handoff);
        return;
      }
      if (!detail::Handoff<void>::watch(handoff, env_.token)) return;
      state_->waiters.push_back(handoff);
      if (!state_->started) state_->start(handoff->context);
    }
    std::conditional_t<kValue, T, void> await_resume() {
      auto handoff = std::move(handoff_);
      handoff->take(env_.token);  // throws CancelledError when this waiter was cancelled
      if constexpr (!kValue) {
        return;
      } else if constexpr (std::is_void_v<T>) {
        state_->result.peek();
      } else {
        return state_->result.peek();
      }
    }

   private:
    std::shared_ptr<typename SharedTask::State> state_;
    Env env_;
    std::shared_ptr<detail::Handoff<void>> handoff_;
  };
  using Join = Waiter<true>;

  // co_await shared.join(): the work's value or exception.
  Join join() { return Join(state_); }
  // co_await shared.settled(): returns once the work has ended, however it ended.
  Waiter<false> settled() { return Waiter<false>(state_); }

 private:
  struct State : std::enable_shared_from_this<State> {
    Task<T> work;
    bool started = false;
    CancelToken token;
    detail::Result<T> result;
    std::list<std::shared_ptr<detail::Handoff<void>>> waiters;

    void start(GMainContext* context) {
      started = true;
      auto self = this->shared_from_this();
      detail::captureInto(std::move(work), std::shared_ptr<detail::Result<T>>(self, &result))
          .startDetached(Env{context, token}, [self](std::exception_ptr) {
            for (auto& waiter : self->waiters) detail::Handoff<void>::succeed(waiter);
            self->waiters.clear();
          });
    }
  };
  std::shared_ptr<State> state_;
};

}  // namespace dorvik::async
