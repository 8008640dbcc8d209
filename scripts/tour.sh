#!/bin/sh
# tour.sh: builds ztools (preset "default") and runs `ztools tour`.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target ztools
exec build/default/bin/ztools tour
