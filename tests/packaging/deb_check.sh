#!/bin/bash
# deb_check.sh DEB: what an administrator relies on in rivak's Debian package.
#  1. lintian finds no error and no warning in it;
#  2. it installs into a clean root (dpkg --root) that holds only the
#     packages its Depends names, at this system's versions;
#  3. the installed rivak runs, its manual pages (English, Japanese) format
#     without a warning, and bash-completion loads its completion from there
#     and completes "rivak --read" and the values of --readonly;
#  4. dpkg --purge leaves the root as it was before the install.
# Exit 0 when all held.
set -uo pipefail
deb=$(realpath "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/rivak-deb-check.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1.
# Overridden tags are shown too (O:, with the reason as N:); only E: and W: fail.
lintian --display-info --show-overrides "$deb" >"$work/lintian" 2>&1
rc=$?
grep -v 'running with root privileges' "$work/lintian"
((rc == 0 || rc == 2)) || fail "lintian could not check the package (exit $rc)"
grep -qE '^[EW]: ' "$work/lintian" && fail "lintian: an error or a warning (above)"

# 2. The root's dpkg database knows the dependencies as installed, so that
# dpkg checks the versions the package asks for against this system's.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/available"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libstdc++6; do
  [[ ", $depends" == *", $dep "* ]] || fail "Depends ($depends) does not name $dep"
done
for dep in $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$depends"); do
  dpkg-query -s "$dep" >>"$root/var/lib/dpkg/status" && echo >>"$root/var/lib/dpkg/status" ||
    fail "dependency $dep is not installed on this system"
done
tree() { (cd "$root" && find . -path ./var/lib/dpkg -prune -o -print | LC_ALL=C sort); }
tree >"$work/before"
dpkg --root="$root" -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "dpkg -i failed"; }
version=$(dpkg-deb -f "$deb" Version)
[[ $(dpkg-query --root="$root" -W -f='${Status} ${Version}' rivak 2>&1) == "install ok installed $version" ]] ||
  fail "rivak $version is not installed in the root"

# 3.
for f in usr/bin/rivak usr/share/man/man1/rivak.1.gz usr/share/man/ja/man1/rivak.1.gz \
  usr/share/bash-completion/completions/rivak usr/share/doc/rivak/copyright usr/share/doc/rivak/changelog.Debian.gz; do
  [[ -f $root/$f ]] || fail "$f is not installed"
done
got=$("$root/usr/bin/rivak" --version 2>&1)
[[ $got == "rivak ${version%-*}" ]] || fail "rivak --version says '$got', not 'rivak ${version%-*}'"
# As lintian judges a page: man's warnings, in UTF-8.
for page in "C.UTF-8 man1 NAME" "ja_JP.UTF-8 ja/man1 名前"; do
  read -r locale dir heading <<<"$page"
  file=$root/usr/share/man/$dir/rivak.1.gz
  LC_ALL=$locale man --warnings -E UTF-8 -l -Tutf8 -Z "$file" >/dev/null 2>"$work/man.err"
  [[ -s $work/man.err ]] && { cat "$work/man.err"; fail "man warns on $dir/rivak.1.gz"; }
  text=$(LC_ALL=$locale MANWIDTH=80 man -l "$file" 2>&1)
  grep -q "^$heading\$" <<<"$text" && grep -q -- '--readonly=clear|set|keep' <<<"$text" ||
    fail "man -l $dir/rivak.1.gz shows no $heading section or no --readonly"
done
complete() { "$here/bash_complete.sh" "$root/usr/share" "$@" | tr '\n' ' '; }
got=$(complete --read)
[[ $got == "--readonly= " ]] || fail "bash completes 'rivak --read' to '$got', not '--readonly='"
got=$(complete --readonly=)
[[ $got == "clear set keep " ]] || fail "bash completes 'rivak --readonly=' to '$got', not 'clear set keep'"

# 4.
dpkg --root="$root" --purge rivak >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge failed"; }
tree >"$work/after"
diff "$work/before" "$work/after" >"$work/left" || { cat "$work/left"; fail "the purge left the files above"; }
ls "$root/var/lib/dpkg/info" | grep -q '^rivak\.' && fail "dpkg still holds rivak's file lists"

((failures == 0)) && echo "Debian package: lintian clean, installed, ran, purged without a trace"
((failures == 0))
