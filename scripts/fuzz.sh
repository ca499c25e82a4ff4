#!/bin/bash
# fuzz.sh [SECONDS]: builds the libFuzzer targets of tests/fuzz with clang-14,
# AddressSanitizer and UBSan (build tree $RIVAK_FUZZ_DIR, default build/fuzz)
# and runs each for SECONDS (default 30) from its seeds, keeping the corpus it
# grows in $RIVAK_FUZZ_DIR/corpus/NAME between runs. A crash leaves its input
# in $RIVAK_FUZZ_DIR/artifacts and fails the run. Prints each fuzzer's runs,
# coverage and corpus size.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

seconds=${1:-30}
dir=${RIVAK_FUZZ_DIR:-$RIVAK_ROOT/build/fuzz}

mkdir -p "$dir"
if ! { cmake -S "$RIVAK_ROOT" -B "$dir" -DCMAKE_CXX_COMPILER=clang++-14 -DRIVAK_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo && rivak_build "$dir"; } >"$dir/build.log" 2>&1; then
  tail -40 "$dir/build.log" >&2
  exit 1
fi

# Seeds: the test fixtures of each format, and what a seed writer makes.
declare -A fixtures=([shell_link_fuzz]=lnk [dosattrib_fuzz]=dosattrib)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14 || true)}
mkdir -p "$dir/artifacts"
failed=0 report=()
for fuzzer in "$dir"/tests/fuzz/*_fuzz; do
  [[ -x $fuzzer ]] || continue
  name=$(basename "$fuzzer")
  corpus=$dir/corpus/$name seeds=$dir/seeds/$name
  rm -rf "$seeds"
  mkdir -p "$corpus" "$seeds"
  fixture=$RIVAK_ROOT/tests/fixtures/${fixtures[$name]:-none}
  [[ -d $fixture ]] && cp "$fixture"/* "$seeds"/
  writer=$dir/tests/fuzz/${name%_fuzz}_seeds
  [[ -x $writer ]] && { "$writer" "$seeds" || exit 1; }
  rivak_log "$name: $seconds s"
  log=$dir/$name.log
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/artifacts/$name-" "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
  files=$(find "$corpus" -type f | wc -l)
  if ((rc != 0)); then
    failed=1
    report+=("$name: FAILED (exit $rc), see $log and $dir/artifacts")
    tail -40 "$log" >&2
  else
    report+=("$name: ${runs:-?} runs in $seconds s, cov ${cov:-?}, ft ${ft:-?}, corpus $files files, no crash")
  fi
done
((${#report[@]})) || { echo "no fuzzer built" >&2; exit 1; }
printf '%s\n' "${report[@]}"
exit $failed
