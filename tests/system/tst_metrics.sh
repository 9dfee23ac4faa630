#!/usr/bin/env bash
# The metrics as Prometheus gets them: the example alert rules pass promtool's
# check and their own test; files written by the real MetricsWriter (through
# tovel3-metricsfeed, which links QtCore alone) are served by the real node
# exporter and scraped with curl, hostile names included.
set -euo pipefail
src=${TOVEL3_SOURCE_DIR:?}
feed=${TOVEL3_METRICSFEED:?}
source "$src/tests/support/nodeexporter.sh"
source "$src/tests/support/prelude.sh"
at_exit=(node_exporter_stop)
logs=(exporter.log)
has() { grep -Fxq -- "$2" <<<"$1" || fail "scrape lacks: ${2:0:200}"; }
lacks() { ! grep -Fq -- "$2" <<<"$1" || fail "scrape has: ${2:0:200}"; }

# --- the alert rules
rules="$src/packaging/prometheus"
promtool check rules "$rules/tovel3.rules.yml" || fail "promtool check rules"
(cd "$rules" && promtool test rules tovel3.rules.test.yml) || fail "promtool test rules"
echo "ok: rules checked and their tests pass"

# --- the writer needs no Gui
libs=$(ldd "$feed")
grep -q libQt5Core <<<"$libs" || fail "feed does not link QtCore"
! grep -Eq 'libQt5(Gui|Widgets|Qml|Quick)' <<<"$libs" || fail "feed links more than QtCore: $libs"
echo "ok: the writer links QtCore alone"

# --- served and scraped
mkdir "$work/textfiles"
node_exporter_start "$work/textfiles" "$work/exporter.log"
"$feed" --dir "$work/textfiles" --heartbeats 5 --acks 5 --network 127.0.0.1 --process nginx \
  --model "Ostrel X2" --firmware 3.1 --port /dev/ttyACM0 --temperature 215 || fail "feed could not write"
scrape=$(node_exporter_wait_for '^tovel3_heartbeats_sent_total 5$') || fail "no tovel3 metrics scraped"
has "$scrape" 'node_textfile_scrape_error 0'
has "$scrape" 'tovel3_check_up{check="process",target="nginx"} 1'
has "$scrape" 'tovel3_board_info{firmware="3.1",model="Ostrel X2",port="/dev/ttyACM0"} 1'
has "$scrape" 'tovel3_board_temperature_celsius 21.5'
for name in acks_received_total last_heartbeat_timestamp_seconds last_ack_timestamp_seconds \
  board_suspended board_connected start_time_seconds; do
  grep -Eq "^tovel3_$name [0-9]" <<<"$scrape" || fail "no tovel3_$name"
done
grep -Eq '^node_textfile_mtime_seconds\{file=".*/tovel3\.prom"\}' <<<"$scrape" ||
  fail "no file time for the stale-metrics alert"
echo "ok: every metric scraped from the node exporter"

# --- hostile names: quotes, backslashes, newlines, 10 KB
hostile=$'say "hi"\\ now\nrm -rf /'
long=$(head -c 10240 /dev/zero | tr '\0' '"')
"$feed" --dir "$work/textfiles" --heartbeats 9 --acks 9 --process "$hostile" \
  --network "$long" --port $'C:\\COM3\n' || fail "feed could not write hostile names"
scrape=$(node_exporter_wait_for '^tovel3_heartbeats_sent_total 9$') || fail "replaced file not served"
has "$scrape" 'node_textfile_scrape_error 0'
has "$scrape" 'tovel3_check_up{check="process",target="say \"hi\"\\ now\nrm -rf /"} 1'
cut=$(printf '\\"%.0s' $(seq 255))
has "$scrape" "tovel3_check_up{check=\"network\",target=\"$cut…\"} 1"
has "$scrape" 'tovel3_board_info{firmware="",model="",port="C:\\COM3\n"} 1'
promtool check metrics <<<"$scrape" || fail "promtool rejects the scrape"
promtool check metrics <"$work/textfiles/tovel3.prom" || fail "promtool rejects the file"
echo "ok: hostile names served intact and promtool accepts file and scrape"
