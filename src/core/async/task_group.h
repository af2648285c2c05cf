// TaskGroup: runs tasks with at most `limit` of them in flight (the batch address search keeps four lookups
// going at once). add() waits for a free slot, then starts the task detached on the caller's context, under a
// token that the caller's token and the group's cancel() both cancel; wait() waits until every task added has
// finished and rethrows the first failure other than cancellation.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "core/async/task.h"

namespace dorvik::async {

struct TaskGroupState : std::enable_shared_from_this<TaskGroupState> {
  std::size_t limit = 1;
  std::size_t running = 0;
  CancelToken token;
  std::exception_ptr firstError;
  struct Pending {
    std::shared_ptr<detail::Handoff<void>> handoff;
    Task<void> task;
    Env env;
  };
  std::deque<Pending> waitingForSlot;
  std::deque<std::shared_ptr<detail::Handoff<void>>> waitingForAll;

  void launch(Task<void> task, Env env);
  void finished(std::exception_ptr error);
};

class TaskGroup {
 public:
  explicit TaskGroup(std::size_t limit);

  std::size_t inFlight() const { return state_->running; }
  // Cancels the tasks in flight and those still waiting for a slot; wait() then returns once they have ended.
  void cancel() { state_->token.cancel(); }
  bool cancelled() const { return state_->token.isCancelled(); }

  class Slot {
   public:
    Slot(std::shared_ptr<TaskGroupState> state, Task<void> task, bool all)
        : state_(std::move(state)), task_(std::move(task)), all_(all) {}
    void bindEnv(const Env& env) { env_ = env; }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h);
    void await_resume();

   private:
    std::shared_ptr<TaskGroupState> state_;
    Task<void> task_;
    bool all_;
    Env env_;
    std::shared_ptr<detail::Handoff<void>> handoff_;
  };

  // co_await group.add(task): returns once the task has started.
  Slot add(Task<void> task) { return Slot(state_, std::move(task), false); }
  // co_await group.wait(): returns once every task has finished.
  Slot wait() { return Slot(state_, Task<void>(), true); }

 private:
  std::shared_ptr<TaskGroupState> state_;
};

}  // namespace dorvik::async
