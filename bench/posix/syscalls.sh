#!/bin/bash
# syscalls.sh [FILES]: the system calls rivak -j 1 makes per file (strace -f
# -c), setting read-only and hidden on a folder of FILES files (default 1000)
# and clearing them again, on each store this machine can mount: Linux's own
# file system (under $TMPDIR, default /tmp; Samba/Wine records), ntfs-3g,
# fusefat and exfat-fuse (images made here, as root); and the floor's on
# Linux's own file system. "fixed" is the run over an empty folder (start-up
# and exit), part of the total. Builds the floor program and, unless $RIVAK
# names one, rivak in the Release tree ($RIVAK_BENCH_DIR, default build/rel).
# RIVAK_NO_JOBS=1 leaves -j out, for a rivak without it.
# Not a test: it prints figures.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
files=${1:-1000}
dir=${RIVAK_BENCH_DIR:-$RIVAK_ROOT/build/rel}
targets=(posix_floor)
[[ -n ${RIVAK:-} ]] || targets+=(rivak_cli)
cmake -S "$RIVAK_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
rivak_build "$dir" "${targets[@]}" >/dev/null || { rivak_log "the build failed"; exit 1; }
rivak=${RIVAK:-$dir/bin/rivak} floor=$dir/bench/posix/posix_floor
jobs=(-j 1)
[[ -n ${RIVAK_NO_JOBS:-} ]] && jobs=()
command -v strace >/dev/null || { echo "strace is not installed"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/rivak-syscalls-XXXXXX") || exit 1
mnt=$work/mnt daemon="" driver="" loop=""
unmount() {
  [[ -n $daemon ]] || return 0
  umount "$mnt" || echo "cannot unmount $mnt"
  # An image's FUSE daemon goes on writing after the unmount.
  local i
  for ((i = 0; i < 100; i++)); do pgrep -f -- "$driver .*$daemon" >/dev/null || break; sleep 0.1; done
  [[ -n $loop ]] && losetup -d "$loop"
  daemon="" loop=""
}
trap 'unmount; rm -rf "$work"' EXIT

calls() {  # calls PROGRAM ARGS...: how many system calls the program made
  strace -f -c -o "$work/strace" "$@" >/dev/null 2>&1
  awk '$NF == "total" {print $4}' "$work/strace"
}

row='%-22s %-6s %8s %8s %9s\n'
printf "$row" store op fixed calls calls/file
# measure STORE FOLDER PROGRAM...: set and clear on FOLDER's "files", whose
# empty sibling "empty" gives the fixed part.
measure() {
  local store=$1 folder=$2 op args fixed n
  shift 2
  for op in set clear; do
    args=("$@")
    if [[ $1 == "$floor" ]]; then args+=("$op")
    elif [[ $op == set ]]; then args+=(--readonly=set --hidden=set); fi
    fixed=$(calls "${args[@]}" "$folder/empty")
    n=$(calls "${args[@]}" "$folder/files")
    printf "$row" "$store" "$op" "$fixed" "$n" "$(awk "BEGIN{printf \"%.1f\", $n / $files}")"
  done
}
fill() {  # fill FOLDER: the empty folder and the files
  mkdir -p "$1/empty" "$1/files" || return
  (cd "$1/files" && seq -f 'f%g.txt' "$files" | xargs touch)
}

mkdir -p "$work/own" "$mnt" && fill "$work/own" || exit 1
measure "linux (samba/wine)" "$work/own" "$rivak" "${jobs[@]}"
measure "linux, floor" "$work/own" "$floor"

if [[ $(id -u) != 0 ]]; then echo "the FUSE volumes are mounted as root: left out"; exit 0; fi
# store mkfs driver options block-device
for volume in "ntfs-3g mkfs.ntfs ntfs-3g - no" "fusefat mkfs.vfat fusefat -o,rw+ no" \
  "exfat-fuse mkfs.exfat mount.exfat-fuse - yes"; do
  read -r store mkfs driver options block <<<"$volume"
  if ! command -v "$mkfs" >/dev/null || ! command -v "$driver" >/dev/null; then
    echo "$store: $mkfs or $driver is not installed: left out"
    continue
  fi
  image=$work/$store.img
  rm -f "$image" && truncate -s 8M "$image"  # FAT12: fusefat damages the FAT of a FAT16 image
  flags=()
  [[ $mkfs == mkfs.ntfs ]] && flags=(-F -q -f)
  "$mkfs" "${flags[@]}" "$image" >/dev/null 2>&1 || { echo "$store: $mkfs failed"; continue; }
  daemon=$image
  if [[ $block == yes ]]; then loop=$(losetup --find --show "$image") && daemon=$loop || { echo "$store: losetup failed"; continue; }; fi
  [[ $options == - ]] && options=
  # fusefat takes minutes to make a thousand files: mtools makes them first.
  made=no
  [[ $driver == fusefat ]] && command -v mcopy >/dev/null &&
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$image" "$work/own/files" "$work/own/empty" :: && made=yes
  # shellcheck disable=SC2086
  "$driver" ${options//,/ } "$daemon" "$mnt" >/dev/null 2>&1 || { echo "$store: $driver failed"; daemon=""; continue; }
  { [[ $made == yes ]] || fill "$mnt"; } && measure "$store" "$mnt" "$rivak" "${jobs[@]}"
  unmount
done
