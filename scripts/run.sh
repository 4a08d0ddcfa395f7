#!/usr/bin/env bash
# Builds zelT71N and runs it on the simulated board.
#   front panel: a window when a display exists (DISPLAY set), otherwise a virtual display served
#                on loopback by VNC (127.0.0.1:5900) and as a browser page
#                (http://127.0.0.1:6080/vnc.html?autoconnect=true); ZEL_VNC=1 forces the latter,
#                ZEL_VNC_PORT and ZEL_WEB_PORT move the two ports (a taken one moves on to a
#                free one by itself, and the ports printed are those in use)
#   commands:    TCP 5005 and UDP 5008 on loopback (ZEL_TCP_PORT / ZEL_UDP_PORT move them)
#   root:        ./var stands for "/" (parameter file, settings, journal of shell commands)
#   ZEL_SANITIZE=ON: the box built with AddressSanitizer and UndefinedBehaviorSanitizer (leak
#                checking on) in build-run-asan/, so that a run and its stop show any report
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
# The run needs neither the tests nor the benchmarks; build/ keeps them configured where their
# packages are there (scripts/test.sh installs those).
extras=OFF
bash scripts/deps.sh --have test && extras=ON
sanitize="${ZEL_SANITIZE:-OFF}"
case "$sanitize" in
  OFF) build=build ;;
  ON) build=build-run-asan; extras=OFF ;;
  *) echo "scripts/run.sh: ZEL_SANITIZE must be ON or OFF, not '$sanitize'" >&2; exit 2 ;;
esac
# Diagnostics always on here, whatever the folder was configured with before.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_DEBUG_OUTPUT=ON \
  -DZEL_SANITIZE="$sanitize" -DZEL_BUILD_TESTS="$extras" -DZEL_BUILD_BENCH="$extras" >/dev/null
cmake --build "$build" -j "$(nproc)" --target zelT71N

export ZEL_BOARD=sim
export ZEL_ROOT="${ZEL_ROOT:-$PWD/var}"
mkdir -p "$ZEL_ROOT/dev"
# Qt wants a private runtime folder; without one it warns on every start.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$ZEL_ROOT/run/user"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi

# The command ports are checked before the banner announces them: the box keeps trying a taken
# one, but until then the banner's port reaches the other program.
source scripts/ports.sh
warn_taken() {
  echo "run.sh: the $1 command port $2 is taken by another program: the box shows that on its panel" \
    "and binds it once it is free ($3=another port moves it)" >&2
}
# The banner's word on each command port ($1 the check, $2 TCP or UDP, $3 the port, $4 its
# variable): a taken one answers only once the other program lets it go.
port_note() {
  if "$1" "$3"; then
    warn_taken "$2" "$3" "$4"
    echo "taken by another program: bound once it is free"
  else
    echo "answers once the start-up pause (about 5 s) is over"
  fi
}
tcp_note="$(port_note port_taken TCP "${ZEL_TCP_PORT:-5005}" ZEL_TCP_PORT)"
udp_note="$(port_note udp_port_taken UDP "${ZEL_UDP_PORT:-5008}" ZEL_UDP_PORT)"

# The panel draws without OpenGL: Qt's GLX set-up would load the machine's GL driver for nothing,
# whose allocations, kept until the exit, a sanitizer build's leak check would report.
export QT_XCB_GL_INTEGRATION="${QT_XCB_GL_INTEGRATION:-none}"

use_window=0
if [ -n "${DISPLAY:-}" ] && [ -z "${ZEL_VNC:-}" ]; then
  use_window=1
fi

cat <<INFO
zelT71N on the simulated board
  root directory     $ZEL_ROOT   (stands for "/")
  TCP command port   127.0.0.1:${ZEL_TCP_PORT:-5005}   $tcp_note
  UDP command port   127.0.0.1:${ZEL_UDP_PORT:-5008}   $udp_note
  command journal    $ZEL_ROOT/var/log/commands.log   (no machine-changing command runs;
                     rotated to commands.log.1 at 1 MiB)
  simulated board    $ZEL_ROOT/etc/zel-sim.ini   (input signals, receiving cards per port,
                     multifunction card, clock; edit it and restart)
  video chip         $ZEL_ROOT/var/sim/video_chip.bin   (its registers, rewritten when one changes)
                     $ZEL_ROOT/var/sim/video_chip.txt   (what they make of the picture)
  USB stick          mkdir -p $ZEL_ROOT/mnt/usb1 plugs one in (the communication page's
                     upgrade looks there), rm -r $ZEL_ROOT/mnt/usb1 unplugs it
  serial lines       $ZEL_ROOT/dev/ttyS2 (main) and $ZEL_ROOT/dev/ttyS1 (4G): link a
                     pseudo-terminal there, e.g.
                     socat -d -d pty,raw,echo=0,link=$ZEL_ROOT/dev/ttyS2 pty,raw,echo=0,link=/tmp/pc-side
                     and talk to /tmp/pc-side
  language           tap the lock screen, then settings (gear) > 高级设置 Advanced >
                     工厂设置 Factory setup > 语言 language
INFO

if [ "$use_window" = 1 ]; then
  echo "  front panel        a window on $DISPLAY"
  exec "./$build/zelT71N" -platform xcb
fi
exec bash scripts/panel_display.sh --vnc-port "${ZEL_VNC_PORT:-5900}" --web-port "${ZEL_WEB_PORT:-6080}" \
  -- "./$build/zelT71N" -platform xcb
