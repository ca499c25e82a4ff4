#!/bin/bash
# bench.sh [ARGS...]: builds the engine benchmark in the optimized native tree
# ($RIVAK_NATIVE_RELEASE_DIR, Release -O2) and runs it with ARGS. Figures of
# the test trees (no build type, -O0) say nothing about the program's speed.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
rivak_install_deps || exit 1
rivak_configure_native_release >/dev/null || exit 1
rivak_build "$RIVAK_NATIVE_RELEASE_DIR" engine_bench >/dev/null || { rivak_log "the build failed"; exit 1; }
exec "$RIVAK_NATIVE_RELEASE_DIR/bench/engine_bench" "$@"
