#!/bin/sh
# fuzz.sh [seconds]: builds the libFuzzer targets (preset "fuzz") and runs each for
# the given time (default 60 s) on a copy of its corpus in fuzz/corpus/<name>.
# Findings are written to build/fuzz/artifacts and make the script fail.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/deps.sh fuzz
targets=$(ls fuzz/fuzz_*.cpp 2>/dev/null | sed 's|fuzz/||; s|\.cpp$||')
if [ -z "$targets" ]; then
    echo "fuzz.sh: no fuzz targets"
    exit 0
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/artifacts
for target in $targets; do
    name=${target#fuzz_}
    work=build/fuzz/corpus-$name
    rm -rf "$work" && mkdir -p "$work"
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
    echo "fuzzing $name for $seconds s"
    "build/fuzz/bin/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/artifacts/ "$work"
done
