#!/bin/bash
# The cleanup functions run from traps, which shellcheck cannot follow.
# shellcheck disable=SC2317

# Runs a command as root inside Debian's own kernel, booted under QEMU, where
# the kernel's ALSA sequencer is real: client 14 is "Midi Through" and
# clients 16-19 are the four ports of a virtual MIDI card (VirMIDI 0-0 to
# 0-3, raw devices hw:0,0 to hw:0,3). Exits with the command's status, or
# with 1 and a one-line reason when the guest did not boot, the command did
# not finish or the guest overstayed; the guest's console log follows.
#
#   with-alsa-guest.sh CMD [ARGS...]
#
# Build machines and CI have no sound hardware and no access to the host's
# kernel modules, so this is the only way to test against the sequencer
# itself rather than against a stand-in.
#
# The guest sees the host's root read-only, under a tmpfs that takes its
# writes and loses them at power-off; the command runs in the caller's
# working directory, with stdin from /dev/null and its stdout and stderr
# passed straight through. /run and /dev/shm are the guest's own, and so
# are HOME and XDG_RUNTIME_DIR; /tmp is the host's, writable like the rest,
# since a clone and its build tree may live there. The command sees PATH,
# the locale, TZ, TERM, the loader's variables, every TASTAVIA_* and QT_*,
# and the sanitizers' options; not DISPLAY: a test that needs X starts its
# own server in there (with-x11.sh works inside).
#
# The kernel comes from the linux-image-amd64 metapackage's current image,
# fetched once with apt-get download (never installed) and kept with the
# initramfs made from it in ${XDG_CACHE_HOME:-~/.cache}/tastavia/alsa-guest.
# Without network or package lists, a kernel prepared before serves.
# TASTAVIA_GUEST_TIMEOUT (seconds, 600 by default) bounds the guest's run.

set -u

if [ $# -eq 0 ]; then
  echo "usage: ${0##*/} CMD [ARGS...]" >&2
  exit 2
fi

readonly timeout=${TASTAVIA_GUEST_TIMEOUT:-600}
init_script=$(dirname "$0")/alsa-guest/init
readonly cache=${XDG_CACHE_HOME:-~/.cache}/tastavia/alsa-guest
# What the initramfs loads, dependencies first, and what the cache depends on.
readonly modules="virtio_pci 9p 9pnet_virtio overlay virtio_console
  snd-seq snd-seq-dummy snd-virmidi snd-hrtimer"

workdir=$(mktemp -d "${TMPDIR:-/tmp}/tastavia-guest.XXXXXX") || exit 1
qemu_pid=
watchdog_pid=

cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$qemu_pid" ]; then
    kill -KILL "$qemu_pid" 2>/dev/null
    # Reaped here, the guest's end is not reported as a killed job.
    wait "$qemu_pid" 2>/dev/null
  fi
  [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

fail() {
  echo "${0##*/}: $*" >&2
  if [ -s "$workdir/console.log" ]; then
    echo "--- guest console" >&2
    tail -n 30 "$workdir/console.log" >&2
  fi
  exit 1
}

# Makes $1 (a new directory) hold vmlinux and base.cpio from the kernel
# package $2 (a .deb file).
prepare_kernel() {
  local dest=$1 deb=$2 tmp kver m off
  tmp=$(mktemp -d "$cache/.build.XXXXXX") || return 1
  (
    set -e
    PATH=$PATH:/usr/sbin:/sbin
    dpkg-deb -x "$deb" "$tmp/tree"
    kver=$(ls "$tmp/tree/lib/modules")
    # The package leaves the module index to its postinst.
    depmod -b "$tmp/tree" "$kver"
    mkdir -p "$tmp/root/modules" "$tmp/root/bin" "$tmp/root/dev" \
      "$tmp/root/proc" "$tmp/root/sys"
    for name in $modules; do
      modprobe -d "$tmp/tree" -S "$kver" --show-depends "$name"
    done >"$tmp/deps"
    m=0
    awk '$1 == "insmod" && !seen[$2]++ { print $2 }' "$tmp/deps" |
    while read -r ko; do
      m=$((m + 1))
      # strip drops the appended signature, which the kernel would check on
      # every load for nothing: it does not enforce signatures here.
      strip --strip-debug -o "$tmp/root/modules/$(printf %02d $m)-${ko##*/}" "$ko"
    done
    cp /bin/busybox "$tmp/root/bin/busybox"
    (cd "$tmp/root" && find . | cpio -o -H newc --quiet) >"$tmp/base.cpio"
    # An uncompressed kernel boots through its PVH entry, sparing the
    # seconds that decompressing it takes under emulation.
    off=$(grep -abo -m1 $'\xfd7zXZ\x00' "$tmp"/tree/boot/vmlinuz-* | cut -d: -f1)
    tail -c +$((off + 1)) "$tmp"/tree/boot/vmlinuz-* |
      xz -dc --single-stream >"$tmp/vmlinux"
    rm -rf "$tmp/tree" "$tmp/root" "$tmp/deps"
  ) && mv -T "$tmp" "$dest" && return 0
  rm -rf "$tmp"
  return 1
}

# Sets $kernel_dir to a prepared kernel of the current package, fetching and
# preparing it if needed, or else to one prepared before.
find_kernel() {
  local pkg ver key deb err=
  mkdir -p "$cache" || fail "cannot create the cache $cache"
  exec {lock}>"$cache/lock"
  flock "$lock"
  # A change to what goes into the cache makes a new entry.
  key=$( (declare -f prepare_kernel; echo "$modules"; cat /bin/busybox) |
        sha256sum | cut -c1-12)
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
  ver=$(apt-cache policy "$pkg" 2>/dev/null | awk '$1 == "Candidate:" { print $2 }')
  kernel_dir=
  if [ -z "$pkg" ] || [ -z "$ver" ] || [ "$ver" = "(none)" ]; then
    err="apt knows no linux-image-amd64 (run apt-get update)"
  elif [ -d "$cache/${pkg}_${ver}-$key" ]; then
    kernel_dir=$cache/${pkg}_${ver}-$key
  else
    deb=$cache/${pkg}_${ver//:/%3a}_amd64.deb
    if [ ! -e "$deb" ] &&
       ! (cd "$cache" && apt-get download -q "$pkg=$ver") >"$workdir/apt.log" 2>&1; then
      err="cannot fetch $pkg $ver: $(grep -m1 '^E:' "$workdir/apt.log")"
    else
      [ -e "$deb" ] || fail "apt-get download left no $deb"
      # The initramfs has no libraries for a dynamically linked one.
      ! ldd /bin/busybox >/dev/null 2>&1 ||
        fail "/bin/busybox is not statically linked (install busybox-static)"
      kernel_dir=$cache/${pkg}_${ver}-$key
      prepare_kernel "$kernel_dir" "$deb" || fail "cannot prepare a kernel from $deb"
      # Older kernels, and builds that a killed run left, are of no more use.
      find "$cache" -mindepth 1 -maxdepth 1 ! -name lock ! -name "${deb##*/}" \
        ! -name "${kernel_dir##*/}" -exec rm -rf {} +
    fi
  fi
  if [ -z "$kernel_dir" ]; then
    # Without network or package lists, an older kernel tests as well.
    kernel_dir=$(ls -d "$cache"/linux-image-*-"$key" 2>/dev/null | tail -n 1)
    [ -n "$kernel_dir" ] || fail "$err; no kernel is cached in $cache either"
  fi
  exec {lock}>&-
}

find_kernel

# The job: the command, its working directory and environment, as a script
# that the guest's bash runs under env -i.
mkdir "$workdir/job"
{
  echo 'mkdir -p /run/home /run/runtime && chmod 700 /run/runtime'
  echo 'export HOME=/run/home XDG_RUNTIME_DIR=/run/runtime'
  compgen -e | grep -E '^(PATH|LANG|LANGUAGE|LC_[A-Z_]+|TZ|TERM|LD_LIBRARY_PATH|LD_PRELOAD|TASTAVIA_.*|QT_.*|[AUL]SAN_OPTIONS)$' |
    while read -r name; do declare -p "$name"; done
  printf 'cd -- %q 2>/dev/null || {\n' "$PWD"
  printf '  echo %q >&2\n  exit 126\n}\n' \
    "${0##*/}: the guest has no $PWD"
  printf 'exec'
  printf ' %q' "$@"
  echo
} >"$workdir/job/run"
cat "$kernel_dir/base.cpio" >"$workdir/initrd"
mkdir "$workdir/pack" && install -m 755 "$init_script" "$workdir/pack/init" &&
  (cd "$workdir/pack" && echo init | cpio -o -H newc --quiet) >>"$workdir/initrd" ||
  fail "cannot pack $init_script"

# QEMU takes its output channels as inherited descriptors and only when they
# are write-only; pipes are, whatever the caller's stdout and stderr are.
exec 3> >(exec cat)
out_pid=$!
exec 4> >(exec cat >&2 3>&-)
err_pid=$!

setpriv --pdeathsig KILL qemu-system-x86_64 \
  -M q35,sata=off,smbus=off \
  -accel tcg -cpu max -smp 2 -m 1024 \
  -nodefaults -no-user-config -display none -no-reboot \
  -kernel "$kernel_dir/vmlinux" -initrd "$workdir/initrd" \
  -append "console=ttyS0 panic=-1 quiet loglevel=4 rdinit=/init" \
  -serial "file:$workdir/console.log" \
  -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=root,mount_tag=root \
  -fsdev "local,id=job,path=${workdir//,/,,}/job,security_model=none" \
  -device virtio-9p-pci,fsdev=job,mount_tag=job \
  -device virtio-serial-pci \
  -add-fd fd=3,set=1 -add-fd fd=4,set=2 \
  -chardev file,id=out,path=/dev/fdset/1,append=on \
  -device virtserialport,chardev=out,name=stdout \
  -chardev file,id=err,path=/dev/fdset/2,append=on \
  -device virtserialport,chardev=err,name=stderr \
  </dev/null >"$workdir/qemu.log" 2>&1 &
qemu_pid=$!
exec 3>&- 4>&-

# Ends a guest that overstays, and cleans up after this script should it be
# killed outright (QEMU dies with it, through its parent-death signal).
shell_pid=$$
(
  trap 'exit 0' TERM
  end=$((SECONDS + timeout))
  while kill -0 "$shell_pid" 2>/dev/null; do
    if [ $SECONDS -ge $end ] && [ ! -e "$workdir/timed-out" ]; then
      touch "$workdir/timed-out"
      kill -KILL "$qemu_pid"
    fi
    sleep 1
  done
  rm -rf "$workdir"
) </dev/null >/dev/null 2>&1 &
watchdog_pid=$!

wait "$qemu_pid" 2>/dev/null
qemu_status=$?
qemu_pid=
# The output pipes' readers must have passed everything on before the
# caller sees the exit.
wait "$out_pid" "$err_pid"
[ -e "$workdir/timed-out" ] &&
  fail "the guest did not finish within ${timeout}s (TASTAVIA_GUEST_TIMEOUT)"

read -r state status 2>/dev/null <"$workdir/job/status"
if [ "${state:-}" = exit ]; then
  exit "$status"
elif [ "${state:-}" = started ]; then
  fail "the guest stopped while the command was running"
fi
[ -s "$workdir/qemu.log" ] && sed 's/^/qemu: /' "$workdir/qemu.log" >&2
fail "the guest did not boot (qemu exited with status $qemu_status)"
