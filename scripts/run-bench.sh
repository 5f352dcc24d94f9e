#!/usr/bin/env bash
# Runs the server benchmarks: tqbench starts its own TQWL on free loopback
# ports with a temporary state root, and the plain baselines beside it.
#   scripts/run-bench.sh [build dir] [tqbench options, e.g. --quick]
#   TQ_BENCH_ARGS="--quick" make bench
# Run it while no tests run: the server also opens its default port 34347.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build}")
[ $# -gt 0 ] && shift
# shellcheck disable=SC2086
exec "$build/bin/tqbench" --bin "$build/bin" ${TQ_BENCH_ARGS:-} "$@"
