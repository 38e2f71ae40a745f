#!/bin/bash
# The cleanup functions run from traps, which shellcheck cannot follow.
# shellcheck disable=SC2317

# Runs a command against a private X server (Xvfb, 1280x800x24) with a window
# manager, then stops both and exits with the command's status.
#
#   [TASTAVIA_WM=openbox|icewm|none|mutter] [TASTAVIA_SCREEN=WxH] with-x11.sh CMD [ARGS...]
#
# The screen is 1280x800 unless TASTAVIA_SCREEN says otherwise: a screen
# scaled to 200 % is usually a large one, and a window drawn at twice its
# size must fit on it to be seen whole.
# openbox is the default; icewm is a second EWMH manager that must behave
# the same for the program, and "none" leaves the windows unmanaged.
#
# "mutter" is GNOME's desktop as Debian ships it: a headless mutter on a
# 1280x800 virtual monitor, the command an X client of its Xwayland, with
# a private session bus where mutter offers its remote-desktop interface.
# There XTEST input reaches the clients but does not move mutter's focus;
# mutter-input.py beside this script sends input through mutter instead.
# WAYLAND_DISPLAY is unset for the command, as the program is an X client
# here; TASTAVIA_WAYLAND_DISPLAY keeps the compositor's socket.
#
# Every run gets its own server: Xvfb picks a free display number itself
# (-displayfd), and so does mutter for its Xwayland, so parallel ctest jobs
# never race for the same display.
# Nothing is left behind when the command fails, is interrupted, or when this
# script itself is killed outright: a watchdog stops the servers once this
# shell has gone.

set -u

if [ $# -eq 0 ]; then
  echo "usage: ${0##*/} CMD [ARGS...]" >&2
  exit 2
fi

readonly ready_timeout=${TASTAVIA_X11_TIMEOUT:-30}
readonly wm=${TASTAVIA_WM:-openbox}
readonly screen=${TASTAVIA_SCREEN:-1280x800}
case $screen in
  [1-9]*x[1-9]*) ;;
  *) echo "${0##*/}: screen size '$screen' is not WIDTHxHEIGHT" >&2; exit 2 ;;
esac
case $wm in
  openbox | icewm | none | mutter) ;;
  *) echo "${0##*/}: unknown window manager '$wm'" >&2; exit 2 ;;
esac

workdir=$(mktemp -d "${TMPDIR:-/tmp}/tastavia-x11.XXXXXX") || exit 1
xvfb_pid=
wm_pid=
bus_pid=
watchdog_pid=
child_pid=

stop_pid() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  # Give a server a moment to remove its socket and lock file; a server that
  # hangs on the way out must not hang the test run.
  local _
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# The same for a session of its own (see below): mutter with its Xwayland,
# the bus with the services it started. Members that have exited count as
# gone, even while they wait for init to reap them.
# shellcheck disable=SC2009 # pgrep counts the exited ones too
session_alive() { ps -o stat= -s "$1" 2>/dev/null | grep -q '^[^Z]'; }
stop_session() {
  local sid=$1
  [ -n "$sid" ] || return 0
  kill -TERM -- "-$sid" 2>/dev/null || return 0
  local _
  for _ in $(seq 1 50); do
    session_alive "$sid" || break
    sleep 0.1
  done
  kill -KILL -- "-$sid" 2>/dev/null
  wait "$sid" 2>/dev/null
}

cleanup() {
  trap - EXIT INT TERM HUP
  [ -n "$child_pid" ] && kill -TERM "$child_pid" 2>/dev/null
  if [ "$wm" = mutter ]; then
    stop_session "$wm_pid"
    stop_session "$bus_pid"
  else
    stop_pid "$wm_pid"
    stop_pid "$xvfb_pid"
  fi
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT

fail() {
  echo "${0##*/}: $*" >&2
  for log in "$workdir"/xvfb.log "$workdir"/bus.log "$workdir"/wm.log; do
    if [ -s "$log" ]; then
      echo "--- ${log##*/}" >&2
      tail -n 20 "$log" >&2
    fi
  done
  exit 1
}

# Give up on a signal before the command runs; once it runs, signals are
# passed on to it instead (see below).
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

deadline=$((SECONDS + ready_timeout))

# The first line a server writes to a file once it is ready (an address, a
# display number), waited for while the server runs and time remains.
first_line() {
  local file=$1 pid=$2 what=$3 line=
  while [ -z "$line" ]; do
    kill -0 "$pid" 2>/dev/null || fail "$what exited before it was ready"
    [ $SECONDS -lt $deadline ] || fail "$what not ready after ${ready_timeout}s"
    line=$(head -n 1 "$file" 2>/dev/null)
    [ -n "$line" ] || sleep 0.05
  done
  echo "$line"
}

# Run the command in the background so that a signal reaches this shell at
# once and can be passed on; keep the command's standard input.
# shellcheck source=run-child.sh
. "$(dirname "$0")/run-child.sh"

# The WM is ready once it announces itself on the root window: the check
# window named there must exist and point back at itself.
wm_ready() {
  local check
  check=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null) || return 1
  check=${check##*# }
  case $check in 0x*) ;; *) return 1 ;; esac
  xprop -id "$check" -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "# $check\$"
}

if [ "$wm" = mutter ]; then
  # Xwayland, unlike Xvfb, refuses a socket directory that others cannot
  # write to; as root, give it the mode it has on every desktop.
  x11_dir=/tmp/.X11-unix
  x11_dir_ok() {
    local mode
    mode=$(stat -c %a "$x11_dir" 2>/dev/null) || return 1
    (((8#$mode & 8#1022) == 8#1022))
  }
  if ! x11_dir_ok && [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$x11_dir" && chmod 1777 "$x11_dir"
  fi
  x11_dir_ok || fail "Xwayland needs $x11_dir world-writable and sticky:" \
    "run 'chmod 1777 $x11_dir' as root"

  # The wayland socket and Xwayland's cookie live in mutter's runtime
  # directory, so each run has its own.
  mkdir -m 700 "$workdir/runtime"

  # Each server gets a session of its own: a terminal's Ctrl+C then reaches
  # only this shell, which passes it on to the command, and stopping the
  # group also stops what the server started (Xwayland, services the bus
  # activated).
  setsid dbus-daemon --session --nofork --nopidfile --address="unix:path=$workdir/bus" \
    --print-address=3 3>"$workdir/bus.address" >"$workdir/bus.log" 2>&1 </dev/null &
  bus_pid=$!
  bus=$(first_line "$workdir/bus.address" "$bus_pid" "the session bus") || exit 1

  # Settings from memory: dconf would be one more service to start and
  # stop. mutter's own files stay in our directory, as with the others.
  setsid env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS="$bus" \
    XDG_RUNTIME_DIR="$workdir/runtime" GSETTINGS_BACKEND=memory HOME="$workdir" \
    XDG_CONFIG_HOME="$workdir/config" XDG_CACHE_HOME="$workdir/cache" \
    mutter --headless --virtual-monitor "$screen" --wayland \
    >"$workdir/wm.log" 2>&1 </dev/null &
  wm_pid=$!

  # See the watchdog of the Xvfb run below.
  shell_pid=$$
  (
    trap '' INT HUP
    trap 'exit 0' TERM
    while kill -0 "$shell_pid" 2>/dev/null; do sleep 1; done
    pid=$(cat "$workdir/child.pid" 2>/dev/null)
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
    kill -TERM -- "-$wm_pid" "-$bus_pid" 2>/dev/null
    rm -rf "$workdir"
  ) </dev/null >/dev/null 2>&1 &
  watchdog_pid=$!

  # mutter takes the first free display number and names it in its log;
  # Xwayland admits only holders of the cookie mutter made for it.
  display=
  cookie=
  while [ -z "$display" ] || [ ! -f "$cookie" ]; do
    kill -0 "$wm_pid" 2>/dev/null || fail "mutter exited before it was ready"
    [ $SECONDS -lt $deadline ] || fail "mutter not ready after ${ready_timeout}s"
    display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$workdir/wm.log" 2>/dev/null)
    cookie=$(find "$workdir/runtime" -maxdepth 1 -name '.mutter-Xwaylandauth.*' -print -quit)
    if [ -z "$display" ] || [ ! -f "$cookie" ]; then sleep 0.05; fi
  done
  export DISPLAY=$display
  export XAUTHORITY=$cookie
  until wm_ready; do
    kill -0 "$wm_pid" 2>/dev/null || fail "mutter exited before it was ready"
    [ $SECONDS -lt $deadline ] || fail "mutter not ready after ${ready_timeout}s"
    sleep 0.05
  done

  # The program is an X client here, whatever WAYLAND_DISPLAY the
  # surrounding session has; the compositor's own socket stays at hand.
  wayland=$(sed -n "s/.*Using Wayland display name '\\([^']*\\)'.*/\\1/p" "$workdir/wm.log")
  export TASTAVIA_WAYLAND_DISPLAY="$workdir/runtime/${wayland:-wayland-0}"
  unset WAYLAND_DISPLAY
  # mutter's interfaces, remote desktop among them, are on this bus.
  export DBUS_SESSION_BUS_ADDRESS=$bus
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$workdir/runtime"
  fi
  run_child "$@"
fi

Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset \
  3>"$workdir/display" >"$workdir/xvfb.log" 2>&1 </dev/null &
xvfb_pid=$!

# Xvfb writes the display number only once it accepts connections.
display_number=$(first_line "$workdir/display" "$xvfb_pid" Xvfb) || exit 1
export DISPLAY=":$display_number"
# Qt would otherwise prefer a Wayland compositor of the surrounding session.
unset WAYLAND_DISPLAY
# An authority file of the surrounding session holds no cookie for this
# server; the server accepts local connections without one.
unset XAUTHORITY
# This display has no session bus. A bus of the surrounding session belongs
# to another desktop, and without any address libdbus tries to start one
# through the display (and leaks doing so, which fails sanitizer runs).
export DBUS_SESSION_BUS_ADDRESS=disabled:
# Qt wants a private runtime directory; keep one given by an enclosing
# wrapper such as with-pulse.sh.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  mkdir -m 700 "$workdir/runtime"
  export XDG_RUNTIME_DIR="$workdir/runtime"
fi

# The watchdog outlives this shell only if the shell is killed with SIGKILL
# (for example by a test timeout); then it stops the servers in its place.
# It holds no file descriptor of ours, so it never keeps a pipe open.
shell_pid=$$
(
  trap '' INT HUP
  trap 'exit 0' TERM
  while kill -0 "$shell_pid" 2>/dev/null; do sleep 1; done
  for name in child wm; do
    pid=$(cat "$workdir/$name.pid" 2>/dev/null)
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
  done
  kill -TERM "$xvfb_pid" 2>/dev/null
  rm -rf "$workdir"
) </dev/null >/dev/null 2>&1 &
watchdog_pid=$!

until xdpyinfo >/dev/null 2>&1; do
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb exited before it was ready"
  [ $SECONDS -lt $deadline ] || fail "display $DISPLAY does not answer"
  sleep 0.05
done

# The managers keep their own files under HOME and XDG_CACHE_HOME; point
# them at our directory so that parallel runs do not share them.
if [ "$wm" != none ]; then
  HOME="$workdir" XDG_CONFIG_HOME="$workdir/config" XDG_CACHE_HOME="$workdir/cache" \
    "$wm" >"$workdir/wm.log" 2>&1 </dev/null &
  wm_pid=$!
  echo "$wm_pid" >"$workdir/wm.pid"
fi

until [ "$wm" = none ] || wm_ready; do
  kill -0 "$wm_pid" 2>/dev/null || fail "$wm exited before it was ready"
  [ $SECONDS -lt $deadline ] || fail "$wm not ready after ${ready_timeout}s"
  sleep 0.05
done

run_child "$@"
