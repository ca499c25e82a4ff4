#!/bin/bash
# run.sh [PATH...]: builds rivak.exe and runs it under Wine. With paths (Linux
# or Windows form) it runs one batch over them; without, the main window opens.
# The display is $DISPLAY if set, else a private Xvfb for the length of the run.
# Exits with the program's exit status.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
trap rivak_cleanup EXIT

rivak_install_deps || exit 1
rivak_configure_win >/dev/null || exit 1
rivak_build "$RIVAK_WIN_DIR" rivak || exit 1
exe=$RIVAK_WIN_DIR/bin/rivak.exe
[[ -f $exe ]] || { rivak_log "no $exe after the build"; exit 1; }
rivak_wine_prefix || exit 1
rivak_display || exit 1
rivak_wineserver_start || exit 1

# Wine quotes an argument only when it holds a blank, so every path is written
# quoted into a batch file instead (cmd reads it in the ANSI code page, 932).
winargs=()
for a in "$@"; do
  if [[ $a =~ ^[A-Za-z]:[\\/] || $a == \\\\* ]]; then
    w=$a
  else
    w=$(rivak_winpath "$(realpath -m -- "$a")") || { rivak_log "cannot convert $a"; exit 1; }
  fi
  winargs+=("$w")
done

if ((${#winargs[@]} == 0)); then
  "$RIVAK_ROOT/scripts/wine-run" "$exe"
  exit
fi

line="\"$(rivak_winpath "$exe")\""
for w in "${winargs[@]}"; do line+=" \"${w//%/%%}\""; done
bat=$RIVAK_WIN_DIR/run-rivak.bat
if printf '@%s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$line" | iconv -f UTF-8 -t CP932 >"$bat" 2>/dev/null; then
  "$RIVAK_ROOT/scripts/wine-run" cmd /c "$(rivak_winpath "$bat")"
else
  rivak_log "a path has characters outside code page 932; passing it unquoted"
  "$RIVAK_ROOT/scripts/wine-run" "$exe" "${winargs[@]}"
fi
