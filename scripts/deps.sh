#!/bin/sh
# deps.sh [build|bench|fuzz|windows ...]: makes sure the Debian packages that the project
# needs are installed. As root it installs what is missing with apt-get; otherwise
# it stops with the exact command to run.
set -eu

packages="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libcli11-dev libsqlite3-dev"
# The mail provider sends through libcurl; its tests run a local SMTP server.
packages="$packages libcurl4-openssl-dev python3-aiosmtpd"
# The window tests run under an X server of their own (Xvfb); libX11 itself is
# loaded at run time, its headers give the types.
packages="$packages xvfb libx11-dev"
# The serial tests drive pseudo-terminals through socat as an outside peer.
packages="$packages socat libserialport-dev"
for extra in "$@"; do
    case "$extra" in
    build) ;;
    bench) packages="$packages libbenchmark-dev libpoco-dev libconcurrentqueue-dev libhowardhinnant-date-dev libxbyak-dev libserialport-dev" ;;
    fuzz) packages="$packages clang libclang-rt-14-dev" ;;
    # The mingw-w64 cross build (preset windows): the compiler, Wine to run the
    # tests, and the GoogleTest sources that the build compiles for the target.
    windows) packages="$packages g++-mingw-w64-x86-64-posix wine64 wine googletest" ;;
    *) echo "deps.sh: unknown group '$extra'" >&2; exit 2 ;;
    esac
done

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null 2>&1 || true
    # shellcheck disable=SC2086
    apt-get install -y -qq $missing >/dev/null
else
    # A fresh system may have no package lists yet, and no sudo.
    echo "Missing Debian packages. Run this, then try again:" >&2
    echo "  sudo sh -c 'apt-get update && apt-get install -y$missing'" >&2
    echo "or, as root:" >&2
    echo "  apt-get update && apt-get install -y$missing" >&2
    exit 1
fi
