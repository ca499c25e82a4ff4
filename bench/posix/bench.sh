#!/bin/bash
# bench.sh [ENTRIES...] | bench.sh jobs [FILES [FOLDERS]]: builds the floor
# program and, unless $RIVAK names one, rivak for Linux in a Release tree
# ($RIVAK_BENCH_DIR, default $RIVAK_ROOT/build/rel) and prints the
# benchmark's figures (see posix_bench.cpp).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
dir=${RIVAK_BENCH_DIR:-$RIVAK_ROOT/build/rel}
targets=(posix_bench)
[[ -n ${RIVAK:-} ]] || targets+=(rivak_cli)
cmake -S "$RIVAK_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
rivak_build "$dir" "${targets[@]}" >/dev/null
"$dir/bench/posix/posix_bench" "$@"
