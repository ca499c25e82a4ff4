#!/bin/bash
# bench-wine.sh [ENTRIES]: how long rivak.exe takes over a big tree under Wine,
# against the least work the job needs (floor.exe: one listing per folder, one
# write per entry) and Wine's own attrib. Not a test: it prints figures.
#
# Every program gets the same fresh tree (ENTRIES entries, default 100000, all
# read-only and hidden). Runs without a display use a prefix of their own with
# Wine's null graphics driver, where windows are still created but nothing is
# drawn; the progress window's drawing is timed separately on a private Xvfb.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

entries=${1:-100000}
bench=${RIVAK_BENCH_DIR:-$RIVAK_WIN_DIR/bench}
tree=$bench/tree
null_prefix=$bench/prefix-null
mkdir -p "$bench" || exit 1

cleanup() {
  local p
  for p in "$null_prefix" "$RIVAK_WINEPREFIX"; do
    [[ -d $p ]] && WINEPREFIX=$p wineserver -k >/dev/null 2>&1
  done
  rivak_xvfb_stop
  [[ -d $tree ]] && { chmod -R u+w "$tree" 2>/dev/null; rm -rf "$tree"; }
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- programs --------------------------------------------------------------
rivak_log "building rivak.exe"
[[ -f $RIVAK_WIN_DIR/CMakeCache.txt ]] || rivak_configure_win >/dev/null || exit 1
rivak_build "$RIVAK_WIN_DIR" rivak >/dev/null || exit 1
exe=$RIVAK_WIN_DIR/bin/rivak.exe

rivak_log "building floor.exe and engine_wine.exe"
cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++20 -O2 -municode -static -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
  -D_WIN32_WINNT=0x0A00 -I"$RIVAK_ROOT")
$cxx "${flags[@]}" -o "$bench/floor.exe" "$RIVAK_ROOT/bench/wine/floor.cpp" || exit 1
# The engine bench carries rivak.exe's manifest, so its windows are the same.
x86_64-w64-mingw32-windres -c 65001 -I"$RIVAK_ROOT" -I"$RIVAK_ROOT/ui/res" "$RIVAK_ROOT/ui/res/rivak.rc" \
  -O coff -o "$bench/rivak_res.o" || exit 1
engine_sources=("$RIVAK_ROOT"/engine/*.cpp "$RIVAK_ROOT"/platform/win32/*.cpp
  "$RIVAK_ROOT/ui/progress_window.cpp" "$RIVAK_ROOT/ui/layout.cpp")
$cxx "${flags[@]}" -o "$bench/engine_wine.exe" "$RIVAK_ROOT/bench/wine/engine_wine.cpp" "${engine_sources[@]}" \
  "$bench/rivak_res.o" -lole32 -loleaut32 -luuid -lshell32 -lgdi32 -luser32 || exit 1

# --- prefixes --------------------------------------------------------------
rivak_wine_prefix "$null_prefix" || exit 1
if [[ ! -f $null_prefix/.rivak-null-driver ]]; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1 || exit 1
  wineserver -k >/dev/null 2>&1; wineserver -w
  grep -q '"Graphics"="null"' "$null_prefix/user.reg" || { rivak_log "null driver not set"; exit 1; }
  touch "$null_prefix/.rivak-null-driver"
fi

# --- timing ----------------------------------------------------------------
wintree="Z:${tree//\//\\}"
declare -A secs left

remaining() {  # entries still read-only or still hidden
  local ro hidden
  ro=$(find "$tree" -mindepth 1 -type f ! -perm -u+w | wc -l)
  hidden=$(getfattr -R --absolute-names -n user.DOSATTRIB "$tree" 2>/dev/null |
    grep -c '^user.DOSATTRIB="0x[0-9a-f]*[2367abef]"')
  echo "$ro read-only, $hidden hidden"
}

timed() {  # timed NAME COMMAND...: fresh tree, one run, wall time
  local name=$1 t0 t1
  shift
  "$RIVAK_ROOT/bench/wine/make_tree.sh" "$tree" "$entries" || exit 1
  sync
  rivak_log "$name"
  t0=$(date +%s.%N)
  "$@" 2>/dev/null | sed 's/^/    /'
  t1=$(date +%s.%N)
  secs[$name]=$(echo "$t1 - $t0" | bc)
  left[$name]=$(remaining)
  printf '    %.2f s; left: %s\n' "${secs[$name]}" "${left[$name]}"
}

(
  unset DISPLAY
  rivak_wine_env "$null_prefix"
  rivak_wineserver_start
  timed "rivak.exe" wine "$exe" "\"$wintree\""
  timed "attrib -r -h /s /d" wine attrib -r -h /s /d "$wintree\\*"
  timed "floor.exe" wine "$bench/floor.exe" "$wintree"
  timed "engine, no window" wine "$bench/engine_wine.exe" "$wintree"
  timed "engine, window" wine "$bench/engine_wine.exe" "$wintree" --window
  for k in "${!secs[@]}"; do echo "$k=${secs[$k]}"; done >"$bench/null.times"
) || exit 1

rivak_wine_prefix || exit 1
rivak_xvfb_start || exit 1
(
  rivak_wine_env
  rivak_wineserver_start
  timed "rivak.exe on Xvfb" wine "$exe" "\"$wintree\""
  timed "engine, window on Xvfb" wine "$bench/engine_wine.exe" "$wintree" --window
  for k in "${!secs[@]}"; do echo "$k=${secs[$k]}"; done >"$bench/xvfb.times"
) || exit 1

# --- summary ---------------------------------------------------------------
declare -A t
while IFS='=' read -r k v; do t[$k]=$v; done < <(cat "$bench/null.times" "$bench/xvfb.times")
floor=${t[floor.exe]}
printf '\n==== %d entries, wall times (Wine start-up included) ====\n' "$entries"
for k in "rivak.exe" "attrib -r -h /s /d" "floor.exe" "engine, no window" "engine, window" \
  "rivak.exe on Xvfb" "engine, window on Xvfb"; do
  printf '  %-26s %8.2f s  %5.2f x floor\n' "$k" "${t[$k]}" "$(echo "${t[$k]} / $floor" | bc -l)"
done
printf '  progress window, null driver: %.0f us per entry (engine with window - without)\n' \
  "$(echo "(${t[engine, window]} - ${t[engine, no window]}) * 1000000 / $entries" | bc -l)"
printf '  progress window, drawn on Xvfb: %.0f us per entry more than the null driver (rivak.exe)\n' \
  "$(echo "(${t[rivak.exe on Xvfb]} - ${t[rivak.exe]}) * 1000000 / $entries" | bc -l)"
