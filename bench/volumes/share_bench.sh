#!/bin/bash
# share_bench.sh [FILES]: rivak on an SMB share far away, in the test machine
# of tests/volumes/vm_test.sh (as root). There an smbd serves a tmpfs folder
# of FILES files (default 1000) in 10 folders; the kernel's client mounts it
# at //127.0.0.1/share and every packet on lo waits 5 ms (netem), so a round
# trip takes 10 ms. Timed, each setting read-only and hidden on the whole
# tree from the same cleared tree: the floor program (--cifs: the word read,
# written and read back per entry) on 1 and on 16 threads, rivak -j 1 and
# rivak with its default jobs; the median of RIVAK_BENCH_RUNS rounds
# (default 3), the order turning each round. Builds the floor and, unless
# $RIVAK names one, rivak in the Release tree ($RIVAK_BENCH_DIR, default
# build/rel); the machine's kernel is kept in its vm/ folder.
# RIVAK_NO_JOBS=1 leaves -j out, for a rivak without it.
# Not a test: it prints figures.
set -uo pipefail

# ---- in the guest ------------------------------------------------------------
if [[ ${1:-} == --guest ]]; then
  at=$(dirname "$2") rivak=$2
  source "$at/vm_test.sh" --source || exit 1
  source "$at/share_bench.conf" || exit 1
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8
  floor=$at/posix_floor tree=/tmp/mnt/cifs/tree
  start_smbd || exit 1
  for ((i = 0; i < files; i++)); do
    mkdir -p "/tmp/share/tree/d$((i % 10))" && : >"/tmp/share/tree/d$((i % 10))/f$i.txt" || exit 1
  done
  mkdir -p /tmp/mnt/cifs && mount -t cifs //127.0.0.1/share /tmp/mnt/cifs -o guest || exit 1
  tc qdisc add dev lo root netem delay 5ms || { echo "no netem on lo: $(lsmod | grep -c netem) modules"; exit 1; }
  jobs=(-j 1)
  [[ $no_jobs == 1 ]] && jobs=()
  names=("floor, 1 thread" "floor, 16 threads" "rivak -j 1" "rivak (default jobs)")
  programs=("$floor --cifs set $tree 1" "$floor --cifs set $tree 16"
    "$rivak ${jobs[*]} --readonly=set --hidden=set $tree" "$rivak --readonly=set --hidden=set $tree")
  declare -a times
  for ((round = 0; round < runs; round++)); do
    for ((k = 0; k < ${#programs[@]}; k++)); do
      p=$((round % 2 ? ${#programs[@]} - 1 - k : k))
      "$floor" --cifs clear "$tree" 16 || exit 1
      start=$(date +%s%N)
      # shellcheck disable=SC2086
      ${programs[p]} >/dev/null 2>/tmp/bench.err || { echo "${names[p]}: exit $?"; cat /tmp/bench.err; }
      times[p]+=" $((($(date +%s%N) - start) / 1000000))"
    done
  done
  median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000}'; }
  for p in 0 1 2 3; do m[p]=$(median "${times[p]}"); done
  echo "share over cifs, 5 ms each way on lo: $files files in 10 folders, set, median of $runs rounds$(
    [[ $no_jobs == 1 ]] && echo ", -j left out")"
  row='%-22s %9s %7s  %s\n'
  printf "$row" "" seconds ratio "ratio to"
  printf "$row" "${names[0]}" "${m[0]}" 1.00 "${names[0]}"
  printf "$row" "${names[1]}" "${m[1]}" "$(awk "BEGIN{printf \"%.2f\", ${m[1]} / ${m[0]}}")" "${names[0]}"
  printf "$row" "${names[2]}" "${m[2]}" "$(awk "BEGIN{printf \"%.2f\", ${m[2]} / ${m[0]}}")" "${names[0]}"
  printf "$row" "${names[3]}" "${m[3]}" "$(awk "BEGIN{printf \"%.2f\", ${m[3]} / ${m[1]}}")" "${names[1]}"
  tc qdisc del dev lo root
  umount /tmp/mnt/cifs
  exit 0
fi

# ---- on the host -------------------------------------------------------------
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
dir=${RIVAK_BENCH_DIR:-$RIVAK_ROOT/build/rel}
targets=(posix_floor)
[[ -n ${RIVAK:-} ]] || targets+=(rivak_cli)
cmake -S "$RIVAK_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
rivak_build "$dir" "${targets[@]}" >/dev/null || { rivak_log "the build failed"; exit 1; }
mkdir -p "$dir/vm" || exit 1
conf=$dir/vm/share_bench.conf
printf 'files=%d runs=%d no_jobs=%d\n' "${1:-1000}" "${RIVAK_BENCH_RUNS:-3}" "$([[ -n ${RIVAK_NO_JOBS:-} ]] && echo 1 || echo 0)" >"$conf" ||
  exit 1
export RIVAK_VM_TIMEOUT=${RIVAK_VM_TIMEOUT:-3600}
exec "$RIVAK_ROOT/tests/volumes/vm_test.sh" "${RIVAK:-$dir/bin/rivak}" "$dir/vm" "${BASH_SOURCE[0]}" \
  "$RIVAK_ROOT/tests/volumes/vm_test.sh" "$dir/bench/posix/posix_floor" "$conf"
