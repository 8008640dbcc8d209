#!/bin/sh
# Installs the peer libraries that the benchmarks compare against (Debian packages).
exec "$(dirname "$0")/../scripts/deps.sh" bench
