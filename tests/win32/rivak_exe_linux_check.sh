#!/bin/bash
# rivak_exe_linux_check.sh RIVAK_EXE WINE_RUN: the words rivak.exe leaves, as
# the Linux side sees them. Wine keeps read-only as missing write bits and
# hidden/system/archive in the xattr user.DOSATTRIB; the tree is made here
# with chmod/setfattr, so nothing Windows-side is trusted to build it.
# Exit 77 (skipped) without a display: rivak.exe opens its progress window.
set -u
exe=$1 run=$2
if [[ -z ${DISPLAY:-} ]]; then echo "SKIP: no DISPLAY (rivak.exe opens its progress window; needs Xvfb)"; exit 77; fi
command -v setfattr >/dev/null || { echo "SKIP: setfattr not installed (package attr)"; exit 77; }

root=$(mktemp -d "${TMPDIR:-/tmp}/rivak-linux-check.XXXXXX") || exit 1
trap 'chmod -R u+w "$root"; rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

dosattr() {  # the xattr value as a number, 0 when there is none
  local v
  v=$(getfattr --absolute-names --only-values -n user.DOSATTRIB "$1" 2>/dev/null | tr -d '\0')
  [[ -n $v ]] && echo $((v)) || echo 0
}
make() {  # make KIND PATH DOSATTRIB READONLY
  local kind=$1 path=$2 attrib=$3 ro=$4
  if [[ $kind == d ]]; then mkdir -p -- "$path"; else : >"$path"; fi
  # Wine reads the value as text ("0x2"); a bare 0x... would be taken as hex bytes.
  ((attrib)) && setfattr -n user.DOSATTRIB -v "$(printf '"0x%x"' "$attrib")" -- "$path"
  return 0
}
# One row per entry: kind, name, DOSATTRIB at start, read-only, expected
# write bit after (w / -; Wine shows a folder without write bits as read-only), expected DOSATTRIB bits after (mask value).
rows=(
  "d|top|2|rw|w|2:0"
  "f|top/ro.txt|0|ro|w|2:0"
  "f|top/hidden.txt|2|rw|w|2:0"
  "f|top/both.txt|2|ro|w|2:0"
  # Wine reports archive for every file and never stores it: only hidden is checked.
  "f|top/hidden archive.txt|34|ro|w|2:0"
  "f|top/system.txt|6|ro|-|6:6"
  "d|top/sub|2|rw|w|2:0"
  "f|top/sub/日本語の名前 😀.txt|2|ro|w|2:0"
  "f|top/sub/  blanks  .txt|2|ro|w|2:0"
  # A read-only folder holding desktop.ini is customised: it stays read-only.
  "d|top/ドキュメント|2|ro|-|2:0"
  "f|top/ドキュメント/desktop.ini|6|rw|w|6:6"
  "d|top/read-only folder|0|ro|w|2:0"
  "f|outside.txt|2|ro|-|2:2"
)
for row in "${rows[@]}"; do
  IFS='|' read -r kind name attrib ro _ _ <<<"$row"
  make "$kind" "$root/$name" "$attrib" "$ro"
done
# Read-only last: a folder without write bits takes no new entries.
for row in "${rows[@]}"; do
  IFS='|' read -r _ name _ ro _ _ <<<"$row"
  [[ $ro == ro ]] && chmod a-w -- "$root/$name"
done

winpath="Z:${root//\//\\}\\top"
"$run" "$exe" "\"$winpath\""
rc=$?
((rc == 0)) || fail "rivak.exe exited with $rc"

for row in "${rows[@]}"; do
  IFS='|' read -r kind name _ _ wbit masks <<<"$row"
  path=$root/$name
  mask=${masks%%:*} want=${masks##*:}
  got=$(($(dosattr "$path") & mask))
  ((got == want)) || fail "$name: DOSATTRIB bits $got, expected $want (mask $mask)"
  perms=$(stat -c %A -- "$path")
  has_w=-
  [[ ${perms:2:1} == w ]] && has_w=w
  [[ $has_w == "$wbit" ]] || fail "$name: owner write bit '$has_w', expected '$wbit' ($perms)"

done
((failures == 0)) && echo "all ${#rows[@]} entries as expected"
exit $((failures ? 1 : 0))
