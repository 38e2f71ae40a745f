# Sourced by the with-*.sh scripts: runs their command in the background so
# that a signal reaches the script at once and can be passed on, then exits
# with the command's own status. The command keeps the script's standard
# input; set child_close_fd to a descriptor the command must not inherit.
# The caller's cleanup trap reads child_pid.

# shellcheck shell=bash
run_child() {
  # With no standard input at all (a CI runner may close it), the command
  # gets an empty one instead.
  if [ -e /proc/self/fd/0 ]; then
    exec 4<&0
  else
    exec 4</dev/null
  fi
  if [ -n "${child_close_fd:-}" ]; then
    "$@" <&4 4<&- {child_close_fd}>&- &
  else
    "$@" <&4 4<&- &
  fi
  child_pid=$!
  echo "$child_pid" >"$workdir/child.pid"
  exec 4<&-

  trap 'kill -INT "$child_pid" 2>/dev/null' INT
  trap 'kill -TERM "$child_pid" 2>/dev/null' TERM
  trap 'kill -HUP "$child_pid" 2>/dev/null' HUP

  # wait returns early when a trapped signal arrives, while the child may
  # still run; bash keeps the status of a finished child, so the last wait
  # reports the child's own exit status either way.
  while kill -0 "$child_pid" 2>/dev/null; do
    wait "$child_pid"
  done
  wait "$child_pid"
  local status=$?
  child_pid=
  exit "$status"
}
