# Sourced: ser2net in front of pseudo-terminals, on free loopback ports, by the kernel's table of
# TCP sockets (no connection, which would make ser2net open its device).

# A loopback port that no socket uses now and that is not among the arguments.
free_loopback_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 20000))
    grep -q "^ *[0-9]*: 0100007F:$(printf %04X "$port") " /proc/net/tcp || [[ " $* " == *" $port "* ]] ||
      break
  done
  echo "$port"
}

# ser2net_connection SCHEME PORT DEVICE: one connection of a ser2net configuration, for rfc2217
# (Telnet with COM Port Control) or tcp (raw).
ser2net_connection() {
  local accepter=tcp
  [ "$1" = rfc2217 ] && accepter='telnet(rfc2217),tcp'
  printf 'connection: &c%s\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$2" "$accepter" "$2" "$3"
}

# start_ser2net CONFIG LAST_PORT: ser2net on the configuration (without its YAML header), in the
# background as ser2net_pid, once it listens on the last port it serves.
start_ser2net() {
  { printf '%%YAML 1.1\n---\n'; cat "$1"; } >"$1.yaml"
  ser2net -n -u -c "$1.yaml" </dev/null >/dev/null 2>&1 &
  ser2net_pid=$!
  for _ in $(seq 200); do
    grep -q "^ *[0-9]*: 0100007F:$(printf %04X "$2") 00000000:0000 0A" /proc/net/tcp && return
    sleep 0.05
  done
  echo "ser2net did not start"
  return 1
}
