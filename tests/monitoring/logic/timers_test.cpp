// The day's 30-second refresh and the track player's 0.4-second steps, on a fake clock.
#include <gtest/gtest.h>

#include <map>

#include "monitoring/logic/timers.h"

using namespace dorvik::monitoring;
using namespace std::chrono_literals;

namespace {

class FakeClock : public Scheduler {
 public:
  std::uint64_t after(std::chrono::milliseconds delay, std::function<void()> fn) override {
    timers_[++next_] = {now_ + delay, std::move(fn)};
    return next_;
  }
  void cancel(std::uint64_t handle) override { timers_.erase(handle); }

  // Moves the clock on, firing what falls due in order.
  void advance(std::chrono::milliseconds by) {
    const auto until = now_ + by;
    for (;;) {
      auto due = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->second.first <= until && (due == timers_.end() || it->second.first < due->second.first)) due = it;
      if (due == timers_.end()) break;
      now_ = due->second.first;
      auto fn = std::move(due->second.second);
      timers_.erase(due);
      fn();
    }
    now_ = until;
  }
  std::size_t pending() const { return timers_.size(); }

 private:
  std::chrono::milliseconds now_{0};
  std::uint64_t next_ = 0;
  std::map<std::uint64_t, std::pair<std::chrono::milliseconds, std::function<void()>>> timers_;
};

struct Loads {
  int started = 0;
  int cleared = 0;
  std::vector<std::function<void()>> running;
  void finishAll() {
    auto all = std::move(running);
    running.clear();
    for (auto& done : all) done();
  }
};

}  // namespace

TEST(RefreshLoop, LoadsThirtySecondsAfterEachLoadEndsWhileAutomatic) {
  auto clock = std::make_shared<FakeClock>();
  Loads loads;
  bool automatic = true;
  auto loop = std::make_unique<RefreshLoop>(
      clock, [&](std::function<void()> done) { ++loads.started, loads.running.push_back(std::move(done)); },
      [&] { return automatic; }, [&] { ++loads.cleared; });

  loop->start("2026-10-06|g1");
  EXPECT_EQ(loads.started, 1);
  EXPECT_EQ(loads.cleared, 1);
  clock->advance(60s);
  EXPECT_EQ(loads.started, 1) << "the period counts from the end of the load";
  loads.finishAll();
  clock->advance(29999ms);
  EXPECT_EQ(loads.started, 1);
  clock->advance(1ms);
  EXPECT_EQ(loads.started, 2);
  loads.finishAll();

  automatic = false;
  clock->advance(90s);
  EXPECT_EQ(loads.started, 2) << "ticks without loads while automatic is off";
  automatic = true;
  clock->advance(30s);
  EXPECT_EQ(loads.started, 3) << "the next tick loads, not the switch itself";

  loop->start("2026-10-06|g1");
  EXPECT_EQ(loads.started, 3) << "the same identity keeps the loop";
  loop->start("2026-10-07|g1");
  EXPECT_EQ(loads.started, 4);
  EXPECT_EQ(loads.cleared, 2) << "a new day clears the selection";
  loads.finishAll();  // the superseded load ends too: only one timer follows
  EXPECT_EQ(clock->pending(), 1u);

  loop->stop();
  EXPECT_EQ(clock->pending(), 0u);
  loop->start("2026-10-08|g1");
  auto stale = loads.running;
  loop.reset();
  for (auto& done : stale) done();  // a load ending after the screen went schedules nothing
  EXPECT_EQ(clock->pending(), 0u);
}

TEST(TrackPlayer, StepsToTheLastFixAndRewinds) {
  auto clock = std::make_shared<FakeClock>();
  int changes = 0;
  auto player = std::make_unique<TrackPlayer>(clock, [&] { ++changes; });

  player->loaded(1);
  EXPECT_FALSE(player->controlsEnabled());
  EXPECT_EQ(player->sliderMaximum(), 1.0);
  EXPECT_EQ(player->index(), 0u);

  player->loaded(3);
  EXPECT_EQ(player->position(), 2.0);
  player->press();  // at the last fix: from the first one
  EXPECT_TRUE(player->playing());
  EXPECT_EQ(player->index(), 0u);
  clock->advance(399ms);
  EXPECT_EQ(player->index(), 0u);
  clock->advance(1ms);
  EXPECT_EQ(player->index(), 1u);
  player->setPosition(0);  // dragged during playback: continues from there
  clock->advance(400ms);
  EXPECT_EQ(player->index(), 1u);
  clock->advance(800ms);
  EXPECT_EQ(player->index(), 2u);
  EXPECT_FALSE(player->playing()) << "stops by itself at the last fix";
  EXPECT_EQ(clock->pending(), 0u);

  player->setPosition(0);
  player->press();
  clock->advance(400ms);
  player->press();  // pause
  EXPECT_FALSE(player->playing());
  clock->advance(2s);
  EXPECT_EQ(player->index(), 1u) << "pause stops at once";
  player->setPosition(2);
  player->press();  // at the last fix again: rewinds
  EXPECT_EQ(player->position(), 0.0);
  EXPECT_TRUE(player->playing());
  player->loading();  // a new load pauses
  EXPECT_FALSE(player->playing());
  player->loaded(2);
  EXPECT_EQ(player->position(), 1.0);

  player->setPosition(7.9);
  EXPECT_EQ(player->index(), 1u) << "a position beyond the last fix shows the last fix";
  player->setPosition(0);
  player->press();
  player.reset();  // the sheet closed while playing
  EXPECT_EQ(clock->pending(), 0u);
  EXPECT_GT(changes, 0);
}
