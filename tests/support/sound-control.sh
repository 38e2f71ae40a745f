# Sourced by with-pulse.sh and with-pipewire.sh: how a test stops and starts
# their sound server. SIGUSR1 to TASTAVIA_SOUND_CONTROL stops it, SIGUSR2
# starts it again; TASTAVIA_SOUND_STATE then says "stopped", "running PIDS"
# or "failed". The caller's $workdir holds the state.

# shellcheck shell=bash disable=SC2154
# Written whole, so that a test never reads half of it.
set_sound_state() {
  echo "$1" >"$workdir/state.new" && mv "$workdir/state.new" "$workdir/control.state"
}

# serve_sound_requests STOP START: the caller's functions that stop its
# servers and start them (START sets the state itself).
serve_sound_requests() {
  sound_stop=$1
  sound_start=$2
  export TASTAVIA_SOUND_CONTROL=$$
  export TASTAVIA_SOUND_STATE="$workdir/control.state"
  trap 'sound_request start' USR2
  trap 'sound_request stop' USR1
}

sound_request() {
  "$sound_stop"
  if [ "$1" = start ]; then
    "$sound_start"
  else
    set_sound_state stopped
  fi
}
