#!/bin/bash
# The cleanup functions run from traps, which shellcheck cannot follow.
# shellcheck disable=SC2317

# Runs a command against a private PulseAudio daemon whose only sink is a
# null sink named "out", then stops the daemon and exits with the command's
# status.
#
#   with-pulse.sh CMD [ARGS...]
#
# The daemon lives in a fresh runtime directory, so parallel runs and a
# desktop session's own server never meet. Clients find it through
# PULSE_SERVER and never autospawn another one. Works as root and nests with
# with-x11.sh in either order.
#
# A test that makes the daemon go away and come back asks this script as it
# would with-pipewire.sh: SIGUSR1 to TASTAVIA_SOUND_CONTROL stops it, SIGUSR2
# starts it again, and then the file TASTAVIA_SOUND_STATE says "stopped" or
# "running <pid>".

set -u

if [ $# -eq 0 ]; then
  echo "usage: ${0##*/} CMD [ARGS...]" >&2
  exit 2
fi

readonly ready_timeout=${TASTAVIA_PULSE_TIMEOUT:-30}

workdir=$(mktemp -d "${TMPDIR:-/tmp}/tastavia-pulse.XXXXXX") || exit 1
chmod 700 "$workdir"
pulse_pid=
watchdog_pid=
child_pid=

stop_pulse() {
  if [ -n "$pulse_pid" ] && kill -TERM "$pulse_pid" 2>/dev/null; then
    local _
    for _ in $(seq 1 50); do
      kill -0 "$pulse_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pulse_pid" 2>/dev/null
  fi
  pulse_pid=
}

cleanup() {
  trap - EXIT INT TERM HUP USR1 USR2
  [ -n "$child_pid" ] && kill -TERM "$child_pid" 2>/dev/null
  stop_pulse
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT

fail() {
  echo "${0##*/}: $*" >&2
  if [ -s "$workdir/pulse.log" ]; then
    echo "--- pulse.log" >&2
    tail -n 20 "$workdir/pulse.log" >&2
  fi
  exit 1
}

trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$workdir/runtime/pulse" "$workdir/state" "$workdir/home"
chmod 700 "$workdir/runtime" "$workdir/runtime/pulse"
socket="$workdir/runtime/pulse/native"

# The daemon and every client read these, so a command that plays sound
# needs nothing else from its surroundings.
export XDG_RUNTIME_DIR="$workdir/runtime"
export PULSE_RUNTIME_PATH="$workdir/runtime/pulse"
export PULSE_STATE_PATH="$workdir/state"
export PULSE_SERVER="unix:$socket"
# A client that cannot reach the server must fail, not start a server of its
# own somewhere else.
printf 'autospawn = no\n' >"$workdir/client.conf"
export PULSE_CLIENTCONFIG="$workdir/client.conf"
# Anonymous access spares the cookie file, which would otherwise live in the
# home directory of the user running the tests.
unset PULSE_COOKIE

# --system=false with -n: only the modules named here, no session bus, no
# hardware detection; root is allowed to run such a per-user daemon. Waits
# until it answers, and writes the state file.
start_pulse() {
  local state deadline=$((SECONDS + ready_timeout))
  HOME="$workdir/home" pulseaudio -n --daemonize=no --system=false \
    --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
    --high-priority=no --realtime=no --log-target=stderr \
    --load="module-null-sink sink_name=out" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$socket" \
    >>"$workdir/pulse.log" 2>&1 </dev/null &
  pulse_pid=$!
  # Its end is this script's business, not the shell's to report.
  disown "$pulse_pid"
  echo "$pulse_pid" >"$workdir/pulse.pid"
  state="running $pulse_pid"
  until pactl info >/dev/null 2>&1; do
    if ! kill -0 "$pulse_pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
      state=failed
      break
    fi
    sleep 0.05
  done
  set_sound_state "$state"
  [ "$state" != failed ]
}

# shellcheck source=sound-control.sh
. "$(dirname "$0")/sound-control.sh"

shell_pid=$$
(
  trap '' INT HUP
  trap 'exit 0' TERM
  while kill -0 "$shell_pid" 2>/dev/null; do sleep 1; done
  pid=$(cat "$workdir/child.pid" 2>/dev/null)
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
  # The daemon may have been restarted since this watchdog began.
  kill -TERM "$(cat "$workdir/pulse.pid")" 2>/dev/null
  sleep 1
  rm -rf "$workdir"
) </dev/null >/dev/null 2>&1 &
watchdog_pid=$!

start_pulse || fail "pulseaudio exited or was not ready after ${ready_timeout}s"
pactl set-default-sink out >/dev/null 2>&1 || fail "null sink \"out\" is missing"
export TASTAVIA_SOUND_SERVER=pulseaudio
serve_sound_requests stop_pulse start_pulse

# shellcheck source=run-child.sh
. "$(dirname "$0")/run-child.sh"
run_child "$@"
