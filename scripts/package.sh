#!/bin/bash
# package.sh [--out DIR] [--keep]: builds a release of rivak from a clean copy
# of the last commit (git archive HEAD: uncommitted changes are left out) and
# writes into DIR (default dist/):
#   rivak-<version>-win-x64.zip        rivak.exe, rivak.chm, お読みください.txt,
#                                      LICENSE.txt, THIRD-PARTY-NOTICES.txt
#   rivak-<version>-linux-x86_64.tar.gz  when the commit has the Linux program
#                                      (target rivak_cli, cli/rivak.1): rivak,
#                                      rivak.1, rivak.ja.1 (its Japanese manual
#                                      page), rivak.bash-completion, LICENSE,
#                                      THIRD-PARTY-NOTICES.txt
#   rivak_<version>-1_amd64.deb        the same program as a Debian package
#                                      (scripts/make_deb.sh), when the commit
#                                      has packaging/debian/
#   SHA256SUMS                         of the archives
# The build is Release (-O2, stripped) and reproducible: two runs on the same
# commit, in any two folders, give the same bytes. Times come from the
# commit's date (SOURCE_DATE_EPOCH), build paths are mapped away
# (-ffile-prefix-map), rivak.exe has no link time stamp, the archives list
# their files in one order with fixed times and permissions.
# --keep leaves the work folder (sources, build trees) and prints its path.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

out=$RIVAK_ROOT/dist
keep=0
while (($#)); do
  case $1 in
    --out) out=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
    *) rivak_log "unknown argument $1"; exit 2 ;;
  esac
done

rivak_install_deps
cd "$RIVAK_ROOT"
commit=$(git rev-parse HEAD)
if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
  rivak_log "uncommitted changes are not packaged: this is commit ${commit:0:12}"
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH
# The same archive bytes whatever the caller's umask and locale.
umask 022
export LC_ALL=C.UTF-8 TZ=UTC

work=$(mktemp -d "${TMPDIR:-/tmp}/rivak-package.XXXXXX")
if ((keep)); then
  trap 'rivak_log "work folder kept: $work"' EXIT
else
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/src" "$out"
git archive --format=tar HEAD | tar -x -C "$work/src"

rivak_log "building rivak.exe and rivak.chm (Release) of ${commit:0:12}"
cmake -S "$work/src" -B "$work/win" -DCMAKE_BUILD_TYPE=Release -DRIVAK_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-w64-x86_64.cmake" >"$work/win-configure.log" ||
  { cat "$work/win-configure.log"; exit 1; }
cmake --build "$work/win" -j"$RIVAK_JOBS" --target rivak rivak_help >"$work/win-build.log" 2>&1 ||
  { tail -50 "$work/win-build.log"; exit 1; }
version=$(sed -n 's/^#define RIVAK_VERSION "\(.*\)"$/\1/p' "$work/win/generated/rivak_version.h")
[[ -n $version ]] || { rivak_log "no version in the build tree"; exit 1; }

# Text files: LF in the source, CRLF for Windows; the read-me with a
# byte-order mark so Notepad takes it for UTF-8; the licence named .txt so
# that a double-click opens it.
crlf() { sed 's/$/\r/' "$1"; }
stage=$work/stage/win
mkdir -p "$stage"
cp "$work/win/bin/rivak.exe" "$work/win/bin/rivak.chm" "$stage/"
exe_sum=$(sha256sum "$stage/rivak.exe" | cut -d' ' -f1)
{
  printf '\xef\xbb\xbf'
  sed -e "s/@VERSION@/$version/g" -e "s/@EXE_SHA256@/$exe_sum/g" "$work/src/packaging/readme-ja.txt" | sed 's/$/\r/'
} >"$stage/お読みください.txt"
crlf "$work/src/LICENSE" >"$stage/LICENSE.txt"
crlf "$work/src/packaging/THIRD-PARTY-NOTICES.txt" >"$stage/THIRD-PARTY-NOTICES.txt"
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
zip=rivak-$version-win-x64.zip
rm -f "$out/$zip"
python3 "$RIVAK_ROOT/scripts/make_zip.py" "$out/$zip" "$stage"
archives=("$zip")

# The Linux program, once the commit has it.
if [[ -f $work/src/cli/rivak.1 ]] && grep -rqs --include=CMakeLists.txt 'rivak_cli' "$work/src"; then
  rivak_log "building the Linux program (Release)"
  cmake -S "$work/src" -B "$work/native" -DCMAKE_BUILD_TYPE=Release -DRIVAK_WERROR=ON >"$work/native-configure.log" ||
    { cat "$work/native-configure.log"; exit 1; }
  cmake --build "$work/native" -j"$RIVAK_JOBS" --target rivak_cli >"$work/native-build.log" 2>&1 ||
    { tail -50 "$work/native-build.log"; exit 1; }
  name=rivak-$version-linux-x86_64
  lstage=$work/stage/$name
  mkdir -p "$lstage"
  install -m 755 "$work/native/bin/rivak" "$lstage/rivak"
  strip --strip-unneeded "$lstage/rivak"
  install -m 644 "$work/src/cli/rivak.1" "$work/src/cli/rivak.ja.1" "$work/src/cli/rivak.bash-completion" \
    "$work/src/LICENSE" "$lstage/"
  install -m 644 "$work/src/packaging/THIRD-PARTY-NOTICES-linux.txt" "$lstage/THIRD-PARTY-NOTICES.txt"
  touch -d "@$SOURCE_DATE_EPOCH" "$lstage" "$lstage"/*
  tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --format=gnu -C "$work/stage" -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
  archives+=("$name.tar.gz")
  if [[ -d $work/src/packaging/debian ]]; then
    rivak_log "packing the Debian package"
    mkdir -p "$work/deb"
    "$RIVAK_ROOT/scripts/make_deb.sh" "$work/native/bin/rivak" "$work/src" "$version" "$out" "$work/deb"
    archives+=("rivak_$version-1_amd64.deb")
  fi
else
  rivak_log "no Linux program in this commit (target rivak_cli, cli/rivak.1): no tarball"
fi

(cd "$out" && sha256sum "${archives[@]}" >SHA256SUMS)
rivak_log "package of ${commit:0:12} (version $version) in $out:"
(cd "$out" && ls -l "${archives[@]}" SHA256SUMS >&2 && cat SHA256SUMS >&2)
