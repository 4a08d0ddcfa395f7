#!/usr/bin/env bash
# Builds zelT71N and runs it on the simulated board.
#   UI:        VNC on localhost:5900 (800x480), or a window when a display exists
#   commands:  TCP 5005 and UDP 5008 on loopback (ZEL_TCP_PORT / ZEL_UDP_PORT move them)
#   root:      ./var stands for "/" (parameter file, settings, journal of shell commands)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zelT71N

export ZEL_BOARD=sim
export ZEL_ROOT="${ZEL_ROOT:-$PWD/var}"
mkdir -p "$ZEL_ROOT"

platform="vnc:size=800x480"
if [ -n "${DISPLAY:-}" ] && [ -z "${ZEL_VNC:-}" ]; then
  platform="xcb"
fi

cat <<INFO
zelT71N on the simulated board
  root directory     $ZEL_ROOT   (stands for "/")
  user interface     $( [ "$platform" = xcb ] && echo "a window on $DISPLAY" || echo "VNC at localhost:5900 (800x480)" )
  TCP command port   127.0.0.1:${ZEL_TCP_PORT:-5005}
  UDP command port   127.0.0.1:${ZEL_UDP_PORT:-5008}
  command journal    $ZEL_ROOT/var/log/commands.log   (no machine-changing command runs)
  simulated board    $ZEL_ROOT/etc/zel-sim.ini   (input signals, receiving cards per port,
                     multifunction card; edit it and restart)
  USB stick          mkdir -p $ZEL_ROOT/mnt/usb1 plugs one in, rmdir/rm -r unplugs it
  serial lines       $ZEL_ROOT/dev/ttyS2 (main) and $ZEL_ROOT/dev/ttyS1 (4G): link a
                     pseudo-terminal there, e.g.  socat pty,link=$ZEL_ROOT/dev/ttyS2,raw -
INFO
exec ./build/zelT71N -platform "$platform"
