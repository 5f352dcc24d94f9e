#!/usr/bin/env bash
# Builds the whole suite with a sanitizer in a build folder of its own and
# runs every ctest case there. A finding ends the program under test, so it
# fails its case.
#   scripts/run-sanitized.sh address|thread [build dir] [ctest args...]
# address: AddressSanitizer with UndefinedBehaviorSanitizer and leak checks;
# thread: ThreadSanitizer. Built with g++, like the plain build: the server's
# fault translation relies on g++'s unwinding through signal frames.
set -euo pipefail
kind=${1:?usage: $0 address|thread [build dir] [ctest args...]}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${2:-$top/build-${kind:0:1}san}")
shift $(( $# >= 2 ? 2 : 1 ))
jobs=${JOBS:-$(nproc)}
supp=$top/tests/sanitize

CC=gcc CXX=g++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTQ_WERROR=ON -DTQ_SANITIZE="$kind" >/dev/null
cmake --build "$build" -j "$jobs"

# The tests find the server programs through TQ_BUILD_DIR: these, not the
# plain build's.
export TQ_BUILD_DIR=$build
# Reports go to files, not to the output of the test that saw them: a
# finding in a program a test starts (TQWL, tqservice, WLStatus) fails the
# run even when that test does not look at how the program ended.
logs=$build/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="detect_leaks=1:log_path=$logs/asan:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan:suppressions=$supp/ubsan.supp:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$logs/tsan:suppressions=$supp/tsan.supp:${TSAN_OPTIONS:-}"

# Under ThreadSanitizer the cases on a real X display step aside: the threads
# there are those of uninstrumented Qt, libxcb and glib, whose locks and file
# descriptors it cannot follow. The same window tests run offscreen.
skip=()
[[ $kind == thread ]] && skip=(-E 'on_xvfb$')

status=0
# In the same network namespace as the plain run, so that the fixed ports stay reserved.
CTEST_TIMEOUT=900 JOBS=$jobs "$top/scripts/run-unit.sh" "$build" "${skip[@]}" "$@" || status=$?
shopt -s nullglob
reports=("$logs"/*)
if (( ${#reports[@]} > 0 )); then
  for report in "${reports[@]}"; do
    echo "== $report" >&2
    head -n 80 "$report" >&2
  done
  echo "sanitizer: ${#reports[@]} report(s) in $logs" >&2
  status=1
fi
exit "$status"
