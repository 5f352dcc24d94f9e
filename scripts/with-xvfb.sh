#!/usr/bin/env bash
# Runs a command on a private Xvfb display with Qt's xcb platform. Xvfb picks
# a free display number itself (-displayfd), so parallel runs never collide;
# it is stopped when the command ends. The command's exit status is kept.
#   scripts/with-xvfb.sh <command> [args...]
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 <command> [args...]" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "with-xvfb: Xvfb is not installed (scripts/install-deps.sh)" >&2; exit 1; }
work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "with-xvfb: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -s $work/display ]] || { echo "with-xvfb: Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
set +e
"$@"
status=$?
set -e
exit $status
