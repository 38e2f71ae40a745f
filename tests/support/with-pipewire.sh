#!/bin/bash
# The cleanup functions run from traps, which shellcheck cannot follow.
# shellcheck disable=SC2317

# Runs a command against a private PipeWire as a Debian desktop runs it:
# pipewire, wireplumber and pipewire-pulse, whose only sink is a null sink
# named "out" (48 kHz stereo, 128-frame quantum like with-jack.sh's dummy
# driver). Then stops them and exits with the command's status.
#
#   with-pipewire.sh [--jack] CMD [ARGS...]
#
# The servers get runtime, configuration and state directories and a
# session bus of their own, so neither a desktop's servers nor a parallel
# run's ever meet them. PulseAudio clients find them through PULSE_SERVER
# as under with-pulse.sh. With --jack the command runs under pw-jack, so
# its JACK clients talk to this PipeWire, and gets with-jack.sh's
# TASTAVIA_JACK_* variables, pipewire being the JACK server.
#
# A test that makes the servers go away and come back asks this script,
# whose process id is TASTAVIA_SOUND_CONTROL (TASTAVIA_JACK_CONTROL too with
# --jack): SIGUSR1 stops all three, SIGUSR2 starts them again, with the sink
# and the settings a restarted desktop session finds. When either is done,
# the file TASTAVIA_SOUND_STATE (TASTAVIA_JACK_STATE) says "stopped" or
# "running" with the process ids of pipewire, wireplumber and
# pipewire-pulse. A watchdog stops everything if this script is killed.

set -u

jack=
if [ "${1:-}" = --jack ]; then
  jack=1
  shift
fi
if [ $# -eq 0 ]; then
  echo "usage: ${0##*/} [--jack] CMD [ARGS...]" >&2
  exit 2
fi

readonly ready_timeout=${TASTAVIA_PIPEWIRE_TIMEOUT:-30}
readonly servers=(pipewire wireplumber pipewire-pulse)

workdir=$(mktemp -d "${TMPDIR:-/tmp}/tastavia-pipewire.XXXXXX") || exit 1
chmod 700 "$workdir"
runtime="$workdir/runtime"
bus_pid=
watchdog_pid=
child_pid=

# The process ids of the running servers are in servers.pid, for the
# watchdog too.
stop_servers() {
  local pids _
  pids=$(cat "$workdir/servers.pid" 2>/dev/null) || return 0
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null
  for _ in $(seq 1 50); do
    # shellcheck disable=SC2086
    kill -0 $pids 2>/dev/null || break
    sleep 0.1
  done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null
  rm -f "$workdir/servers.pid"
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP USR1 USR2
  if [ "$status" -ne 0 ]; then
    local server
    for server in "${servers[@]}"; do
      [ -s "$workdir/$server.log" ] || continue
      echo "--- $server.log, without the warnings about realtime" >&2
      grep -v "mod.rt\|acquire_rt" "$workdir/$server.log" | tail -n 10 >&2
    done
  fi
  [ -n "$child_pid" ] && kill -TERM "$child_pid" 2>/dev/null
  stop_servers
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT

fail() {
  echo "${0##*/}: $*" >&2
  exit 1
}

trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$runtime/pulse" "$workdir/config/pipewire/pipewire.conf.d" "$workdir/config/pipewire/jack.conf.d" \
  "$workdir/xdg-state" "$workdir/home"
chmod 700 "$runtime" "$runtime/pulse"
# In the configuration, not made by a client, so that the sink comes back
# with the servers as a sound card's does. PipeWire runs its graph only with
# a driver, which the null sink is here.
cat >"$workdir/config/pipewire/pipewire.conf.d/tastavia.conf" <<'EOF'
context.properties = {
    default.clock.rate = 48000
    default.clock.allowed-rates = [ 48000 ]
    default.clock.quantum = 128
    default.clock.min-quantum = 128
    default.clock.max-quantum = 128
    vm.overrides = { default.clock.min-quantum = 128 }
}
context.objects = [
    { factory = adapter
        args = {
            factory.name = support.null-audio-sink
            node.name = out
            media.class = Audio/Sink
            audio.rate = 48000
            audio.channels = 2
            audio.position = [ FL FR ]
            node.driver = true
        }
    }
]
EOF

# PipeWire's libjack hands every client a note on of velocity 0 as a note
# off; a desktop may keep that, but here the clients must see the bytes as
# they were sent, as under jackd.
cat >"$workdir/config/pipewire/jack.conf.d/tastavia.conf" <<'EOF'
jack.properties = { jack.fix-midi-events = false }
EOF

export XDG_RUNTIME_DIR="$runtime"
export PIPEWIRE_RUNTIME_DIR="$runtime"
export XDG_CONFIG_HOME="$workdir/config"
export XDG_STATE_HOME="$workdir/xdg-state"
export PULSE_RUNTIME_PATH="$runtime/pulse"
export PULSE_SERVER="unix:$runtime/pulse/native"
printf 'autospawn = no\n' >"$workdir/client.conf"
export PULSE_CLIENTCONFIG="$workdir/client.conf"
unset PULSE_COOKIE PIPEWIRE_REMOTE
export TASTAVIA_SOUND_SERVER=pipewire

# wireplumber will not run without a session bus.
dbus-daemon --session --nofork --nopidfile --address="unix:path=$workdir/bus" \
  >"$workdir/bus.log" 2>&1 </dev/null &
bus_pid=$!

# While start_servers waits: false once one of its servers has died or the
# time is up.
still_waiting() {
  local pid
  for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null || return 1; done
  [ $SECONDS -lt "$deadline" ] && sleep 0.05
}

# Realtime scheduling is a desktop's business: no RTKit (no system bus), no
# realtime limit, and root does without CAP_SYS_NICE. Writes the state file.
start_servers() {
  local server pids=() deadline=$((SECONDS + ready_timeout))
  rm -f "$runtime"/pipewire-0* "$runtime"/pulse/*
  for server in "${servers[@]}"; do
    (
      export HOME="$workdir/home" DBUS_SESSION_BUS_ADDRESS="unix:path=$workdir/bus"
      export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
      unset DISPLAY WAYLAND_DISPLAY JACK_DEFAULT_SERVER
      ulimit -r 0
      [ "$(id -u)" -ne 0 ] || exec setpriv --bounding-set=-sys_nice "$server"
      exec "$server"
    ) >>"$workdir/$server.log" 2>&1 </dev/null &
    pids+=($!)
    # Their ends are this script's business, not the shell's to report.
    disown $!
    echo "${pids[*]}" >"$workdir/servers.pid"
    # The others give up at once when pipewire does not answer yet.
    until [ "$server" != pipewire ] || [ -S "$runtime/pipewire-0" ]; do
      still_waiting || break
    done
  done
  # The default sink is wireplumber's to name: once it has, all three serve.
  local state="running ${pids[*]}"
  until pactl info 2>/dev/null | grep -qx "Default Sink: out"; do
    still_waiting || { state=failed; break; }
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
  stop_servers
  kill "$bus_pid" 2>/dev/null
  rm -rf "$workdir"
) </dev/null >/dev/null 2>&1 &
watchdog_pid=$!

until [ -S "$workdir/bus" ]; do
  kill -0 "$bus_pid" 2>/dev/null || fail "dbus-daemon exited: $(cat "$workdir/bus.log")"
  sleep 0.05
done
start_servers || fail "PipeWire exited or was not ready after ${ready_timeout}s"
pactl set-default-sink out >/dev/null 2>&1 || fail "null sink \"out\" is missing"

serve_sound_requests stop_servers start_servers
command=("$@")
if [ -n "$jack" ]; then
  export JACK_NO_START_SERVER=1
  unset JACK_DEFAULT_SERVER
  read -r _ TASTAVIA_JACK_PID _ <"$workdir/control.state"
  export TASTAVIA_JACK_PID
  export TASTAVIA_JACK_CONTROL=$$
  export TASTAVIA_JACK_STATE="$TASTAVIA_SOUND_STATE"
  command=(pw-jack "$@")
fi

# shellcheck source=run-child.sh
. "$(dirname "$0")/run-child.sh"
run_child "${command[@]}"
