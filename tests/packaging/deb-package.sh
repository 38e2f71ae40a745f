#!/bin/bash
# Builds the Debian package from a build tree, unpacks it into a scratch
# folder and checks it as a desktop would see it: the files, the menu entry
# and metainfo as their validators read them, the control fields apt acts
# on, and the program started the way the menu starts it, then closed with
# its own close switch.
#
#   deb-package.sh BUILD_DIR CPACK
#
# Run under with-x11.sh and with-pulse.sh.

set -u

if [ $# -ne 2 ]; then
  echo "usage: ${0##*/} BUILD_DIR CPACK" >&2
  exit 2
fi
readonly build_dir=$1 cpack=$2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tastavia-deb.XXXXXX") || exit 1
program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then
    kill -KILL "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

problems=0
fail() {
  echo "FAIL: $*" >&2
  problems=$((problems + 1))
}
give_up() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || {
  cat "$scratch/cpack.log" >&2
  give_up "cpack could not build the package"
}
debs=("$scratch"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  give_up "expected one package, found: ${debs[*]}"
fi
deb=${debs[0]}
root=$scratch/root
dpkg-deb -x "$deb" "$root" || give_up "dpkg-deb cannot unpack $deb"

# --- the files
for path in usr/bin/tastavia usr/lib/tastavia/tastavia-ffmpeg-clips.so usr/share/tastavia/Ad/ad01.avi \
  usr/share/applications/tastavia.desktop usr/share/man/man1/tastavia.1.gz; do
  [ -s "$root/$path" ] || fail "$path is missing"
done
[ -x "$root/usr/bin/tastavia" ] || fail "usr/bin/tastavia is not executable"
for size in 16 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/tastavia.png
  if [ ! -s "$icon" ]; then
    fail "no ${size}px icon"
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  elif [ "$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')" != "$(printf '%08x%08x' "$size" "$size")" ]; then
    fail "the ${size}px icon is not ${size}x${size}"
  fi
done
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ ${#metainfo[@]} -ne 1 ] || [ ! -s "${metainfo[0]}" ]; then
  fail "expected one metainfo file"
fi
gzip -dc "$root/usr/share/man/man1/tastavia.1.gz" | grep -q '^\.TH TASTAVIA 1 ' || fail "the man page has no section 1 title"

# --- what desktops and software centres read
desktop=$root/usr/share/applications/tastavia.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the menu entry"
appstreamcli validate --no-net "${metainfo[@]}" || fail "appstreamcli rejects the metainfo"
grep -q '<launchable type="desktop-id">tastavia.desktop</launchable>' "${metainfo[@]}" ||
  fail "the metainfo does not launch tastavia.desktop"

# --- what apt acts on
# The package names in relation fields, one a line, without versions.
package_names() { sed 's/[,|]/\n/g' | sed 's/(.*)//; s/[[:space:]]//g' | grep -v '^$'; }
depends=$(dpkg-deb -f "$deb" Depends | package_names)
# Every library the program or its FFmpeg module links must come from a
# package it depends on. One dpkg query for all of them: each one reads the
# whole database.
sonames=()
files=()
for program in "$root/usr/bin/tastavia" "$root/usr/lib/tastavia/tastavia-ffmpeg-clips.so"; do
resolved=$(ldd "$program")
for soname in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
  case $soname in
    # The sanitizer runtimes of an asan build are no run-time dependency.
    libasan.so.* | libubsan.so.*) continue ;;
  esac
  # "soname => path (address)", or for the loader "path (address)".
  path=$(awk -v s="$soname" '$1 == s && $2 == "=>" { print $3 } $1 ~ "/" s "$" { print $1 }' <<<"$resolved" | head -n 1)
  sonames+=("$soname")
  files+=("$(readlink -f "${path:-/nonexistent/$soname}")")
done
done
linked=${#sonames[@]}
# The package database may list a library under /lib, from before /usr was
# merged, so each file is asked for under both names.
owners=$(dpkg -S "${files[@]}" "${files[@]#/usr}" 2>/dev/null)
for i in "${!sonames[@]}"; do
  owner=$(awk -F': ' -v f="${files[i]}" -v g="${files[i]#/usr}" \
    '$NF == f || $NF == g { sub(/[:,].*/, "", $1); print $1; exit }' <<<"$owners")
  if [ -z "$owner" ]; then
    fail "no package owns ${files[i]}, which the program links as ${sonames[i]}"
  elif ! grep -qx -- "$owner" <<<"$depends"; then
    fail "the program links ${sonames[i]} from $owner, which Depends lacks"
  fi
done
[ "$linked" -gt 10 ] || fail "the program links only $linked libraries"
# What it loads without linking: the X11 platform plugin, the SoundFont and
# a CJK font.
for needed in qt6-qpa-plugins timgm6mb-soundfont fonts-wqy-microhei; do
  grep -qx -- "$needed" <<<"$depends" || fail "Depends lacks $needed"
done
# Naming a sound server, or conflicting with anything, would make apt
# remove what the machine already plays through.
relations=$(dpkg-deb -f "$deb" Pre-Depends Depends Recommends Conflicts Breaks Replaces Provides |
  sed 's/^[A-Za-z-]*: //' | package_names)
for server in pulseaudio pipewire pipewire-pulse pipewire-audio wireplumber jackd jackd1 jackd2; do
  grep -qx -- "$server" <<<"$relations" && fail "the package names the sound server $server"
done
for field in Conflicts Breaks Replaces; do
  [ -z "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package declares $field"
done

# --- started as the menu starts it: Exec run in Path, both inside the
# unpacked tree. A bare Exec is found on the PATH, which holds /usr/bin.
entry_value() { sed -n '/^\[Desktop Entry\]/,/^\[/{s/^'"$1"'=//p}' "$desktop" | head -n 1; }
exec_line=$(entry_value Exec)
workdir=$(entry_value Path)
if [ -z "$exec_line" ] || [ -z "$workdir" ]; then
  give_up "the menu entry lacks Exec or Path"
fi
read -r -a command <<<"$exec_line"
case ${command[0]} in
  /*) command[0]=$root${command[0]} ;;
  *) command[0]=$root/usr/bin/${command[0]} ;;
esac
[ -d "$root$workdir" ] || give_up "Path $workdir is not in the package"
[ -x "${command[0]}" ] || give_up "Exec ${command[0]#"$root"} is not in the package"
[ $problems -eq 0 ] || give_up "$problems problem(s) with the package; not starting it"

(cd "$root$workdir" && exec "${command[@]}") </dev/null &
program_pid=$!

# The splash and the message boxes may carry the same title; the keyboard
# window is the one of its size.
keyboard_window() {
  local id
  for id in $(xdotool search --onlyvisible --name '^Tastavia$' 2>/dev/null); do
    if xwininfo -id "$id" 2>/dev/null | grep -q '^ *Width: 714$' &&
      xwininfo -id "$id" 2>/dev/null | grep -q '^ *Height: 192$'; then
      echo "$id"
      return
    fi
  done
}
window=
for _ in $(seq 1 300); do
  kill -0 "$program_pid" 2>/dev/null || break
  window=$(keyboard_window)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  if ! kill -0 "$program_pid" 2>/dev/null; then
    wait "$program_pid"
    give_up "the program ended with status $? before its keyboard window appeared"
  fi
  give_up "the keyboard window never appeared"
fi
sleep 0.5 # let the window manager place it

# The close switch lies at (23..41, 12..30) of the keyboard window.
xdotool mousemove --window "$window" 32 21 || give_up "cannot reach the keyboard window"
sleep 0.2
xdotool click 1

for _ in $(seq 1 150); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && give_up "the program still runs after its close switch was clicked"
wait "$program_pid"
status=$?
program_pid=
[ $status -eq 0 ] || give_up "the program ended with status $status"
echo "package $(basename "$deb") checked"
