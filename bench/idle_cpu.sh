#!/usr/bin/env bash
# CPU use of the running box while nobody uses it, in percent of one core.
#   bench/idle_cpu.sh [pid] [seconds]
# pid defaults to the running zelT71N (with more than one running, it must be given), seconds
# to 10. Exits 1 when the use reaches IDLE_CPU_LIMIT percent (default 2), 2 when there is no box
# to measure or it ended during the measurement.
set -euo pipefail
pid="${1:-}"
if [ -z "$pid" ]; then
  read -r -a running <<<"$(pidof zelT71N || true)"
  if [ "${#running[@]}" -gt 1 ]; then
    echo "idle_cpu: ${#running[@]} zelT71N run (pids ${running[*]}): give the pid of the one to measure" >&2
    exit 2
  fi
  pid="${running[0]:-}"
fi
seconds="${2:-10}"
limit="${IDLE_CPU_LIMIT:-2}"
if [ -z "$pid" ] || [ ! -r "/proc/$pid/stat" ]; then
  echo "idle_cpu: no running zelT71N (start it with scripts/run.sh, or give its pid)" >&2
  exit 2
fi
# utime and stime are fields 14 and 15; the command name (field 2) may hold blanks.
cpu_ticks() {
  local stat
  stat="$(cat "/proc/$pid/stat" 2>/dev/null)" || {
    echo "idle_cpu: zelT71N (pid $pid) ended during the measurement" >&2
    exit 2
  }
  sed 's/^.*) //' <<<"$stat" | awk '{ print $12 + $13 }'
}
hz="$(getconf CLK_TCK)"
before="$(cpu_ticks)"
sleep "$seconds"
after="$(cpu_ticks)"
awk -v d="$((after - before))" -v hz="$hz" -v s="$seconds" -v lim="$limit" -v pid="$pid" 'BEGIN {
  pct = 100 * d / hz / s
  printf "idle CPU of zelT71N (pid %s) over %s s: %.2f %% of a core (limit %s %%)\n", pid, s, pct, lim
  exit (pct >= lim) ? 1 : 0
}'
