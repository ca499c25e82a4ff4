# Shared pieces of rivak's build, test and run scripts. Source it from bash:
#   source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
#
# Variables (set on sourcing):
#   RIVAK_ROOT          checkout root
#   RIVAK_NATIVE_DIR    native build tree   (default build/native)
#   RIVAK_WIN_DIR       Windows build tree  (default build/win)
#   RIVAK_WINEPREFIX    private Wine prefix (default $RIVAK_WIN_DIR/wineprefix)
#   RIVAK_RELEASE_DIR   optimized Windows tree, what users run (default build/win-release)
#   RIVAK_NATIVE_RELEASE_DIR  optimized native tree, for benchmarks (default build/native-release)
#   RIVAK_JOBS          parallel build jobs (default 2)
# Any but the first may be set before sourcing.
#
# Functions (each returns non-zero on failure):
#   rivak_log MSG...             print a "==> MSG" progress line to stderr
#   rivak_install_deps           apt-get install the build/test packages that are
#                                missing, and generate the ja_JP.UTF-8 locale;
#                                a no-op (dpkg query only) when all is there
#   rivak_configure_native       cmake-configure $RIVAK_NATIVE_DIR (-Werror, no build
#                                type: the tests' own, quick to build)
#   rivak_configure_win          cmake-configure $RIVAK_WIN_DIR with the MinGW toolchain
#                                (tests; no build type)
#   rivak_configure_win_release  cmake-configure $RIVAK_RELEASE_DIR: Release (-O2,
#                                stripped rivak.exe), what run.sh runs
#   rivak_configure_native_release  cmake-configure $RIVAK_NATIVE_RELEASE_DIR: Release
#   rivak_build DIR [TARGET...]  build DIR (all targets, or the given ones);
#                                with RIVAK_KEEP_GOING=1 it goes on past errors
#   rivak_wine_env [PREFIX]      export WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES,
#                                LANG/LC_ALL=ja_JP.UTF-8 for wine commands; the
#                                overrides in $RIVAK_WINEDLLOVERRIDES (if set) are
#                                added to rivak's own
#   rivak_wine_prefix [PREFIX]   create the prefix once (wineboot, Japanese font
#                                replacements, shell folders kept inside the
#                                prefix); later calls only check a stamp file.
#                                Also calls rivak_wine_env.
#   rivak_wineserver_start       start a persistent "wineserver -p" for the prefix
#   rivak_wineserver_stop        wineserver -k (quietly; fine if none runs)
#   rivak_xvfb_start             start a private Xvfb on the first free display
#                                from :90 up; exports DISPLAY, sets RIVAK_XVFB_PID
#   rivak_xvfb_stop              stop the Xvfb started above
#   rivak_display                keep $DISPLAY if set, else rivak_xvfb_start
#   rivak_cleanup                rivak_wineserver_stop + rivak_xvfb_stop;
#                                meant for "trap rivak_cleanup EXIT"
#   rivak_winpath PATH           print the Windows form of a Linux path (winepath -w)

RIVAK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${RIVAK_NATIVE_DIR:=$RIVAK_ROOT/build/native}"
: "${RIVAK_WIN_DIR:=$RIVAK_ROOT/build/win}"
: "${RIVAK_WINEPREFIX:=$RIVAK_WIN_DIR/wineprefix}"
: "${RIVAK_RELEASE_DIR:=$RIVAK_ROOT/build/win-release}"
: "${RIVAK_NATIVE_RELEASE_DIR:=$RIVAK_ROOT/build/native-release}"
: "${RIVAK_JOBS:=2}"
export RIVAK_ROOT RIVAK_NATIVE_DIR RIVAK_WIN_DIR RIVAK_WINEPREFIX RIVAK_RELEASE_DIR RIVAK_NATIVE_RELEASE_DIR RIVAK_JOBS

# Every package the scripts need, in one place (.ci/run installs these too).
# fonts-wine: Wine draws the title-bar buttons with its Marlett.
RIVAK_PACKAGES=(cmake make g++ fp-utils libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 xvfb imagemagick fonts-ipafont-gothic fonts-wine attr locales xauth
  ca-certificates git python3 xdotool samba smbclient)

rivak_log() { printf '==> %s\n' "$*" >&2; }

_rivak_as_root() {
  if [[ $(id -u) == 0 ]]; then "$@"; else sudo "$@"; fi
}

# The fuzz build (clang, libFuzzer, llvm-symbolizer) and lnkinfo, the
# shortcut tests' oracle.
RIVAK_PACKAGES+=(clang-14 libclang-rt-14-dev llvm-14 liblnk-utils)
# The Debian package: its dependencies and control file (dpkg-dev), its
# checks (lintian), and what package-check.sh tries on it (man, bash completion).
RIVAK_PACKAGES+=(dpkg-dev lintian man-db bash-completion)
# The volume tests' test machine (QEMU, Debian's kernel, a busybox initramfs),
# the tools that make the images and the readers that judge them.
RIVAK_PACKAGES+=(qemu-system-x86 busybox-static dosfstools mtools exfatprogs ntfs-3g cifs-utils fusefat exfat-fuse)

rivak_install_deps() {
  local missing=() p
  for p in "${RIVAK_PACKAGES[@]}"; do
    dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed || missing+=("$p")
  done
  if ((${#missing[@]})); then
    rivak_log "installing ${missing[*]}"
    _rivak_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q || return
    _rivak_as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}" || return
  fi
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    rivak_log "generating the ja_JP.UTF-8 locale"
    if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
      echo 'ja_JP.UTF-8 UTF-8' | _rivak_as_root tee -a /etc/locale.gen >/dev/null || return
    fi
    _rivak_as_root locale-gen || return
  fi
}

# The test trees keep no build type; a tree configured by hand gets Release.
rivak_configure_native() {
  cmake -S "$RIVAK_ROOT" -B "$RIVAK_NATIVE_DIR" -DRIVAK_WERROR=ON -DCMAKE_BUILD_TYPE= "$@"
}

rivak_configure_win() {
  cmake -S "$RIVAK_ROOT" -B "$RIVAK_WIN_DIR" -DRIVAK_WERROR=ON -DCMAKE_BUILD_TYPE= \
    -DCMAKE_TOOLCHAIN_FILE="$RIVAK_ROOT/cmake/mingw-w64-x86_64.cmake" "$@"
}

rivak_configure_win_release() {
  cmake -S "$RIVAK_ROOT" -B "$RIVAK_RELEASE_DIR" -DRIVAK_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$RIVAK_ROOT/cmake/mingw-w64-x86_64.cmake" "$@"
}

rivak_configure_native_release() {
  cmake -S "$RIVAK_ROOT" -B "$RIVAK_NATIVE_RELEASE_DIR" -DRIVAK_WERROR=ON -DCMAKE_BUILD_TYPE=Release "$@"
}

rivak_build() {
  local dir=$1; shift
  local targets=() native=()
  (($#)) && targets=(--target "$@")
  # RIVAK_KEEP_GOING=1: build all that builds, so the tests that did build can still run.
  if [[ ${RIVAK_KEEP_GOING:-0} == 1 ]]; then
    if grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt" 2>/dev/null; then
      native=(-- -k 0)
    else
      native=(-- -k)
    fi
  fi
  cmake --build "$dir" -j"$RIVAK_JOBS" "${targets[@]}" "${native[@]}"
}

rivak_wine_env() {
  export WINEPREFIX=${1:-$RIVAK_WINEPREFIX}
  export WINEDEBUG=-all
  # winemenubuilder would copy shortcuts the program writes into the host desktop.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${RIVAK_WINEDLLOVERRIDES:+;$RIVAK_WINEDLLOVERRIDES}"
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
}

# Font names as the program's dialogs and the Japanese system ask for them.
RIVAK_FONT_REPLACEMENTS=("MS Shell Dlg" "MS Shell Dlg 2" "MS UI Gothic" "ＭＳ Ｐゴシック" "ＭＳ ゴシック")

# Wine draws the title-bar buttons with Marlett (package fonts-wine), but this
# Wine looks for its own fonts in a folder that does not exist; the prefix's
# Fonts folder is always searched.
_rivak_wine_fonts() {
  local fonts=$1/drive_c/windows/Fonts f
  for f in marlett.ttf; do
    [[ -f $fonts/$f || ! -f /usr/share/wine/fonts/$f ]] && continue
    mkdir -p "$fonts" && cp "/usr/share/wine/fonts/$f" "$fonts/$f" || return
  done
}

rivak_wine_prefix() {
  local prefix=${1:-$RIVAK_WINEPREFIX}
  rivak_wine_env "$prefix"
  if [[ -f $prefix/.rivak-ready ]]; then
    _rivak_wine_fonts "$prefix"
    return
  fi
  mkdir -p "$(dirname "$prefix")" || return
  (
    # One setup at a time: ctest may start several tests on a fresh prefix.
    flock 9 || exit
    [[ -f $prefix/.rivak-ready ]] && exit 0
    local t0=$SECONDS
    rivak_log "creating the Wine prefix $prefix"
    rm -rf "$prefix"
    wineboot --init >/dev/null 2>&1 || exit
    wineserver -w || exit

    local reg name
    reg=$(mktemp --suffix=.reg) || exit
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
      for name in "${RIVAK_FONT_REPLACEMENTS[@]}"; do
        printf '"%s"="IPAPGothic"\r\n' "$name"
      done
      printf '\r\n'
    } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$reg" || exit
    wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
    local rc=$?
    wineserver -w
    rm -f "$reg"
    ((rc == 0)) || exit $rc
    wine reg query 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' 2>/dev/null \
      | grep -q IPAPGothic || { rivak_log "font replacements not in the registry"; exit 1; }
    wineserver -w

    # Keep the user's shell folders (Desktop, SendTo's neighbours...) inside
    # the prefix instead of links to the host's home folders.
    local d
    for d in "$prefix"/drive_c/users/*/*; do
      if [[ -L $d ]]; then rm -f "$d" && mkdir -p "$d"; fi
    done
    _rivak_wine_fonts "$prefix" || exit
    touch "$prefix/.rivak-ready"
    rivak_log "Wine prefix ready in $((SECONDS - t0)) s"
  ) 9>"$prefix.lock"
}

rivak_wineserver_start() {
  rivak_wine_env "${1:-${WINEPREFIX:-$RIVAK_WINEPREFIX}}"
  if ! wineserver -p </dev/null >/dev/null 2>&1; then
    # A server runs already: a lingering one ends within seconds, then ours
    # can start; one that outlives the wait is taken to be persistent.
    timeout 15 wineserver -w >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1 || rivak_log "using the wineserver already running"
  fi
  # The first wine process of a server starts the Wine services, which live as
  # long as the server and inherit that process's stdout/stderr: start them
  # here on /dev/null, or ctest would wait on their open pipe for ever.
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}

rivak_wineserver_stop() {
  [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]] || return 0
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

rivak_xvfb_start() {
  local n
  for ((n = 90; n < 190; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    RIVAK_XVFB_PID=$!
    local i
    for ((i = 0; i < 50; i++)); do
      [[ -e /tmp/.X11-unix/X$n ]] && { export DISPLAY=":$n"; rivak_log "Xvfb on :$n"; return 0; }
      kill -0 "$RIVAK_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    # Lost the display to another starter (or Xvfb hung): try the next one.
    kill "$RIVAK_XVFB_PID" 2>/dev/null
    wait "$RIVAK_XVFB_PID" 2>/dev/null
    RIVAK_XVFB_PID=
  done
  rivak_log "no free X display for Xvfb"
  return 1
}

rivak_xvfb_stop() {
  [[ -n ${RIVAK_XVFB_PID:-} ]] || return 0
  kill "$RIVAK_XVFB_PID" 2>/dev/null
  wait "$RIVAK_XVFB_PID" 2>/dev/null
  RIVAK_XVFB_PID=
}

rivak_display() {
  [[ -n ${DISPLAY:-} ]] && return 0
  rivak_xvfb_start
}

rivak_cleanup() {
  rivak_wineserver_stop
  rivak_xvfb_stop
}

rivak_winpath() {
  winepath -w "$1" 2>/dev/null
}
