#!/usr/bin/env bash
# Sets up, builds and runs every test inside a private session (D-Bus, Secret Service, X display).
# First builds the sanitizer configuration into build-asan/ and runs the suites marked for it.
# DORVIK_SKIP_SANITIZERS=1 leaves the sanitizer step out.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${DORVIK_BUILD_DIR:-$root/build}

status=0
if [ "${DORVIK_SKIP_SANITIZERS:-0}" != 1 ]; then
  DORVIK_BUILD_DIR="$root/build-asan" DORVIK_BUILD_TYPE=Debug "$root/scripts/build.sh" -DDORVIK_SANITIZE=ON -DDORVIK_BUILD_BENCH=OFF
  # Leak detection stays off here: LeakSanitizer's scan at exit crashes now and then on the worker threads that
  # GLib, GnuTLS and the actors leave running, which would fail the run for no fault of the code under test.
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 "$root/scripts/with-session.sh" \
     ctest --output-on-failure -j "$(nproc)") || status=1
fi
log="$build/ctest.log"
(cd "$build" && "$root/scripts/with-session.sh" ctest --output-on-failure -j "$(nproc)" "$@" 2>&1 | tee "$log"
 exit "${PIPESTATUS[0]}") || status=1
# Processes of the private session may still write a line or two while it closes; ctest's summary comes last.
summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true)
[ -z "$summary" ] || echo "$summary"
exit $status
