#!/bin/bash
# bench.sh [ENTRIES...]: builds rivak for Linux and the floor program in a
# Release tree ($RIVAK_ROOT/build/release) and prints the benchmark's figures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
dir=$RIVAK_ROOT/build/release
cmake -S "$RIVAK_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
rivak_build "$dir" posix_bench >/dev/null
"$dir/bench/posix/posix_bench" "$@"
