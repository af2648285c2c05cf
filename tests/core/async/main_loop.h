// Driving the calling thread's main context from the async suites.
#pragma once

#include <glib.h>

#include <chrono>
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

}  // namespace dorvik::async::testing
