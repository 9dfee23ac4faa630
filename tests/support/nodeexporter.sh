# Sourced by shell tests: the real prometheus-node-exporter on 127.0.0.1, with
# only its textfile collector, reading a directory of the test's.
#
#   node_exporter_start DIR LOG    starts it on a free port; sets
#                                  NODE_EXPORTER_PID and NODE_EXPORTER_URL
#   node_exporter_scrape           prints one scrape
#   node_exporter_wait_for REGEX [SECONDS]
#                                  scrapes until a line matches (default 10 s);
#                                  prints the last scrape, fails on timeout
#   node_exporter_stop

NODE_EXPORTER_PID=""
NODE_EXPORTER_URL=""

node_exporter_start() {
  local dir=$1 log=$2 port try
  for try in 1 2 3 4 5; do
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    prometheus-node-exporter --web.listen-address="127.0.0.1:$port" \
      --collector.disable-defaults --collector.textfile \
      --collector.textfile.directory="$dir" --web.disable-exporter-metrics >"$log" 2>&1 &
    NODE_EXPORTER_PID=$!
    NODE_EXPORTER_URL="http://127.0.0.1:$port/metrics"
    local waited
    for waited in $(seq 50); do
      curl -fsS -o /dev/null "$NODE_EXPORTER_URL" 2>/dev/null && return 0
      kill -0 "$NODE_EXPORTER_PID" 2>/dev/null || break # the port was taken meanwhile
      sleep 0.1
    done
    node_exporter_stop
  done
  echo "node exporter did not start:" >&2
  cat "$log" >&2
  return 1
}

node_exporter_scrape() {
  curl -fsS --max-time 5 "$NODE_EXPORTER_URL"
}

node_exporter_wait_for() {
  local regex=$1 seconds=${2:-10} scrape="" i
  for i in $(seq $((seconds * 10))); do
    scrape=$(node_exporter_scrape || true)
    if grep -Eq -- "$regex" <<<"$scrape"; then
      printf '%s\n' "$scrape"
      return 0
    fi
    sleep 0.1
  done
  printf '%s\n' "$scrape"
  return 1
}

node_exporter_stop() {
  if [ -n "$NODE_EXPORTER_PID" ]; then
    kill "$NODE_EXPORTER_PID" 2>/dev/null || true
    wait "$NODE_EXPORTER_PID" 2>/dev/null || true
  fi
  NODE_EXPORTER_PID=""
}
