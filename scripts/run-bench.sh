#!/usr/bin/env bash
# Runs the server benchmarks: tqbench starts its own TQWL on free loopback
# ports with a temporary state root, and the plain baselines beside it; then
# tqactivitybench measures an activity window and what it costs the server.
#   scripts/run-bench.sh [build dir] [tqbench options, e.g. --quick]
#   TQ_BENCH_ARGS="--quick" make bench
# Run it while no tests run: the server also opens its default port 34347.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build}")
[ $# -gt 0 ] && shift
# The activity window's benchmark follows; it reads --quick and ignores the rest.
status=0
# shellcheck disable=SC2086
"$build/bin/tqbench" --bin "$build/bin" ${TQ_BENCH_ARGS:-} "$@" || status=$?
# shellcheck disable=SC2086
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/tqactivitybench" --bin "$build/bin" ${TQ_BENCH_ARGS:-} "$@" || status=$?
exit $status
