// Channel<T>: values handed from tasks to a task that waits for them, in the order they were sent (the batch
// address search collects the lookups that have finished this way).
//
//   async::Channel<int> finished;
//   spawn(worker(finished));        // calls finished.send(…) when done
//   int value = co_await finished.receive();
//
// Unbounded: send() never waits. receive() answers the oldest value at once when one is waiting, else waits for
// the next one; waiting receivers are served in the order they came, each resumed deferred on its own context.
// A receiver whose token is cancelled leaves with CancelledError and takes nothing. Copies share one channel.
// Main thread only.
#pragma once

#include <coroutine>
#include <deque>
#include <memory>
#include <utility>

#include "core/async/task.h"
#include "core/base/errors.h"

namespace dorvik::async {

template <class T>
class Channel {
 public:
  Channel() : state_(std::make_shared<State>()) {}

  void send(T value) {
    state_->values.push_back(std::move(value));
    state_->serve();
  }

  // Values sent and not yet received.
  std::size_t size() const { return state_->values.size(); }

  class Receive {
   public:
    explicit Receive(std::shared_ptr<typename Channel::State> state) : state_(std::move(state)) {}
    void bindEnv(const Env& env) { env_ = env; }
    bool await_ready() const noexcept { return !state_->values.empty() && state_->receivers.empty(); }
    void await_suspend(std::coroutine_handle<> h) {
      auto handoff = detail::Handoff<T>::make(h, env_);
      handoff_ = handoff;
      if (!detail::Handoff<T>::watch(handoff, env_.token)) return;
      state_->receivers.push_back(handoff);
    }
    T await_resume() {
      if (!handoff_) {
        env_.token.throwIfCancelled();
        T value = std::move(state_->values.front());
        state_->values.pop_front();
        return value;
      }
      auto handoff = std::move(handoff_);
      handoff->cancelSubscription.reset();
      if (env_.token.isCancelled()) {
        // Cancelled after a value was handed over: it goes back to the channel for the next receiver.
        if (handoff->result.ready() && !handoff->result.failed()) {
          state_->values.push_front(handoff->result.take());
          state_->serve();
        }
        throw CancelledError();
      }
      return handoff->result.take();
    }

   private:
    std::shared_ptr<typename Channel::State> state_;
    Env env_;
    std::shared_ptr<detail::Handoff<T>> handoff_;
  };

  // co_await channel.receive()
  Receive receive() { return Receive(state_); }

 private:
  struct State {
    std::deque<T> values;
    std::deque<std::shared_ptr<detail::Handoff<T>>> receivers;

    // Hands waiting values to waiting receivers, oldest first; a receiver cancelled meanwhile is passed over.
    void serve() {
      while (!values.empty() && !receivers.empty()) {
        std::shared_ptr<detail::Handoff<T>> receiver = std::move(receivers.front());
        receivers.pop_front();
        if (detail::Handoff<T>::succeed(receiver, std::move(values.front()))) values.pop_front();
      }
    }
  };
  std::shared_ptr<State> state_;
};

}  // namespace dorvik::async
