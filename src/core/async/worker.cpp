#include "core/async/worker.h"

#include <glib.h>
#include <openssl/crypto.h>

#include <chrono>
#include <cstdlib>

namespace dorvik::async {

namespace {

// The jobs queued or running on every worker of the process, and the threads of released workers that have not ended
// yet. Never destroyed: exit handlers read it.
struct Outstanding {
  std::mutex mutex;
  std::condition_variable none;
  long jobs = 0;
  long ending = 0;
};

Outstanding& outstanding() {
  static auto* jobs = new Outstanding();
  return *jobs;
}

// How long exit() waits for the jobs and the threads: a job stuck longer (a call that never answers) lets the process
// end anyway.
constexpr auto kExitWait = std::chrono::seconds(5);

void finishJobsBeforeExit() {
  Outstanding& all = outstanding();
  std::unique_lock lock(all.mutex);
  all.none.wait_for(lock, kExitWait, [&] { return all.jobs == 0 && all.ending == 0; });
}

}  // namespace

SerialWorker::SerialWorker(std::string name) : queue_(std::make_shared<Queue>()) {
  std::thread thread([queue = queue_, name = std::move(name)] {
    g_debug("worker %s started", name.c_str());
    loop(queue);
    // The jobs may have used OpenSSL (the cache's encryption). Its state for this thread is let go here, before the
    // thread counts as ended: left to the thread's own end, it was freed a second time when that came beside
    // OpenSSL's cleanup at exit (a crash at exit, now and then).
    OPENSSL_thread_stop();
    Outstanding& all = outstanding();
    std::lock_guard count(all.mutex);
    --all.ending;
    all.none.notify_all();
  });
  {
    std::lock_guard lock(queue_->mutex);
    queue_->thread = thread.get_id();
  }
  thread.detach();
}

SerialWorker::~SerialWorker() {
  {
    std::lock_guard count(outstanding().mutex);
    ++outstanding().ending;
  }
  {
    std::lock_guard lock(queue_->mutex);
    queue_->stopping = true;
    queue_->wake.notify_one();
  }
  // Jobs left behind (the engine's release of its context, at the latest) and the end of the thread must not run
  // into exit(). The wait is registered now, not at start: exit handlers run last registered first, so it comes
  // before the handlers the libraries registered while the jobs used them.
  std::atexit(finishJobsBeforeExit);
}

void SerialWorker::post(std::function<void()> job) {
  {
    std::lock_guard count(outstanding().mutex);
    ++outstanding().jobs;
  }
  std::lock_guard lock(queue_->mutex);
  queue_->jobs.push_back(std::move(job));
  queue_->wake.notify_one();
}

bool SerialWorker::onWorkerThread() const {
  std::lock_guard lock(queue_->mutex);
  return queue_->thread == std::this_thread::get_id();
}

void SerialWorker::loop(std::shared_ptr<Queue> queue) {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(queue->mutex);
      queue->wake.wait(lock, [&] { return queue->stopping || !queue->jobs.empty(); });
      if (queue->jobs.empty()) return;  // stopping, and every queued job has run
      job = std::move(queue->jobs.front());
      queue->jobs.pop_front();
      queue->running = true;
    }
    job();
    job = nullptr;  // what the job holds is let go before it counts as done
    {
      std::lock_guard lock(queue->mutex);
      queue->running = false;
    }
    Outstanding& all = outstanding();
    std::lock_guard count(all.mutex);
    if (--all.jobs == 0) all.none.notify_all();
  }
}

}  // namespace dorvik::async
