#!/bin/bash
# The cleanup functions run from traps, which shellcheck cannot follow.
# shellcheck disable=SC2317

# Runs a command against a private JACK 2 server (dummy driver, 48 kHz,
# 128-frame periods), then stops the server and exits with the command's
# status. The server runs synchronously: every client finishes each cycle
# before the next begins, so that a loaded test machine slows the tests down
# instead of dropping or repeating MIDI events between clients.
#
#   with-jack.sh CMD [ARGS...]
#
# Every run gets a server of its own, and clients find it through
# JACK_DEFAULT_SERVER, so parallel ctest jobs never share one and a desktop's
# own JACK server is never touched. Clients may not start a server
# themselves (JACK_NO_START_SERVER). The command also gets TASTAVIA_JACK_PID,
# the server's process id, for tests that make the server go away.
#
# A test that needs the server to go away and come back asks this script,
# whose process id is TASTAVIA_JACK_CONTROL: SIGUSR1 stops the server
# cleanly (a server killed outright cannot be started again under its name
# until its entry is freed), SIGUSR2 starts it again under the same name.
# When either is done, the file TASTAVIA_JACK_STATE says "stopped" or
# "running <pid>".
#
# JACK keeps a machine-wide table of at most eight servers, and frees the
# entry of a server that died without stopping only when a server of the
# same name starts. So the names come from a small pool, each held under a
# lock for the whole run, and a server that a test killed is started and
# stopped once more under its name before the lock goes. Nothing is left
# behind when the command fails or kills the server, when it is
# interrupted, or when this script itself is killed outright: a watchdog
# stops the server once this shell has gone.

set -u

if [ $# -eq 0 ]; then
  echo "usage: ${0##*/} CMD [ARGS...]" >&2
  exit 2
fi

readonly ready_timeout=${TASTAVIA_JACK_TIMEOUT:-30}
readonly shm_dir=/dev/shm
# Machine-wide like JACK's own table, whatever TMPDIR a test runner sets.
readonly slot_dir=/tmp/tastavia-jack-slots
readonly slots=4

workdir=$(mktemp -d "${TMPDIR:-/tmp}/tastavia-jack.XXXXXX") || exit 1
server_name=
lock_fd=
keeper_pid=
jackd_pid=
jackd_stopped=
watchdog_pid=
child_pid=

# jackd runs under a small keeper shell that records how it ended: a server
# that did not stop cleanly has left its entry in JACK's table.
start_jackd() {
  rm -f "$workdir/jackd.pid" "$workdir/jackd.status"
  (
    jackd -n "$server_name" --no-realtime --sync -d dummy -r 48000 -p 128 \
      >"$workdir/jackd.log" 2>&1 </dev/null &
    echo $! >"$workdir/jackd.pid"
    wait $!
    echo $? >"$workdir/jackd.status"
  ) </dev/null >/dev/null 2>&1 {lock_fd}>&- &
  keeper_pid=$!
  until [ -s "$workdir/jackd.pid" ]; do sleep 0.01; done
  jackd_pid=$(cat "$workdir/jackd.pid")
}

# The test's requests: see the top. A server that fails to come back says
# so in the state file instead of ending the run.
request_stop() {
  stop_jackd
  echo stopped >"$workdir/state.new" && mv "$workdir/state.new" "$workdir/state"
}
request_start() {
  local state
  if [ -z "$keeper_pid" ]; then
    remove_leftovers
    start_jackd
  fi
  if wait_ready "$ready_timeout"; then
    state="running $jackd_pid"
  else
    state="failed"
  fi
  echo "$state" >"$workdir/state.new" && mv "$workdir/state.new" "$workdir/state"
}

# Exit status 0 once the server answers, 1 if it died, 2 on timeout.
wait_ready() {
  local deadline=$((SECONDS + $1))
  until jack_lsp >/dev/null 2>&1; do
    kill -0 "$jackd_pid" 2>/dev/null || return 1
    [ $SECONDS -lt "$deadline" ] || return 2
    sleep 0.05
  done
}

# A server that dies hard leaves its sockets and semaphores in /dev/shm under
# its own name; nobody else's files carry that name. Its shared memory
# segments are anonymous, and the next JACK server to start frees them.
remove_leftovers() {
  [ -n "$server_name" ] || return 0
  rm -f "$shm_dir"/jack_"${server_name}"_* "$shm_dir"/jack_sem.*_"${server_name}"_* 2>/dev/null
}

# Sets jackd_stopped when the server ended cleanly, on our request or a
# test's, leaving its table entry free.
stop_jackd() {
  [ -n "$keeper_pid" ] || return 0
  kill -TERM "$jackd_pid" 2>/dev/null
  local _
  for _ in $(seq 1 50); do
    kill -0 "$keeper_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$jackd_pid" 2>/dev/null
  wait "$keeper_pid" 2>/dev/null
  jackd_stopped=
  [ "$(cat "$workdir/jackd.status" 2>/dev/null)" = 0 ] && jackd_stopped=1
  keeper_pid=
  jackd_pid=
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  # A failed test may have met a late client or a dropped connection, which
  # only the server saw. The dummy driver's own late wake-ups are noise.
  if [ "$status" -ne 0 ] && [ -s "$workdir/jackd.log" ]; then
    echo "--- jackd.log, dummy driver's xruns left out" >&2
    grep -v "JackTimedDriver::Process XRun" "$workdir/jackd.log" | tail -n 20 >&2
  fi
  [ -n "$child_pid" ] && kill -TERM "$child_pid" 2>/dev/null
  stop_jackd
  if [ -n "$server_name" ] && [ -z "$jackd_stopped" ]; then
    # The server died some other way: one clean start and stop under its
    # name frees its entry and its shared memory.
    remove_leftovers
    start_jackd
    wait_ready 5
    stop_jackd
  fi
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  remove_leftovers
  rm -rf "$workdir"
}
trap cleanup EXIT

fail() {
  echo "${0##*/}: $*" >&2
  if [ -s "$workdir/jackd.log" ]; then
    echo "--- jackd.log" >&2
    tail -n 20 "$workdir/jackd.log" >&2
  fi
  exit 1
}

# Give up on a signal before the command runs; once it runs, signals are
# passed on to it instead (see below).
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

export JACK_NO_START_SERVER=1
# No D-Bus device reservation: the dummy driver needs no sound card, and a
# session bus of the surrounding desktop is none of this server's business.
export JACK_NO_AUDIO_RESERVATION=1

mkdir -p "$slot_dir" 2>/dev/null
deadline=$((SECONDS + ready_timeout))
while [ -z "$server_name" ]; do
  for slot in $(seq 0 $((slots - 1))); do
    exec {lock_fd}>"$slot_dir/$slot.lock" || fail "cannot open $slot_dir/$slot.lock"
    if flock -n "$lock_fd"; then
      server_name="tastavia-test-$slot"
      break
    fi
    exec {lock_fd}>&-
    lock_fd=
  done
  if [ -z "$server_name" ]; then
    [ $SECONDS -lt $deadline ] || fail "all $slots JACK test servers stayed busy for ${ready_timeout}s"
    sleep 0.2
  fi
done
export JACK_DEFAULT_SERVER="$server_name"

remove_leftovers
start_jackd

# The watchdog outlives this shell only if the shell is killed with SIGKILL
# (for example by a test timeout); then it stops the server in its place.
shell_pid=$$
(
  trap '' INT HUP
  trap 'exit 0' TERM
  while kill -0 "$shell_pid" 2>/dev/null; do sleep 1 {lock_fd}>&-; done
  pid=$(cat "$workdir/child.pid" 2>/dev/null)
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
  # The server may have been restarted since this watchdog began.
  server=$(cat "$workdir/jackd.pid" 2>/dev/null)
  [ -n "$server" ] || exit 0
  kill -TERM "$server" 2>/dev/null
  sleep 2
  kill -KILL "$server" 2>/dev/null
  remove_leftovers
  rm -rf "$workdir"
) </dev/null >/dev/null 2>&1 &
watchdog_pid=$!

wait_ready "$ready_timeout"
case $? in
  1) fail "jackd exited before it was ready" ;;
  2) fail "jackd not ready after ${ready_timeout}s" ;;
esac
export TASTAVIA_JACK_PID="$jackd_pid"
export TASTAVIA_JACK_CONTROL=$$
export TASTAVIA_JACK_STATE="$workdir/state"
echo "running $jackd_pid" >"$TASTAVIA_JACK_STATE"
trap request_stop USR1
trap request_start USR2

# Run the command in the background so that a signal reaches this shell at
# once and can be passed on; keep the command's standard input.
# shellcheck source=run-child.sh
. "$(dirname "$0")/run-child.sh"
child_close_fd=$lock_fd
run_child "$@"
