#!/bin/bash
# wine_oracle.sh reads|prefix|agree|all RIVAK [RIVAK_EXE]: Wine as the judge of
# rivak for Linux. scripts/test.sh runs it after the Windows tests, where the
# Wine prefix, the Xvfb and rivak.exe are there.
#  reads: Wine's attrib reads what rivak wrote: read-only from the write
#     bits, hidden from user.DOSATTRIB, on files and folders, set and cleared.
#  prefix: in the prefix's drive C:, what rivak lists is what Wine's attrib
#     shows (read-only from the write bits alone, files and folders), before
#     and after rivak sets and clears it (under umask 000 too).
#  agree: the same tree processed by rivak and by rivak.exe under Wine (needs
#     a DISPLAY: rivak.exe opens its progress window), both with the default
#     options, ends the same: the attributes Wine shows, the modes, and the
#     hidden and system bits of user.DOSATTRIB (Wine keeps only those two and
#     drops the rest, archive included, where rivak keeps every other bit as
#     Samba wants). RIVAK_EXE defaults to $RIVAK_WIN_DIR/bin/rivak.exe.
# Exit 77 (skipped) where it cannot run, with the reason.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
part=$1 rivak=$2 exe=${3:-${RIVAK_WIN_DIR:-$root/build/win}/bin/rivak.exe}
command -v wine >/dev/null || { echo "SKIP: wine is not installed"; exit 77; }
prefix=${RIVAK_WINEPREFIX:-$root/build/win/wineprefix}
if [[ ! -f $prefix/.rivak-ready ]]; then
  echo "SKIP: no Wine prefix at $prefix yet (scripts/test.sh makes it for the Windows tests)"
  exit 77
fi
export RIVAK_WINEPREFIX=$prefix
run=$root/scripts/wine-run
umask 022

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rivak-wine-oracle.XXXXXX") || exit 1
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# seen PATH...: "PATH LETTERS" per path, as Wine's attrib shows it (R, H, S
# in that order, "-" for none). One batch file for all of them: Wine starts
# slowly, and quotes on cmd's own command line reach attrib as part of the name.
seen() {
  local p line bat
  bat=$(mktemp "$tmp/seen.XXXXXX.bat")
  { printf '@echo off\r\n'; for p in "$@"; do printf 'attrib "%s"\r\n' "$(winpath "$p")"; done; } >"$bat"
  # Under load, Wine's cmd now and then prints nothing of a batch: one more
  # try before a path counts as unread.
  local shown
  shown=$("$run" cmd /c "$(winpath "$bat")" 2>/dev/null | tr -d '\r')
  (($(grep -c 'Z:' <<<"$shown") < $#)) && shown=$("$run" cmd /c "$(winpath "$bat")" 2>/dev/null | tr -d '\r')
  while IFS= read -r line; do
    [[ $line == *Z:\\* ]] || continue
    local flags=${line%%Z:\\*} path=Z:\\${line#*Z:\\} out=""
    [[ $flags == *R* ]] && out+=R
    [[ $flags == *H* ]] && out+=H
    [[ $flags == *S* ]] && out+=S
    echo "$path ${out:--}"
  done <<<"$shown"
}
expect() {  # expect PATH LETTERS OUTPUT
  local got
  got=$(grep -F "$(winpath "$1") " <<<"$3" | awk '{print $NF}')
  [[ $got == "$2" ]] || fail "$1: Wine shows '${got:-nothing}', expected '$2'"
}

# --- Wine reads what rivak wrote ----------------------------------------------
if [[ $part == reads || $part == all ]]; then
a=$tmp/a
mkdir -p "$a/folder"
echo x >"$a/file.txt"
echo x >"$a/folder/inner.txt"
"$rivak" --readonly=set --hidden=set "$a/file.txt" "$a/folder" || fail "rivak --readonly=set --hidden=set"
out=$(seen "$a/file.txt" "$a/folder" "$a/folder/inner.txt")
expect "$a/file.txt" RH "$out"
expect "$a/folder" H "$out"  # Wine shows no read-only on folders
expect "$a/folder/inner.txt" RH "$out"
"$rivak" "$a/file.txt" "$a/folder" || fail "rivak (clear)"
out=$(seen "$a/file.txt" "$a/folder" "$a/folder/inner.txt")
expect "$a/file.txt" - "$out"
expect "$a/folder" - "$out"
expect "$a/folder/inner.txt" - "$out"
echo "Wine reads what rivak wrote: $failures failures"
fi

# --- In the prefix, rivak reads read-only as Wine does ---------------------------
if [[ $part == prefix || $part == all ]]; then
p=$prefix/drive_c/rivak-oracle-$$
trap 'chmod -R u+w "$tmp" "$p"; rm -rf "$tmp" "$p"' EXIT
mkdir -p "$p/folder-ro" && chmod 555 "$p/folder-ro"
for f in mode-ro value-ro hidden to-set; do echo x >"$p/$f"; done
chmod 444 "$p/mode-ro"
setfattr -n user.DOSATTRIB -v '"0x1"' "$p/value-ro"  # Samba's read-only: not Wine's
setfattr -n user.DOSATTRIB -v '"0x2"' "$p/hidden"
entries=("$p/folder-ro" "$p/mode-ro" "$p/value-ro" "$p/hidden" "$p/to-set")
rivak_here() { WINEPREFIX=$prefix "$rivak" --smb-conf=/dev/null "$@"; }
agree() {  # agree STEP: rivak -l and Wine's attrib show the same R, H and S
  local out listed e letters
  out=$(seen "${entries[@]}")
  listed=$(rivak_here -l "${entries[@]}")
  for e in "${entries[@]}"; do
    letters=$(grep -F "  $e" <<<"$listed" | cut -c1-3 | tr -d 'a-z-')
    expect "$e" "${letters:--}" "$out"
  done
  [[ -n $listed ]] || fail "$1: rivak listed nothing"
}
agree "before"
rivak_here --readonly=set --hidden=keep "$p/to-set" || fail "rivak --readonly=set in the prefix"
agree "after setting"
(umask 000 && rivak_here "${entries[@]}") || fail "rivak (clear) in the prefix"
agree "after clearing"
[[ $(stat -c %a "$p/mode-ro") == 644 ]] || fail "umask 000: $(stat -c %a "$p/mode-ro"), not the owner's write bit alone"
echo "Wine and rivak read the prefix alike: $failures failures"
fi

# --- rivak and rivak.exe end the same -------------------------------------------
if [[ $part == agree || $part == all ]]; then
if [[ ! -f $exe ]]; then
  echo "SKIP: rivak.exe not built ($exe)"
  exit 77
fi
if [[ -z ${DISPLAY:-} ]]; then
  echo "SKIP: no DISPLAY (rivak.exe opens its progress window; needs Xvfb)"
  exit 77
fi
  make_tree() {  # the same tree, made with chmod and setfattr only
    local t=$1
    mkdir -p "$t/sub/deeper" "$t/hidden dir"
    for f in ro.txt hid.txt both.txt plain.txt sys.txt "sub/x.txt" "sub/deeper/y.txt" "hidden dir/z.txt"; do
      echo x >"$t/$f"
    done
    chmod a-w "$t/ro.txt" "$t/both.txt" "$t/sys.txt" "$t/sub/deeper/y.txt"
    setfattr -n user.DOSATTRIB -v '"0x2"' "$t/hid.txt" "$t/both.txt" "$t/hidden dir" "$t/sub/deeper/y.txt"
    setfattr -n user.DOSATTRIB -v '"0x22"' "$t/sub/x.txt"
    setfattr -n user.DOSATTRIB -v '"0x6"' "$t/sys.txt"
  }
  make_tree "$tmp/linux"
  make_tree "$tmp/windows"
  "$rivak" "$tmp/linux" || fail "rivak over the tree"
  "$run" "$exe" "$(winpath "$tmp/windows")" || fail "rivak.exe over the tree"
  state() {  # one line per entry: name, mode, hidden and system of the value, Wine's letters
    local t=$1 p rel value
    local -a paths=()
    while IFS= read -r -d '' p; do paths+=("$p"); done < <(find "$t" -mindepth 1 -print0 | sort -z)
    local letters
    letters=$(seen "${paths[@]}")
    for p in "${paths[@]}"; do
      rel=${p#"$t"/}
      value=$(getfattr --only-values -n user.DOSATTRIB "$p" 2>/dev/null | tr -d '\0')
      printf '%s %s %s %s\n' "$rel" "$(stat -c %a "$p")" "$(( ${value:-0} & 6 ))" \
        "$(grep -F "$(winpath "$p") " <<<"$letters" | awk '{print $NF}')"
    done
  }
  state "$tmp/linux" >"$tmp/linux.state"
  state "$tmp/windows" >"$tmp/windows.state"
  cat "$tmp/linux.state"
  [[ -s $tmp/linux.state ]] && ! awk 'NF < 4 { bad = 1 } END { exit !bad }' "$tmp/linux.state" ||
    fail "Wine showed nothing for some entries"
  if ! diff "$tmp/linux.state" "$tmp/windows.state" >"$tmp/diff"; then
    fail "the two trees differ (< rivak, > rivak.exe):"
    cat "$tmp/diff"
  fi
  echo "rivak and rivak.exe compared on $(find "$tmp/linux" -mindepth 1 | wc -l) entries: $failures failures"
fi

((failures)) && exit 1
exit 0
