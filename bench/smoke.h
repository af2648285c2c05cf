// A smoke run of a benchmark: DORVIK_BENCH_SMOKE=1 (set by the tests labelled bench-smoke) asks it to run each case
// once on its smallest size, to show that it still runs and checks what it checks, not how fast it is.
#pragma once

#include <cstdlib>
#include <string_view>

namespace dorvik::bench {

inline bool smokeRun() {
  const char* value = std::getenv("DORVIK_BENCH_SMOKE");
  return value && *value && std::string_view(value) != "0";
}

// The full size of a fixture, or its smallest in a smoke run.
template <class T>
T sized(T full, T smallest) {
  return smokeRun() ? smallest : full;
}

}  // namespace dorvik::bench
