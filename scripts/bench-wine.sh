#!/bin/bash
# bench-wine.sh: how long rivak.exe takes under Wine, against the least work
# the job needs. Not a test: it prints figures. Everything runs under Wine on
# a private Xvfb with a window manager (openbox, installed if missing), so
# rivak.exe draws its windows as a user sees them.
#
# 1. Trees of 100 folders of 200 files and of 500 folders of 200 files, every
#    entry read-only and hidden, built afresh before every run: floor.exe (one
#    listing per folder, one write per entry), rivak.exe in batch mode, Wine's
#    attrib, and the engine alone in a process without a window
#    (engine_wine.exe). Medians and ratios to the floor.
# 2. A batch of one file against bare_window.exe, which only shows and hides
#    one small window: the constant cost of a short windowed run under Wine
#    (without a window manager, Wine waits 2 s for one to confirm the first
#    window it hides; the Wine setting HKCU\Software\Wine\X11 Driver
#    Managed=N takes that wait away). floor.exe on that one file gives the
#    cost of a run without a window; the difference is the window's
#    constant, which floor.exe never pays: the trees' ratios are printed
#    without it too.
# 3. A drop from another process (drag_source.exe, as Explorer would drag)
#    of a folder of RIVAK_BENCH_DROP_FILES read-only hidden files onto
#    rivak.exe's window: how long the source is held in DoDragDrop after the
#    button goes up, and how long the batch takes.
#
# rivak.exe comes from an optimized tree of its own (build/win-release,
# Release at -O2); the helper programs are built at -O2 too. Wall times
# include Wine's start-up; compare ratios, the machine is shared.
#   RIVAK_BENCH_RUNS   runs per program and tree (default 3)
#   RIVAK_BENCH_TREES  "FOLDERSxFILES ..." (default "100x200 500x200")
#   RIVAK_BENCH_DROP_FILES  files in the dropped folder (default 12000)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

runs=${RIVAK_BENCH_RUNS:-3}
trees=${RIVAK_BENCH_TREES:-"100x200 500x200"}
dropFiles=${RIVAK_BENCH_DROP_FILES:-12000}
release=$RIVAK_ROOT/build/win-release
bench=$release/bench
tree=$bench/tree
one=$bench/one
dropped=$bench/dropped
mkdir -p "$bench" || exit 1

wm_pid=
cleanup() {
  [[ -n $wm_pid ]] && { kill "$wm_pid" 2>/dev/null; wait "$wm_pid" 2>/dev/null; }
  rivak_cleanup
  local d
  for d in "$tree" "$one" "$dropped"; do
    [[ -d $d ]] && { chmod -R u+w "$d" 2>/dev/null; rm -rf "$d"; }
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- programs --------------------------------------------------------------
if ! command -v openbox >/dev/null; then
  rivak_log "installing openbox, the window manager the figures are taken under"
  _rivak_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=600 openbox >/dev/null || exit 1
fi
rivak_log "building rivak.exe (Release, -O2) in $release"
(
  export RIVAK_WIN_DIR=$release
  rivak_configure_win -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null &&
    rivak_build "$release" rivak >/dev/null
) || exit 1
exe=$release/bin/rivak.exe

rivak_log "building floor.exe, engine_wine.exe and bare_window.exe"
cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++20 -O2 -DNDEBUG -municode -static -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
  -D_WIN32_WINNT=0x0A00 -I"$RIVAK_ROOT")
$cxx "${flags[@]}" -o "$bench/floor.exe" "$RIVAK_ROOT/bench/wine/floor.cpp" || exit 1
$cxx "${flags[@]}" -mwindows -o "$bench/bare_window.exe" "$RIVAK_ROOT/bench/wine/bare_window.cpp" || exit 1
engine_sources=("$RIVAK_ROOT"/engine/*.cpp "$RIVAK_ROOT"/platform/win32/*.cpp "$RIVAK_ROOT"/platform/lnk/*.cpp
  "$RIVAK_ROOT/ui/progress_window.cpp" "$RIVAK_ROOT/ui/layout.cpp")
$cxx "${flags[@]}" -o "$bench/engine_wine.exe" "$RIVAK_ROOT/bench/wine/engine_wine.cpp" "${engine_sources[@]}" \
  -lole32 -loleaut32 -luuid -lshell32 -lgdi32 -luser32 || exit 1
$cxx "${flags[@]}" -I"$release/generated" -o "$bench/drag_source.exe" "$RIVAK_ROOT/bench/wine/drag_source.cpp" \
  -lole32 -loleaut32 -luuid -lshell32 -luser32 || exit 1

rivak_wine_prefix || exit 1
rivak_xvfb_start || exit 1
openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
sleep 1
kill -0 "$wm_pid" 2>/dev/null || { rivak_log "openbox did not start"; exit 1; }
rivak_wineserver_start

# --- timing ----------------------------------------------------------------
wintree="Z:${tree//\//\\}"

left() {  # entries of DIR still read-only or hidden
  local ro hidden
  ro=$(find "$1" -mindepth 1 -type f ! -perm -u+w | wc -l)
  hidden=$(getfattr -R --absolute-names -n user.DOSATTRIB "$1" 2>/dev/null |
    grep -c '^user.DOSATTRIB="0x[0-9a-f]*[2367abef]"')
  echo $((ro + hidden))
}

seconds() {  # seconds COMMAND...: wall time of one run
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 </dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

commit=$(git -C "$RIVAK_ROOT" rev-parse --short HEAD)
git -C "$RIVAK_ROOT" diff --quiet HEAD -- engine intake platform ui || commit+=" (with uncommitted changes)"
printf '\n==== rivak under Wine on Xvfb with openbox, commit %s, %d runs each, median wall time ====\n' "$commit" "$runs"

names=("floor.exe" "rivak.exe" "attrib -r -h /s /d" "engine alone, no window")
program() {  # program NAME: one run of it over the tree
  case $1 in
    "floor.exe") wine "$bench/floor.exe" "$wintree" ;;
    "rivak.exe") wine "$exe" "$wintree" ;;
    "attrib -r -h /s /d") wine attrib -r -h /s /d "$wintree\\*" ;;
    "engine alone, no window") wine "$bench/engine_wine.exe" "$wintree" ;;
  esac
}

declare -A floorOf=() rivakOf=()
for shape in $trees; do
  folders=${shape%x*} files=${shape#*x}
  entries=$((folders * files + folders))
  declare -A times=() unhandled=()
  rivak_log "$folders folders of $files files ($entries entries)"
  for ((r = 1; r <= runs; r++)); do
    # Interleaved, so a busy spell of the machine falls on all alike.
    for name in "${names[@]}"; do
      "$RIVAK_ROOT/bench/wine/make_tree.sh" "$tree" "$folders" "$files" || exit 1
      sync
      t=$(seconds program "$name")
      times[$name]+="$t "
      n=$(left "$tree")
      ((n)) && unhandled[$name]=$n
      rivak_log "  run $r, $name: $t s${unhandled[$name]:+, $n entries left read-only or hidden}"
    done
  done
  # shellcheck disable=SC2086
  floor=$(median ${times[floor.exe]})
  # shellcheck disable=SC2086
  floorOf[$shape]=$floor rivakOf[$shape]=$(median ${times[rivak.exe]})
  printf '\n%d folders of %d files, %d entries\n' "$folders" "$files" "$entries"
  for name in "${names[@]}"; do
    # shellcheck disable=SC2086
    m=$(median ${times[$name]})
    printf '  %-24s %8.2f s  %5.2f x floor   runs: %s%s\n' "$name" "$m" "$(echo "$m / $floor" | bc -l)" \
      "${times[$name]% }" "${unhandled[$name]:+  (left undone: ${unhandled[$name]})}"
  done
  unset times unhandled
done

# --- one file ----------------------------------------------------------------
mkdir -p "$one" || exit 1
file=$one/one.txt
winfile="Z:${file//\//\\}"
declare -a single=() bare=() nowindow=()
for ((r = 1; r <= runs; r++)); do
  : >"$file" && setfattr -n user.DOSATTRIB -v '"0x2"' "$file" && chmod a-w "$file"
  single+=("$(seconds wine "$exe" "$winfile")")
  chmod u+w "$file"
  bare+=("$(seconds wine "$bench/bare_window.exe")")
  nowindow+=("$(seconds wine "$bench/floor.exe" "Z:${one//\//\\}")")
done
s=$(median "${single[@]}") b=$(median "${bare[@]}") n=$(median "${nowindow[@]}")
printf '\none file\n'
printf '  %-24s %8.2f s  %5.2f x bare   runs: %s\n' "rivak.exe, one file" "$s" "$(echo "$s / $b" | bc -l)" "${single[*]}"
printf '  %-24s %8.2f s               runs: %s\n' "bare_window.exe" "$b" "${bare[*]}"
printf '  %-24s %8.2f s               runs: %s\n' "floor.exe, one file" "$n" "${nowindow[*]}"

constant=$(echo "$b - $n" | bc -l)
printf '\nwithout the window constant (%.2f s = bare_window.exe - floor.exe on one file)\n' "$constant"
for shape in $trees; do
  rest=$(echo "${rivakOf[$shape]} - $constant" | bc -l)
  printf '  %-24s %8.2f s  %5.2f x floor\n' "rivak.exe, $shape" "$rest" "$(echo "$rest / ${floorOf[$shape]}" | bc -l)"
done

# --- a drop from another process ---------------------------------------------------
declare -a held=() batch=()
winexe=$(rivak_winpath "$exe") windropped="Z:${dropped//\//\\}"
for ((r = 1; r <= runs; r++)); do
  "$RIVAK_ROOT/tests/win32/make_big_folder.sh" --read-only-hidden "$dropped" "$dropFiles" || exit 1
  sync
  line=$(wine "$bench/drag_source.exe" "$winexe" "$windropped" 2>&1 </dev/null | grep '^drop of')
  rivak_log "  drop $r: ${line:-no drop}"
  [[ $line =~ held\ ([0-9.]+)\ s.*batch\ ([0-9.]+)\ s ]] || continue
  held+=("${BASH_REMATCH[1]}") batch+=("${BASH_REMATCH[2]}")
done
printf '\na drop of a folder of %d files from another process\n' "$dropFiles"
if ((${#held[@]})); then
  printf '  %-24s %8.3f s               runs: %s\n' "source held" "$(median "${held[@]}")" "${held[*]}"
  printf '  %-24s %8.3f s               runs: %s\n' "drop to end of batch" "$(median "${batch[@]}")" "${batch[*]}"
else
  printf '  no drop was taken\n'
fi
