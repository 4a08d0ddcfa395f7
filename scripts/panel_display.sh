#!/usr/bin/env bash
# Runs a command on a virtual 800x480 X display (Xvfb) that is served on loopback only: by VNC
# (x11vnc) and as a page for a browser (noVNC through websockify). Everything it started ends
# with the command. A stop of the script (SIGINT, SIGTERM, SIGHUP; Ctrl-C) goes to the command
# first, and the display ends only after the command has: Ctrl-C never reaches the display
# itself, which runs in a session of its own.
#
#   scripts/panel_display.sh [--vnc-port N] [--web-port N] [--quiet] -- command [args...]
#
# Defaults: VNC on 127.0.0.1:5900, the browser view on http://127.0.0.1:6080/vnc.html. A port that
# is taken moves to the next free one (said on stderr); the ports used are printed once served.
set -euo pipefail

vnc_port=5900
web_port=6080
quiet=0
while [ $# -gt 0 ]; do
  case "$1" in
    --vnc-port) vnc_port="$2"; shift 2 ;;
    --web-port) web_port="$2"; shift 2 ;;
    --quiet) quiet=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--vnc-port N] [--web-port N] [--quiet] -- command [args...]" >&2; exit 2; }

novnc_dir=/usr/share/novnc
for tool in Xvfb x11vnc websockify; do
  command -v "$tool" >/dev/null || { echo "panel_display: $tool is missing (bash scripts/deps.sh installs it)" >&2; exit 3; }
done
[ -f "$novnc_dir/vnc.html" ] || { echo "panel_display: noVNC is missing (bash scripts/deps.sh installs it)" >&2; exit 3; }

# A port another program holds would be served by that program (x11vnc falls back to [::1] only):
# each moves to a free one, and the lines below print the ports really used.
source "$(dirname "$0")/ports.sh"
vnc_port="$(free_port_from "VNC server" "$vnc_port")" || exit 4
web_port="$(free_port_from "browser view" "$web_port" "$vnc_port")" || exit 4

# The command draws without OpenGL on this display: Qt's GLX set-up would load the software GL
# driver for nothing, whose allocations, kept until the exit, a sanitizer build would report.
export QT_XCB_GL_INTEGRATION="${QT_XCB_GL_INTEGRATION:-none}"

work="$(mktemp -d "${TMPDIR:-/tmp}/zel-display.XXXXXX")"
pids=()
cleanup() {
  trap - EXIT INT TERM
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
# Until the command runs, a stop ends the script; then it is handed to the command. A command
# started in the background of this shell (no job control) begins with SIGINT ignored until it
# takes the signal itself (the box does so first thing): a stop is handed over once the command
# catches it (after 5 s at most), so none is lost in that first instant. One that comes while the command is being
# started is handed over right after.
app=
launching=0
held_stop=
stop_requested=0
catches() {
  local mask
  mask="$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$1/status" 2>/dev/null || true)"
  [ -n "$mask" ] && (( (16#$mask >> ($2 - 1)) & 1 ))
}
stop() {
  if [ -z "$app" ]; then
    [ "$launching" = 1 ] || exit "$2"
    held_stop="$1"
    return
  fi
  stop_requested=1
  local sig
  sig="$(kill -l "$1")"
  for _ in $(seq 1 500); do
    catches "$app" "$sig" && break
    kill -0 "$app" 2>/dev/null || return 0
    sleep 0.01
  done
  kill -s "$1" "$app" 2>/dev/null || true
}
trap 'stop TERM 143' TERM
trap 'stop INT 130' INT
trap 'stop HUP 129' HUP

# Waits (bounded) until something listens on 127.0.0.1:$1.
wait_port() {
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "panel_display: nothing answers on 127.0.0.1:$1 (see $2)" >&2
  return 1
}

# Xvfb picks a free display number and reports it once it accepts clients. No TCP listener.
setsid Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "panel_display: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$work/display")"

setsid x11vnc -display "$DISPLAY" -localhost -rfbport "$vnc_port" -forever -shared -nopw -quiet \
  -noxdamage >"$work/x11vnc.log" 2>&1 &
pids+=($!)
wait_port "$vnc_port" "$work/x11vnc.log"

setsid websockify --web "$novnc_dir" "127.0.0.1:$web_port" "127.0.0.1:$vnc_port" >"$work/websockify.log" 2>&1 &
pids+=($!)
wait_port "$web_port" "$work/websockify.log"

if [ "$quiet" = 0 ]; then
  cat <<INFO
  front panel        X display $DISPLAY (800x480), served on loopback only:
                     VNC viewer   127.0.0.1:$vnc_port   (e.g. vncviewer 127.0.0.1::$vnc_port)
                     browser      http://127.0.0.1:$web_port/vnc.html?autoconnect=true
INFO
fi

launching=1
"$@" &
app=$!
pids+=("$app")
[ -z "$held_stop" ] || stop "$held_stop"
status=0
# A trapped signal ends a wait early: wait again until the command itself has ended.
while :; do
  stop_requested=0
  code=0
  wait "$app" || code=$?
  [ "$code" = 127 ] && break   # collected by the previous wait
  status=$code
  [ "$stop_requested" = 1 ] || break
done
exit "$status"
