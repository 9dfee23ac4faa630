#!/usr/bin/env bash
# shards.sh N PROGRAM: runs the cases of a QTest program in N processes at
# once, every Nth case (a function, or one row of a data-driven function) in
# each. For programs whose cases mostly wait on timers and share nothing: each
# process has a test environment of its own. Prints each process's output in
# turn; fails when one of them fails or no case is found.
set -uo pipefail
n=${1:?}
program=${2:?}

cases=()
while read -r _ function tag; do
  cases+=("$function${tag:+:$tag}")
done < <("$program" -datatags)
[ ${#cases[@]} -gt 0 ] || {
  echo "FAIL: $program lists no cases"
  exit 1
}

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
runs=()
for ((s = 0; s < n; s++)); do
  part=()
  for ((i = s; i < ${#cases[@]}; i += n)); do part+=("${cases[i]}"); done
  [ ${#part[@]} -gt 0 ] || continue
  "$program" "${part[@]}" >"$out/$s" 2>&1 &
  runs+=("$!:$s")
done
failed=0
for r in "${runs[@]}"; do
  wait "${r%%:*}" || failed=1
  cat "$out/${r#*:}"
done
exit "$failed"
