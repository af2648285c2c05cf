#include "monitoring/logic/timers.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace dorvik::monitoring {

namespace {

class MainLoopScheduler : public Scheduler {
 public:
  std::uint64_t after(std::chrono::milliseconds delay, std::function<void()> fn) override {
    auto* box = new std::function<void()>(std::move(fn));
    return g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(delay.count()),
        [](gpointer data) -> gboolean {
          (*static_cast<std::function<void()>*>(data))();
          return G_SOURCE_REMOVE;
        },
        box, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  }
  void cancel(std::uint64_t handle) override {
    if (handle != 0) g_source_remove(static_cast<guint>(handle));
  }
};

}  // namespace

std::shared_ptr<Scheduler> mainLoopScheduler() { return std::make_shared<MainLoopScheduler>(); }

// ---- RefreshLoop

RefreshLoop::RefreshLoop(std::shared_ptr<Scheduler> scheduler, Load load, std::function<bool()> automatic,
                         std::function<void()> clearSelection)
    : scheduler_(std::move(scheduler)),
      load_(std::move(load)),
      automatic_(std::move(automatic)),
      clearSelection_(std::move(clearSelection)) {}

RefreshLoop::~RefreshLoop() { stop(); }

void RefreshLoop::start(const std::string& identity) {
  if (running_ && identity == identity_) return;
  stop();
  identity_ = identity;
  running_ = true;
  if (clearSelection_) clearSelection_();
  loadThenWait();
}

void RefreshLoop::stop() {
  ++*epoch_;
  if (pending_) scheduler_->cancel(pending_);
  pending_ = 0;
  running_ = false;
}

void RefreshLoop::loadThenWait() {
  const std::uint64_t epoch = *epoch_;
  std::weak_ptr<std::uint64_t> alive = epoch_;
  load_([this, alive, epoch] {
    auto current = alive.lock();
    if (!current || *current != epoch) return;  // stopped, restarted or gone meanwhile
    pending_ = scheduler_->after(kPeriod, [this, alive, epoch] {
      auto now = alive.lock();
      if (!now || *now != epoch) return;
      tick(epoch);
    });
  });
}

void RefreshLoop::tick(std::uint64_t epoch) {
  pending_ = 0;
  if (automatic_ && automatic_()) {
    loadThenWait();
    return;
  }
  std::weak_ptr<std::uint64_t> alive = epoch_;
  pending_ = scheduler_->after(kPeriod, [this, alive, epoch] {
    auto now = alive.lock();
    if (!now || *now != epoch) return;
    tick(epoch);
  });
}

// ---- TrackPlayer

TrackPlayer::TrackPlayer(std::shared_ptr<Scheduler> scheduler, std::function<void()> changed)
    : scheduler_(std::move(scheduler)), changed_(std::move(changed)) {}

TrackPlayer::~TrackPlayer() {
  changed_ = nullptr;
  stop();
}

std::size_t TrackPlayer::index() const {
  if (count_ == 0) return 0;
  const double cut = std::trunc(position_);
  if (!(cut > 0)) return 0;
  return std::min(count_ - 1, static_cast<std::size_t>(std::min(cut, 1e15)));
}

double TrackPlayer::sliderMaximum() const { return static_cast<double>(std::max<std::size_t>(count_, 2) - 1); }

void TrackPlayer::loading() { setPlaying(false); }

void TrackPlayer::loaded(std::size_t count) {
  count_ = count;
  position_ = count > 0 ? static_cast<double>(count - 1) : 0.0;
  notify();
}

void TrackPlayer::setPosition(double position) {
  if (!std::isfinite(position)) return;
  position_ = position;
  notify();
}

void TrackPlayer::press() {
  if (count_ > 0 && index() == count_ - 1) position_ = 0;
  setPlaying(!playing_);
}

void TrackPlayer::stop() {
  ++*epoch_;
  if (pending_) scheduler_->cancel(pending_);
  pending_ = 0;
  playing_ = false;
}

void TrackPlayer::setPlaying(bool playing) {
  ++*epoch_;
  if (pending_) scheduler_->cancel(pending_);
  pending_ = 0;
  playing_ = playing;
  if (playing_) {
    check();
    return;
  }
  notify();
}

void TrackPlayer::check() {
  if (!playing_ || count_ == 0 || index() >= count_ - 1) {
    playing_ = false;
    notify();
    return;
  }
  notify();
  const std::uint64_t epoch = *epoch_;
  std::weak_ptr<std::uint64_t> alive = epoch_;
  pending_ = scheduler_->after(kStep, [this, alive, epoch] {
    auto now = alive.lock();
    if (!now || *now != epoch) return;
    pending_ = 0;
    position_ += 1;
    check();
  });
}

}  // namespace dorvik::monitoring
