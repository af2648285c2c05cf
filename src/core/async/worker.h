// SerialWorker: one thread that runs jobs one after another, in the order they were handed in. The actors of the
// system (planner engine, encrypted cache, secure store) each own one, so their state is touched by one thread
// only and the main loop never waits for them.
//
//   int n = co_await worker.run([] { return slowCount(); });
//
// run() resumes the awaiting task on its own context with the job's value or exception. When the task's token is
// cancelled while the job waits or runs (or after its result was posted), the task resumes with CancelledError;
// a job that has begun still runs to its end on the worker and its result is dropped.
//
// Destroying the worker never blocks: jobs already queued still run on its thread, which then ends by itself.
// The process does not end under them: exit() first waits (a few seconds at most) until every worker's jobs have
// run, before the exit handlers and static destructors of the libraries those jobs use (the script engine's among
// them) tear down what the jobs still touch.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "core/async/task.h"

namespace dorvik::async {

class SerialWorker {
 public:
  explicit SerialWorker(std::string name);
  ~SerialWorker();
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  // Queues a job with no answer.
  void post(std::function<void()> job);

  // True on the worker's own thread.
  bool onWorkerThread() const;

  template <class F, class R = std::invoke_result_t<F&>>
  class JobAwaitable {
   public:
    JobAwaitable(SerialWorker* worker, F fn) : worker_(worker), fn_(std::move(fn)) {}
    void bindEnv(const Env& env) { env_ = env; }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
      auto handoff = detail::Handoff<R>::make(h, env_);
      handoff_ = handoff;
      if (!detail::Handoff<R>::watch(handoff, env_.token)) return;
      worker_->post([handoff, fn = std::move(fn_)]() mutable {
        if (handoff->claimed.load(std::memory_order_acquire)) return;  // cancelled before it started
        detail::Result<R> result;
        try {
          if constexpr (std::is_void_v<R>) {
            fn();
            result.setValue();
          } else {
            result.setValue(fn());
          }
        } catch (...) {
          result.setError(std::current_exception());
        }
        if (!handoff->claim()) return;
        handoff->result = std::move(result);
        detail::Handoff<R>::resume(handoff);
      });
    }
    R await_resume() {
      auto handoff = std::move(handoff_);
      return handoff->take(env_.token);
    }

   private:
    SerialWorker* worker_;
    F fn_;
    Env env_;
    std::shared_ptr<detail::Handoff<R>> handoff_;
  };

  template <class F>
  JobAwaitable<std::decay_t<F>> run(F&& fn) {
    return JobAwaitable<std::decay_t<F>>(this, std::forward<F>(fn));
  }

 private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    bool running = false;  // a job is running
    std::thread::id thread;
  };
  static void loop(std::shared_ptr<Queue> queue);
  std::shared_ptr<Queue> queue_;
};

}  // namespace dorvik::async
