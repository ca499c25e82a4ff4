#!/bin/bash
# check_layers.sh DIR...: the portable layers (engine/, intake/) include no
# platform header. Allowed: the C++ standard library (<vector>, <cstdint>: no
# dot, no slash) and the program's own "engine/..." and "intake/..." headers.
# Anything else (<windows.h>, <unistd.h>, <sys/stat.h>, "platform/...",
# "ui/...") is named with its file and line, and the exit status is 1.
#
# check_layers.sh --self-test: runs the check over made-up files, so a check
# that lets a platform header through fails the test suite too.
set -uo pipefail

check() {
  local bad=0 file line text target
  while IFS= read -r -d '' file; do
    while IFS=: read -r line text; do
      target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*//' <<<"$text")
      case $target in
        \<*\>*)
          local name=${target#<}
          name=${name%%>*}
          [[ $name != *.* && $name != */* ]] && continue ;;
        \"engine/*\"* | \"intake/*\"*)
          continue ;;
      esac
      printf '%s:%s: %s\n' "$file" "$line" "$text"
      bad=1
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file")
  done < <(find "$@" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) -print0)
  return $bad
}

self_test() {
  local dir failed=0 include expected
  dir=$(mktemp -d) || return 1
  # include line | expected exit status of the check
  local -a cases=(
    '#include <vector>|0'
    '#include <cstdint>|0'
    '#include "engine/options.h"|0'
    '  #  include "intake/command_line.h"|0'
    '#include <windows.h>|1'
    '#include <unistd.h>|1'
    '#include <sys/stat.h>|1'
    '#include "platform/win32/unique_handle.h"|1'
    '#include "ui/layout.h"|1'
    '#include "options.h"|1'
  )
  for c in "${cases[@]}"; do
    include=${c%|*}
    expected=${c##*|}
    printf '%s\n' "$include" >"$dir/probe.h"
    check "$dir" >/dev/null
    if (($? != expected)); then
      echo "self-test: '$include' should give $expected"
      failed=1
    fi
  done
  rm -rf "$dir"
  return $failed
}

if [[ ${1:-} == --self-test ]]; then
  self_test
  exit
fi
(($#)) || { echo "usage: $0 DIR... | --self-test" >&2; exit 2; }
check "$@"
