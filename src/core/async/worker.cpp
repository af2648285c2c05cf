#include "core/async/worker.h"

#include <glib.h>

namespace dorvik::async {

SerialWorker::SerialWorker(std::string name) : queue_(std::make_shared<Queue>()) {
  std::thread thread([queue = queue_, name = std::move(name)] {
    g_debug("worker %s started", name.c_str());
    loop(queue);
  });
  {
    std::lock_guard lock(queue_->mutex);
    queue_->thread = thread.get_id();
  }
  thread.detach();
}

SerialWorker::~SerialWorker() {
  std::lock_guard lock(queue_->mutex);
  queue_->stopping = true;
  queue_->wake.notify_one();
}

void SerialWorker::post(std::function<void()> job) {
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
    }
    job();
  }
}

}  // namespace dorvik::async
