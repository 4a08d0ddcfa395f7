# Port checks for the run scripts (sourced, not run).

# True when something listens on TCP port $1 of any local address (127.0.0.1, [::1], all).
port_taken() {
  if command -v ss >/dev/null; then
    [ -n "$(ss -Hltn "sport = :$1" 2>/dev/null)" ]
  else
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
  fi
}

# True when a UDP socket is bound to port $1 (needs ss; false without it).
udp_port_taken() {
  command -v ss >/dev/null && [ -n "$(ss -Hlun "sport = :$1" 2>/dev/null)" ]
}

# Prints $2 when it is free, else the first free port after it (up to 50 on), with a line on
# stderr saying that the $1 ("VNC") moved there; fails with a message when none is free. Ports
# named in $3 (blank-separated) count as taken.
free_port_from() {
  local what="$1" port="$2" avoid=" ${3:-} " tries=0
  while port_taken "$port" || [[ "$avoid" == *" $port "* ]]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 50 ]; then
      echo "ports: no free port for the $what between $2 and $port; stop what holds them or choose another" >&2
      return 1
    fi
    port=$((port + 1))
  done
  [ "$port" = "$2" ] || echo "ports: 127.0.0.1:$2 is taken by another program; the $what uses $port instead" >&2
  echo "$port"
}
