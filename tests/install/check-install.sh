#!/bin/sh
# check-install.sh BUILD_DIR CONSUMER_DIR CXX
set -eu
build=$1
consumer=$2
cxx=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/zanth-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name zanth-tools.pc | head -n 1)
test -n "$pc"
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir zanth-tools)
# shellcheck disable=SC2046
"$cxx" -o "$work/with-pkg-config" "$consumer/main.cpp" $(pkg-config --cflags --libs zanth-tools) \
    -Wl,-rpath,"$libdir"
"$work/with-pkg-config"

cmake -S "$consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"
echo "install check passed"
