// Driving the calling thread's main context from the async suites.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

#include "core/async/sleep.h"

namespace dorvik::async::testing {

// Runs whatever is ready on the context, until nothing is.
inline void drain() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Runs the context for a while.
inline void iterateFor(std::chrono::milliseconds d) {
  auto end = Clock::now() + d;
  while (Clock::now() < end) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Runs the context until done() holds or the time is up (a bound for a hung test, not a wait to rely on);
// returns done().
inline bool iterateUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto end = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= end) return done();
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace dorvik::async::testing
