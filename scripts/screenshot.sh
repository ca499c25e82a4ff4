#!/bin/bash
# screenshot.sh [--exe PATH] [--keep-full] MODE [OUT.png]
#
# Photographs rivak's windows under Wine, on a private Xvfb, inside a Wine
# virtual desktop (800x600), with the Japanese font replacements of the
# prefix (scripts/lib.sh). The picture is cropped to the windows shown.
#
# MODE:
#   main       the main window, as started without arguments
#   progress   the progress window during a long command-line batch
#   shortcut   the main window with "その他" > "ショートカットの作成" opened
#   version    the main window with "ヘルプ" > "バージョン情報" opened
#   menu-N     the main window with menu N (1..3) of its menu bar pulled down
# OUT defaults to docs/img/<MODE>.png. --exe picks the program (default: the
# Windows build's bin/rivak.exe). --keep-full keeps the whole desktop.
# The menus are worked from the keyboard (F10, arrows, Enter) with xdotool.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

exe=$RIVAK_WIN_DIR/bin/rivak.exe
crop=1
while (($#)); do
  case $1 in
    --exe) exe=$2; shift 2 ;;
    --keep-full) crop=0; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
mode=${1:?"usage: $0 [--exe PATH] MODE [OUT.png]"}
out=${2:-$RIVAK_ROOT/docs/img/$mode.png}
[[ -f $exe ]] || { rivak_log "no program at $exe (build it first)"; exit 1; }
command -v xdotool >/dev/null || { rivak_log "xdotool is needed (apt-get install xdotool)"; exit 1; }
mkdir -p "$(dirname "$out")"

work=$(mktemp -d)
wine_pid=
tree=
cleanup() {
  [[ -n $wine_pid ]] && kill "$wine_pid" 2>/dev/null
  rivak_cleanup
  rm -rf "$work"
  [[ -n $tree ]] && rm -rf "$tree"
}
trap cleanup EXIT

rivak_wine_prefix || exit 1
unset DISPLAY
rivak_xvfb_start || exit 1
# Right after a fresh prefix the last wineserver may still be on its way out.
if ! rivak_wineserver_start; then
  sleep 2
  rivak_wineserver_start || { rivak_log "wineserver would not start"; exit 1; }
fi

args=()
if [[ $mode == progress ]]; then
  # A tree big enough to keep the batch (and its counter) busy for a while.
  tree=$WINEPREFIX/drive_c/rivak-shot-tree
  rm -rf "$tree"
  rivak_log "making a tree of 40000 files"
  for d in $(seq 1 200); do
    mkdir -p "$tree/d$d"
    (cd "$tree/d$d" && touch $(seq -f 'f%g.txt' 1 200))
  done
  args=('C:\rivak-shot-tree')
fi

# Desktop name "shot": its X window is titled "shot - Wine デスクトップ" (or
# "Wine desktop" in English).
wine explorer /desktop=shot,800x600 "$exe" "${args[@]}" >/dev/null 2>&1 &
wine_pid=$!

desktop=
for ((i = 0; i < 100; i++)); do
  desktop=$(xdotool search --name '^shot - ' 2>/dev/null | head -1)
  [[ -n $desktop ]] && break
  sleep 0.2
done
[[ -n $desktop ]] || { rivak_log "the Wine desktop did not appear"; exit 1; }

shoot() { import -display "$DISPLAY" -window "$desktop" "$1" 2>/dev/null; }

# Waits until the desktop shows something and then stays the same for a
# moment (the window is drawn), at most ~15 s.
settle() {
  local prev="" sum n
  for ((n = 0; n < 60; n++)); do
    sleep "$([[ $mode == progress ]] && echo 0.05 || echo 0.25)"
    shoot "$work/probe.png" || continue
    sum=$(convert "$work/probe.png" -format '%k %#' info: 2>/dev/null)
    # One colour: still the bare desktop.
    [[ ${sum%% *} -le 1 ]] && continue
    # The progress window changes with every count: seen once is enough.
    [[ $mode == progress ]] && return 0
    [[ $sum == "$prev" ]] && return 0
    prev=$sum
  done
  return 1
}

keys() {  # keys KEY...: typed into the focused Wine window, one by one
  local k
  xdotool windowfocus --sync "$desktop" 2>/dev/null
  for k in "$@"; do
    xdotool key --window "$desktop" "$k"
    sleep 0.4
  done
}

settle || rivak_log "the picture did not settle; taking it anyway"
# The counter is drawn as it goes: the probe that showed it is the picture.
# A moment later the count is higher, if the batch is still running.
if [[ $mode == progress ]]; then
  cp "$work/probe.png" "$work/progress.png"
  sleep 1
  shoot "$work/later.png" &&
    [[ $(convert "$work/later.png" -format '%k' info: 2>/dev/null) -gt 1 ]] && mv "$work/later.png" "$work/progress.png"
fi

case $mode in
  main|progress) ;;
  # F10 selects the first menu of the bar; Down opens it on its first item.
  shortcut) keys F10 Right Down Return ;;
  version) keys F10 Right Right Down Down Return ;;
  menu-[123]) keys F10 $(for ((i = 1; i < ${mode#menu-}; i++)); do echo Right; done) Down ;;
  *) rivak_log "unknown mode $mode"; exit 2 ;;
esac
[[ $mode == main || $mode == progress ]] || { sleep 1; settle; }

if [[ $mode == progress ]]; then
  mv "$work/progress.png" "$work/full.png"
else
  shoot "$work/full.png" || { rivak_log "import failed"; exit 1; }
fi
if ((crop)); then
  # The desktop is one flat colour: trimming it leaves the windows.
  convert "$work/full.png" -bordercolor "$(convert "$work/full.png" -format '%[pixel:p{0,0}]' info:)" \
    -border 1 -trim +repage "$out"
else
  cp "$work/full.png" "$out"
fi
rivak_log "saved $out ($(identify -format '%wx%h' "$out"))"
