# Sourced by shell tests:
#   wait_for SECONDS COMMAND...  runs COMMAND every 0.1 s until it succeeds;
#                                after SECONDS it runs once more and returns
#                                that result
wait_for() {
  local tries=$(($1 * 10)) i
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
