#!/usr/bin/env bash
# Runs TQWL in the foreground in its own process, with its state (registry,
# pipes, storage folder) under state/ in the checkout. The registry is seeded
# on the first run and kept afterwards. Ctrl+C stops the server cleanly.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build}")
export TQ_STATE_ROOT=${TQ_STATE_ROOT:-$top/state}
mkdir -p "$TQ_STATE_ROOT"
"$build/bin/tqwlsetup" seed "$TQ_STATE_ROOT/storage"
echo "TQWL: state root $TQ_STATE_ROOT, default virtual server on port 34347; Ctrl+C stops it."
cd "$TQ_STATE_ROOT"
exec "$build/bin/TQWL" "$@"
