#!/bin/bash
# Reads an ELF program with readelf and fails unless it is hardened: PIE,
# full RELRO (GNU_RELRO and BIND_NOW), the stack protector, and with
# --fortified the checked string and memory functions of _FORTIFY_SOURCE.
#   hardening_check.sh PROGRAM [--fortified]
#   hardening_check.sh --self-test     (a plain program must fail the check)
set -u

check() {
  local elf=$1 fortified=${2:-} bad=0 dynamic symbols
  dynamic=$(readelf -d "$elf" 2>/dev/null)
  symbols=$(readelf --dyn-syms -W "$elf" 2>/dev/null)
  readelf -h "$elf" | grep -q 'Type:.*DYN' || { echo "$elf: not position-independent (PIE)"; bad=1; }
  grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || { echo "$elf: no PIE flag"; bad=1; }
  readelf -l -W "$elf" | grep -q GNU_RELRO || { echo "$elf: no RELRO segment"; bad=1; }
  grep -Eq 'BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || { echo "$elf: no BIND_NOW (-z now)"; bad=1; }
  grep -q '__stack_chk_fail' <<<"$symbols" || { echo "$elf: no stack protector"; bad=1; }
  if [[ $fortified == --fortified ]]; then
    grep -Eq ' __[a-z0-9_]+_chk(@|$)' <<<"$symbols" || { echo "$elf: no _FORTIFY_SOURCE checked function"; bad=1; }
  fi
  return $bad
}

if [[ ${1:-} == --self-test ]]; then
  dir=$(mktemp -d) || exit 1
  trap 'rm -rf "$dir"' EXIT
  printf '#include <cstring>\nint main(int c, char** v) { char b[8]; std::strcpy(b, v[c - 1]); return b[0]; }\n' >"$dir/p.cpp"
  c++ -O2 -no-pie -fno-stack-protector -Wl,-z,norelro -Wl,-z,lazy -o "$dir/plain" "$dir/p.cpp" || exit 1
  if check "$dir/plain" --fortified >/dev/null; then echo "self-test: a plain program passed"; exit 1; fi
  c++ -O2 -fPIE -pie -fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wl,-z,relro,-z,now -o "$dir/hard" "$dir/p.cpp" || exit 1
  check "$dir/hard" --fortified || { echo "self-test: a hardened program failed"; exit 1; }
  echo "self-test passed"
  exit 0
fi
check "$@" && echo "$1: hardened"
