#!/bin/bash
# package-check.sh: what CI proves about a release.
#  1. scripts/package.sh writes the package into dist/;
#  2. a second package.sh run, in other folders, gives the same rivak.exe,
#     rivak.chm and zip, byte for byte;
#  3. the zip, unpacked into a fresh folder, holds what it should, and its
#     rivak.exe runs a batch under Wine on a small tree
#     (tests/win32/rivak_exe_linux_check.sh checks the attributes it leaves);
#  4. the unpacked rivak.exe opens its help from beside itself (help_probe.exe
#     of the Windows test tree, which is built if missing);
#  4b. the Linux tarball holds the program, which runs, both manual pages and
#     the completion, the last three as the commit has them;
#  5. the Debian package (when the commit makes one) is reproduced too, and
#     passes lintian, installs into a clean root, runs, shows its manual
#     pages and completes its options there, and purges without a trace
#     (tests/packaging/deb_check.sh).
# Uses $DISPLAY if set (test.sh's Xvfb), else a private Xvfb. Exit 0 when all held.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/rivak-package-check.XXXXXX") || exit 1
cleanup() {
  rm -rf "$work"
  rivak_cleanup
}
trap cleanup EXIT
failures=0
fail() { rivak_log "FAIL: $*"; failures=$((failures + 1)); }
timed() {  # timed NAME COMMAND...: runs and reports the seconds taken
  local name=$1 t0=$SECONDS rc
  shift
  "$@"
  rc=$?
  rivak_log "$name: $((SECONDS - t0)) s$( ((rc)) && echo ", FAILED (exit $rc)")"
  return $rc
}

timed "package" "$RIVAK_ROOT/scripts/package.sh" || exit 1
zip=$(cd "$RIVAK_ROOT/dist" && ls rivak-*-win-x64.zip | head -1)
[[ -n $zip ]] || { fail "no zip in dist/"; exit 1; }
(cd "$RIVAK_ROOT/dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match dist/"

# 2. A second build, from another copy in another folder.
timed "second package" env TMPDIR="$work" "$RIVAK_ROOT/scripts/package.sh" --out "$work/second" ||
  fail "the second package build failed"
mkdir -p "$work/a" "$work/b"
(cd "$work/a" && unzip -q "$RIVAK_ROOT/dist/$zip") || fail "cannot unpack $zip"
(cd "$work/b" && unzip -q "$work/second/$zip") || fail "cannot unpack the second $zip"
for f in rivak.exe rivak.chm; do
  if cmp -s "$work/a/$f" "$work/b/$f"; then rivak_log "reproduced: $f"; else fail "$f differs between the two builds"; fi
done
if cmp -s "$RIVAK_ROOT/dist/$zip" "$work/second/$zip"; then rivak_log "reproduced: $zip"; else fail "$zip differs between the two builds"; fi
for t in "$RIVAK_ROOT"/dist/rivak-*-linux-x86_64.tar.gz "$RIVAK_ROOT"/dist/rivak_*_amd64.deb; do
  [[ -f $t ]] || continue
  cmp -s "$t" "$work/second/$(basename "$t")" && rivak_log "reproduced: $(basename "$t")" ||
    fail "$(basename "$t") differs between the two builds"
done

# 3. The unpacked program, in a fresh folder of its own.
unpacked=$work/unpacked
mkdir -p "$unpacked" && (cd "$unpacked" && unzip -q "$RIVAK_ROOT/dist/$zip") || fail "cannot unpack $zip"
want="LICENSE.txt
THIRD-PARTY-NOTICES.txt
rivak.chm
rivak.exe
お読みください.txt"
[[ $(cd "$unpacked" && ls -1 | LC_ALL=C sort) == "$(LC_ALL=C sort <<<"$want")" ]] ||
  fail "the zip holds $(cd "$unpacked" && ls -1 | tr '\n' ' '), not the five files"
[[ $(head -c3 "$unpacked/お読みください.txt" | od -An -tx1 | tr -d ' ') == efbbbf ]] ||
  fail "お読みください.txt has no UTF-8 byte-order mark"
grep -q "$(sha256sum "$unpacked/rivak.exe" | cut -d' ' -f1)" "$unpacked/お読みください.txt" ||
  fail "お読みください.txt does not give rivak.exe's checksum"
# What a user must know before the first drop has a heading of its own.
for heading in 動作環境 初めて起動するとき 'Windows 11 で「送る」を使うとき' 元に戻す機能はありません \
  変更しないもの ショートカットのリンク先 免責事項; do
  grep -q "^■ $heading"$'\r'"\$" "$unpacked/お読みください.txt" || fail "お読みください.txt has no section ■ $heading"
done

rivak_wine_prefix || exit 1
rivak_display || exit 1
rivak_wineserver_start || exit 1
timed "unpacked batch" "$RIVAK_ROOT/tests/win32/rivak_exe_linux_check.sh" "$unpacked/rivak.exe" \
  "$RIVAK_ROOT/scripts/wine-run" || fail "the unpacked rivak.exe did not do its batch"

# 4. Its help, found beside it.
probe=$RIVAK_WIN_DIR/tests/win32/help_probe.exe
if [[ ! -f $probe ]]; then
  { [[ -f $RIVAK_WIN_DIR/CMakeCache.txt ]] || rivak_configure_win >/dev/null; } && rivak_build "$RIVAK_WIN_DIR" help_probe >/dev/null ||
    fail "cannot build help_probe"
fi
timed "unpacked help" "$RIVAK_ROOT/scripts/wine-run" "$probe" "$(rivak_winpath "$unpacked/rivak.exe")" ||
  fail "the unpacked rivak.exe did not open its help"

# 4b. The Linux tarball, once the commit has the Linux program.
tarball=$(cd "$RIVAK_ROOT/dist" && ls rivak-*-linux-x86_64.tar.gz 2>/dev/null | head -1)
if [[ -n $tarball ]]; then
  mkdir -p "$work/linux" && tar -xzf "$RIVAK_ROOT/dist/$tarball" -C "$work/linux" || fail "cannot unpack $tarball"
  linux=$work/linux/${tarball%.tar.gz}
  want="LICENSE THIRD-PARTY-NOTICES.txt rivak rivak.1 rivak.bash-completion rivak.ja.1 "
  held=$(cd "$linux" && ls -1 | LC_ALL=C sort | tr '\n' ' ')
  [[ $held == "$want" ]] || fail "$tarball holds $held, not $want"
  for f in rivak.1 rivak.ja.1 rivak.bash-completion; do
    git -C "$RIVAK_ROOT" show "HEAD:cli/$f" | cmp -s - "$linux/$f" || fail "$tarball: $f is not the commit's cli/$f"
  done
  [[ $("$linux/rivak" --version) == "rivak "* ]] || fail "the rivak of $tarball does not run"
fi

# 5. The Debian package, beside the tarball.
if [[ -d $RIVAK_ROOT/packaging/debian ]]; then
  for kind in -win-x64.zip -linux-x86_64.tar.gz _amd64.deb; do
    grep -q -- "$kind\$" "$RIVAK_ROOT/dist/SHA256SUMS" || fail "SHA256SUMS has no sum of the *$kind file"
  done
  deb=$(awk '$2 ~ /_amd64\.deb$/ { print $2 }' "$RIVAK_ROOT/dist/SHA256SUMS")
  if [[ -f $RIVAK_ROOT/dist/$deb ]]; then
    timed "debian package" "$RIVAK_ROOT/tests/packaging/deb_check.sh" "$RIVAK_ROOT/dist/$deb" ||
      fail "the Debian package did not pass its checks"
  else
    fail "no Debian package in dist/"
  fi
fi

if ((failures)); then
  rivak_log "package check: $failures failure(s)"
  exit 1
fi
rivak_log "package check: all held ($(cd "$RIVAK_ROOT/dist" && cat SHA256SUMS | tr '\n' ' '))"
