#!/usr/bin/env bash
# The long crash run: the server killed some hundreds of times under write
# load, every acknowledged write checked after each kill.
#   scripts/run-soak.sh [build dir] [kills]
#   TQ_SOAK_KILLS=500 make soak
# Run it while no tests run: the server opens its default port 34347.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build}")
kills=${2:-${TQ_SOAK_KILLS:-300}}
export TQ_CRASH_ROUNDS=$kills
exec "$build/tests/server/host/program/test_tqwl" --gtest_filter='TqwlCrashTest.*'
