#include "core/async/task_group.h"

namespace dorvik::async {

TaskGroup::TaskGroup(std::size_t limit) : state_(std::make_shared<TaskGroupState>()) {
  state_->limit = limit == 0 ? 1 : limit;
}

void TaskGroupState::launch(Task<void> task, Env env) {
  ++running;
  env.token = env.token.linkedWith(token);
  std::move(task).startDetached(std::move(env),
                                [self = shared_from_this()](std::exception_ptr error) { self->finished(error); });
}

void TaskGroupState::finished(std::exception_ptr error) {
  --running;
  if (error && !firstError) {
    try {
      std::rethrow_exception(error);
    } catch (const CancelledError&) {
    } catch (...) {
      firstError = error;
    }
  }
  // Hand the free slot to the first waiter still waiting (a cancelled one has already left).
  while (!waitingForSlot.empty() && running < limit) {
    Pending next = std::move(waitingForSlot.front());
    waitingForSlot.pop_front();
    if (!next.handoff->claim()) continue;
    launch(std::move(next.task), next.env);
    next.handoff->result.setValue();
    detail::Handoff<void>::resume(next.handoff);
  }
  if (running == 0) {
    for (auto& waiter : waitingForAll) detail::Handoff<void>::succeed(waiter);
    waitingForAll.clear();
  }
}

void TaskGroup::Slot::await_suspend(std::coroutine_handle<> h) {
  auto handoff = detail::Handoff<void>::make(h, env_);
  handoff_ = handoff;
  if (!detail::Handoff<void>::watch(handoff, env_.token)) return;
  if (all_) {
    if (state_->running == 0) {
      detail::Handoff<void>::succeed(handoff);
    } else {
      state_->waitingForAll.push_back(handoff);
    }
    return;
  }
  if (state_->running < state_->limit) {
    state_->launch(std::move(task_), Env{handoff->context, env_.token});
    detail::Handoff<void>::succeed(handoff);
    return;
  }
  state_->waitingForSlot.push_back({handoff, std::move(task_), Env{handoff->context, env_.token}});
}

void TaskGroup::Slot::await_resume() {
  auto handoff = std::move(handoff_);
  handoff->take(env_.token);
  if (all_ && state_->firstError) std::rethrow_exception(state_->firstError);
}

}  // namespace dorvik::async
