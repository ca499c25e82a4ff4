#!/bin/bash
# run.sh [PATH...]: builds the optimized rivak.exe (Release tree,
# $RIVAK_RELEASE_DIR) and runs it under Wine. With paths (Linux or Windows
# form) it runs one batch over them and says how it ended; without, the main
# window opens. The display is $DISPLAY if set; without one the window runs on
# a private Xvfb that nobody sees, so run.sh saves a screenshot of it a few
# seconds after the start and every few seconds after (at once on SIGUSR1),
# and says where. Ctrl+C ends the program. Exits with the program's exit status.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

wine_pid=
stop() {
  [[ -n $wine_pid ]] && kill "$wine_pid" 2>/dev/null
  rivak_cleanup
}
trap stop EXIT
trap 'echo; rivak_log "interrupted: ending rivak"; exit 130' INT TERM

rivak_install_deps || exit 1
rivak_configure_win_release >/dev/null || exit 1
rivak_build "$RIVAK_RELEASE_DIR" rivak rivak_help >"$RIVAK_RELEASE_DIR/run-build.log" 2>&1 ||
  { tail -40 "$RIVAK_RELEASE_DIR/run-build.log"; rivak_log "the build failed"; exit 1; }
exe=$RIVAK_RELEASE_DIR/bin/rivak.exe
[[ -f $exe ]] || { rivak_log "no $exe after the build"; exit 1; }
rivak_wine_prefix || exit 1
private_display=0
[[ -z ${DISPLAY:-} ]] && private_display=1
rivak_display || exit 1
rivak_wineserver_start || exit 1

# How the program ended, in words.
ended() {  # ended STATUS
  case $1 in
    0) echo "ended normally (exit status 0)" ;;
    1) echo "reported a failure (exit status 1; its message box said why)" ;;
    130) echo "was interrupted (exit status 130)" ;;
    *) echo "ended abnormally (exit status $1)" ;;
  esac
}

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

if ((${#winargs[@]})); then
  line="\"$(rivak_winpath "$exe")\""
  for w in "${winargs[@]}"; do line+=" \"${w//%/%%}\""; done
  bat=$RIVAK_RELEASE_DIR/run-rivak.bat
  rivak_log "rivak.exe: one batch over ${#winargs[@]} path(s)"
  if printf '@%s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$line" | iconv -f UTF-8 -t CP932 >"$bat" 2>/dev/null; then
    "$RIVAK_ROOT/scripts/wine-run" cmd /c "$(rivak_winpath "$bat")"
  else
    rivak_log "a path has characters outside code page 932; passing it unquoted"
    "$RIVAK_ROOT/scripts/wine-run" "$exe" "${winargs[@]}"
  fi
  rc=$?
  rivak_log "rivak.exe $(ended $rc); ${#winargs[@]} path(s) handed over"
  exit $rc
fi

"$RIVAK_ROOT/scripts/wine-run" "$exe" &
wine_pid=$!
if ((private_display)); then
  shot=$RIVAK_RELEASE_DIR/run-screenshot.png
  rivak_log "no DISPLAY: the main window runs on a private X server ($DISPLAY) that nobody sees"
  rivak_log "a screenshot goes to $shot about 3 s after the start and every 5 s after;"
  rivak_log "  'kill -USR1 $$' takes one at once. Ctrl+C (or 'kill $$') ends rivak."
  take_now=0
  trap 'take_now=1' USR1
  next=$((SECONDS + 3)) first=1
  while kill -0 "$wine_pid" 2>/dev/null; do
    if ((take_now || SECONDS >= next)); then
      if import -display "$DISPLAY" -window root "$shot.tmp.png" 2>/dev/null && mv "$shot.tmp.png" "$shot"; then
        ((first || take_now)) && rivak_log "screenshot saved: $shot"
        first=0
      fi
      take_now=0 next=$((SECONDS + 5))
    fi
    sleep 0.5 &
    wait $! 2>/dev/null
  done
else
  rivak_log "the main window opens on $DISPLAY; closing it ends rivak"
fi
wait "$wine_pid"
rc=$?
wine_pid=
rivak_log "rivak.exe $(ended $rc)"
exit $rc
