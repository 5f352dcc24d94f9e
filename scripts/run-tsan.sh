#!/usr/bin/env bash
# Builds the host and the program with ThreadSanitizer (clang) in its own
# build folder and runs the tests of starting, signalling and stopping the
# program; any report of the program makes it exit with 66, which fails them.
#   scripts/run-tsan.sh [build dir, default build-tsan]
# Run it while no tests run: the server opens its default port 34347.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build-tsan}")
flags=-fsanitize=thread
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target test_host test_tqwl TQWL tqwlsetup
export TSAN_OPTIONS="suppressions=$top/tests/tsan.supp ${TSAN_OPTIONS:-}"
"$build/tests/server/host/test_host" --gtest_filter='HostStops.*:VirtualServersTest.*'
"$build/tests/server/host/program/test_tqwl" --gtest_filter='TqwlProgramTest.*:TqwlEndToEndTest.*:TqwlCrashTest.*'
