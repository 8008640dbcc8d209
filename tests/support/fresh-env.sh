#!/bin/sh
# Runs one test program with its own fresh TMPDIR, XDG_CONFIG_HOME and
# XDG_RUNTIME_DIR, and standard input from /dev/null, so that no test sees the
# user's files, another test's files, or a terminal that would answer a prompt.
base=${ZANTH_TEST_ROOT:-/tmp}
dir=$(mktemp -d "$base/zanth-test.XXXXXX") || exit 1
mkdir -p "$dir/tmp" "$dir/config" "$dir/runtime" && chmod 700 "$dir/runtime"
TMPDIR="$dir/tmp" XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" "$@" </dev/null
status=$?
rm -rf "$dir"
exit $status
