// The two periodic pieces of the monitoring screens, over a scheduler that tests replace with a fake clock:
// the day's refresh (a load, then 30 s after each load ends the next one while automatic refresh is on) and the
// track player's stepping (one fix every 0.4 s until the last fix).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dorvik::monitoring {

// One-shot timeouts on the monotonic clock.
class Scheduler {
 public:
  virtual ~Scheduler() = default;
  // Runs `fn` once after `delay`; the returned handle cancels it.
  virtual std::uint64_t after(std::chrono::milliseconds delay, std::function<void()> fn) = 0;
  virtual void cancel(std::uint64_t handle) = 0;
};

// GLib timeouts of the main context (milliseconds, so they are not coalesced to whole seconds).
std::shared_ptr<Scheduler> mainLoopScheduler();

// The 30-second refresh of one screen. Main thread only.
class RefreshLoop {
 public:
  static constexpr std::chrono::milliseconds kPeriod{30000};
  // `load(done)` starts one load and calls `done` when it has ended (whatever its outcome).
  using Load = std::function<void(std::function<void()> done)>;

  RefreshLoop(std::shared_ptr<Scheduler> scheduler, Load load, std::function<bool()> automatic,
              std::function<void()> clearSelection);
  ~RefreshLoop();
  RefreshLoop(const RefreshLoop&) = delete;
  RefreshLoop& operator=(const RefreshLoop&) = delete;

  // Starts the loop for `identity` (the day and workspace it loads) unless it already runs for it: clears the
  // selection and loads at once.
  void start(const std::string& identity);
  // Ends the loop; a load still running finishes without scheduling another.
  void stop();
  bool running() const { return running_; }

 private:
  void loadThenWait();
  void tick(std::uint64_t epoch);

  std::shared_ptr<Scheduler> scheduler_;
  Load load_;
  std::function<bool()> automatic_;
  std::function<void()> clearSelection_;
  std::shared_ptr<std::uint64_t> epoch_ = std::make_shared<std::uint64_t>(0);  // shared with pending callbacks
  std::uint64_t pending_ = 0;
  std::string identity_;
  bool running_ = false;
};

// The track player's position over `count` fixes and its playback. Main thread only.
class TrackPlayer {
 public:
  static constexpr std::chrono::milliseconds kStep{400};

  TrackPlayer(std::shared_ptr<Scheduler> scheduler, std::function<void()> changed);
  ~TrackPlayer();
  TrackPlayer(const TrackPlayer&) = delete;
  TrackPlayer& operator=(const TrackPlayer&) = delete;

  std::size_t count() const { return count_; }
  double position() const { return position_; }
  bool playing() const { return playing_; }
  // The current fix: the position cut toward zero, within 0 … count − 1.
  std::size_t index() const;
  // The slider's upper end: max(count, 2) − 1.
  double sliderMaximum() const;
  bool controlsEnabled() const { return count_ >= 2; }

  // Before a load: playback stops.
  void loading();
  // After a load: `count` fixes, the position on the last one.
  void loaded(std::size_t count);
  // The slider moved.
  void setPosition(double position);
  // The play/pause button: from the last fix it starts again at the first.
  void press();
  // The sheet goes away: nothing runs any more.
  void stop();

 private:
  void setPlaying(bool playing);
  void check();
  void notify() {
    if (changed_) changed_();
  }

  std::shared_ptr<Scheduler> scheduler_;
  std::function<void()> changed_;
  std::shared_ptr<std::uint64_t> epoch_ = std::make_shared<std::uint64_t>(0);
  std::uint64_t pending_ = 0;
  std::size_t count_ = 0;
  double position_ = 0;
  bool playing_ = false;
};

}  // namespace dorvik::monitoring
