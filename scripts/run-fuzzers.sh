#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds
# from its seed corpus. A crash fails the run and leaves the input behind.
set -euo pipefail
build=$(realpath -m "${1:-build-fuzz}")
seconds=${2:-5}
top=$(cd "$(dirname "$0")/.." && pwd)

if ! command -v clang++ >/dev/null; then
  echo "run-fuzzers: clang++ not found, fuzz targets skipped" >&2
  exit 0
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DTQ_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_all -j "$(nproc)"

shopt -s nullglob
for target in "$build"/tests/fuzz/fuzz_*; do
  [[ -x $target ]] || continue
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds="$top/tests/fuzz/corpus/$name"
  [[ -d $seeds ]] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  (cd "$build" && "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" >"$build/$name.log" 2>&1) || {
    tail -n 60 "$build/$name.log" >&2
    echo "fuzz: $name failed" >&2
    exit 1
  }
done
