#!/usr/bin/env bash
# Configures into build/ (once) and builds incrementally. Extra arguments go to the configure step.
# DORVIK_JOBS limits the parallel compile jobs (all cores by default); DORVIK_TARGET builds one target only.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${DORVIK_BUILD_DIR:-$root/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${DORVIK_BUILD_TYPE:-RelWithDebInfo}" "$@"
fi
cmake --build "$build" --parallel "${DORVIK_JOBS:-$(nproc)}" ${DORVIK_TARGET:+--target "$DORVIK_TARGET"}
