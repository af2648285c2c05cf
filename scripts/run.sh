#!/usr/bin/env bash
# Sets up, builds the program (and the resources it runs with, not the tests or benchmarks) and starts it.
# Arguments go to the program: scripts/run.sh --preview opens the demo workspace.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
DORVIK_TARGET=dorvik "$root/scripts/build.sh"
exec "${DORVIK_BUILD_DIR:-$root/build}/src/app/dorvik" "$@"
