// Measures shared by the suites and benchmarks that bound what a hostile input may cost: gzip-packed answers that
// unpack to far more than they weigh, and the process's peak resident memory.
#pragma once

#include <cstddef>
#include <string>

namespace dorvik::testing {

// A gzip stream of `unpacked` zero bytes (about a thousandth of that size).
std::string gzipOfZeros(std::size_t unpacked);

// The peak resident memory of this process so far, in bytes (VmHWM), and its reset to the present resident size.
std::size_t peakResidentBytes();
void resetPeakResident();

}  // namespace dorvik::testing
