#!/usr/bin/env bash
# Runs a command on an X server of its own: tests about what a real display
# does (xcb, OpenGL through Mesa) start one each, so they run side by side.
#
#   xvfb_run.sh [-s WxHxD] command [args...]
#
# Xvfb picks a free display number itself and writes it once it accepts
# connections, so there is neither a race for the number nor a wait by time.
set -euo pipefail
screen=2560x1600x24
if [[ ${1:-} == -s ]]; then
    screen=$2
    shift 2
fi
command -v Xvfb >/dev/null || { echo "xvfb_run: Xvfb is not installed" >&2; exit 1; }
log=$(mktemp)
coproc XVFB { exec Xvfb -displayfd 1 -screen 0 "$screen" -nolisten tcp -noreset 2>"$log"; }
xvfb_pid=$XVFB_PID
stop() {
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    rm -f "$log"
}
trap stop EXIT
if ! read -r -t 30 display <&"${XVFB[0]}"; then
    echo "xvfb_run: Xvfb did not start:" >&2
    cat "$log" >&2
    exit 1
fi
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
"$@"
