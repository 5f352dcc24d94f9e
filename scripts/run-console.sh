#!/usr/bin/env bash
# Opens the console WLStatus on the state root that `make run` uses (state/ in
# the checkout, or $TQ_STATE_ROOT): seeds it as `make run` does, registers
# TQWL as a service under our service controller there (again and again
# without harm), then runs the console in the foreground. Needs a display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build}")
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "make console: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it in a desktop session" >&2
  exit 1
fi
export TQ_STATE_ROOT=${TQ_STATE_ROOT:-$top/state}
mkdir -p "$TQ_STATE_ROOT"
"$build/bin/tqwlsetup" seed "$TQ_STATE_ROOT/storage"
"$build/bin/tqwlsetup" install "$build/bin/TQWL" "$TQ_STATE_ROOT/storage" --service >/dev/null
echo "WLStatus: state root $TQ_STATE_ROOT; TQWL is the service \"TQWL\" there (Service > Start starts it)."
exec "$build/bin/WLStatus"
