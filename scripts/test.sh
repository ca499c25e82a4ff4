#!/bin/bash
# test.sh: builds rivak natively and for Windows and runs every test: the
# native ctest, then the Windows ctest under Wine (private prefix, private
# Xvfb). Installs missing packages first. A skipped test shows as skipped;
# one that tests/expected_skips.txt does not list fails the run. Exit status 0
# only if all passed. Extra arguments go to both ctest runs (e.g. -R options).
# RIVAK_CHECK_PACKAGE=1 (CI) also builds the release package and checks it
# (scripts/package-check.sh).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

declare -a summary=()
failed=0
step() {  # step NAME COMMAND...: run, time and record one step
  local name=$1 t0=$SECONDS rc
  shift
  rivak_log "$name"
  "$@"
  rc=$?
  if ((rc == 0)); then
    summary+=("ok     $(printf '%4d' $((SECONDS - t0))) s  $name")
  else
    summary+=("FAILED $(printf '%4d' $((SECONDS - t0))) s  $name (exit $rc)")
    failed=1
  fi
  return $rc
}
finish() {
  rivak_cleanup
  printf '\n==== rivak test summary ====\n'
  printf '  %s\n' "${summary[@]}"
  if ((failed)); then echo "RESULT: FAILED"; else echo "RESULT: all passed"; fi
}
trap finish EXIT
trap 'exit 130' INT TERM

cd "$RIVAK_ROOT" || exit 1
# Each ctest run leaves a JUnit report, with every test's output, for the skip check.
native_report=$RIVAK_NATIVE_DIR/ctest-report.xml win_report=$RIVAK_WIN_DIR/ctest-report.xml
rm -f "$native_report" "$win_report"
# Skip lines come last in a test's output: keep all of it.
ctest_opts=(--output-on-failure --test-output-size-passed 1048576 --test-output-size-failed 1048576)
step "packages" rivak_install_deps || exit 1

# A failed build still fails the run, but the tests that did build are run,
# and the Windows half runs even when the native half failed: one run shows all.
export RIVAK_KEEP_GOING=1
if step "native configure" rivak_configure_native; then
  step "native build" rivak_build "$RIVAK_NATIVE_DIR"
  step "native tests" ctest --test-dir "$RIVAK_NATIVE_DIR" "${ctest_opts[@]}" --output-junit "$native_report" \
    -j"$RIVAK_JOBS" "$@"
fi
# The parsers of untrusted bytes under libFuzzer, a short run each.
step "fuzz" "$RIVAK_ROOT/scripts/fuzz.sh" "${RIVAK_FUZZ_SECONDS:-30}"

step "windows configure" rivak_configure_win || exit 1
step "windows build" rivak_build "$RIVAK_WIN_DIR"
step "wine prefix" rivak_wine_prefix || exit 1
step "xvfb" rivak_xvfb_start || exit 1
step "wineserver" rivak_wineserver_start || exit 1
# Serial: the window tests share one display and one wineserver.
step "windows tests" ctest --test-dir "$RIVAK_WIN_DIR" "${ctest_opts[@]}" --output-junit "$win_report" "$@"
# rivak for Linux judged by Wine: what Wine reads of its values, and the same
# tree through rivak and rivak.exe (needs this prefix, Xvfb and rivak.exe).
step "rivak judged by Wine" tests/posix/wine_oracle.sh all "$RIVAK_NATIVE_DIR/bin/rivak" "$RIVAK_WIN_DIR/bin/rivak.exe"
reports=()
for r in "$native_report" "$win_report"; do [[ -f $r ]] && reports+=("$r"); done
((${#reports[@]})) && step "expected skips" python3 "$RIVAK_ROOT/scripts/check_skips.py" \
  "$RIVAK_ROOT/tests/expected_skips.txt" "${reports[@]}"
if [[ ${RIVAK_CHECK_PACKAGE:-0} == 1 ]]; then
  step "package check" "$RIVAK_ROOT/scripts/package-check.sh"
fi

exit $failed
