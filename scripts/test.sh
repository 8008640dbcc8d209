#!/bin/sh
# test.sh [preset]: configures, builds and runs the test suite of a preset
# (default, debug, asan, tsan) in one go through its CMake workflow preset.
set -eu
cd "$(dirname "$0")/.."
preset=${1:-default}
scripts/deps.sh build
exec cmake --workflow --preset "$preset"
