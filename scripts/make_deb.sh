#!/bin/bash
# make_deb.sh BINARY SRC VERSION OUT WORK: packs rivak for Linux as
# OUT/rivak_VERSION-1_amd64.deb, from the built program BINARY and the
# source tree SRC (manual pages and completion in cli/, the package's
# control, changelog and copyright in packaging/debian/). WORK is an empty
# folder to build in. Called by package.sh, with SOURCE_DATE_EPOCH set.
# The same inputs give the same bytes: files sorted, owned by root, dated
# SOURCE_DATE_EPOCH, manual pages gzipped without name or time.
set -euo pipefail
(($# == 5)) || { echo "usage: $0 BINARY SRC VERSION OUT WORK" >&2; exit 2; }
binary=$1 src=$2 version=$3 out=$4 work=$5
: "${SOURCE_DATE_EPOCH:?SOURCE_DATE_EPOCH must be set}"
debian=$src/packaging/debian

# Bumping the version in CMakeLists.txt needs a changelog entry for it.
logged=$(dpkg-parsechangelog -l "$debian/changelog" -S Version)
if [[ $logged != "$version-1" ]]; then
  echo "packaging/debian/changelog starts at $logged, not $version-1: add an entry for this release" >&2
  exit 1
fi

root=$work/debian/rivak
doc=$root/usr/share/doc/rivak
install -d "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$root/usr/share/man/ja/man1" \
  "$root/usr/share/bash-completion/completions" "$doc" "$root/usr/share/lintian/overrides"
install -m 755 "$binary" "$root/usr/bin/rivak"
# As Debian's own packages strip them: no symbols, no compiler notes.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/rivak"
gzip -9n <"$src/cli/rivak.1" >"$root/usr/share/man/man1/rivak.1.gz"
gzip -9n <"$src/cli/rivak.ja.1" >"$root/usr/share/man/ja/man1/rivak.1.gz"
install -m 644 "$src/cli/rivak.bash-completion" "$root/usr/share/bash-completion/completions/rivak"
install -m 644 "$debian/copyright" "$doc/copyright"
gzip -9n <"$debian/changelog" >"$doc/changelog.Debian.gz"
install -m 644 "$debian/rivak.lintian-overrides" "$root/usr/share/lintian/overrides/rivak"

# dpkg-shlibdeps and dpkg-gencontrol work in a source tree's debian/ folder.
cp "$debian/control" "$debian/changelog" "$work/debian/"
(
  cd "$work"
  dpkg-shlibdeps debian/rivak/usr/bin/rivak
  dpkg-gencontrol -privak -Pdebian/rivak
)
(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums" "$root/usr/share/man/man1/rivak.1.gz" \
  "$root/usr/share/man/ja/man1/rivak.1.gz" "$doc/changelog.Debian.gz"
find "$root" -type d -exec chmod 755 {} +
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

deb=$out/rivak_$version-1_amd64.deb
rm -f "$deb"
# One compressor thread on every machine, so that the bytes cannot depend
# on how many cores the machine has.
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$deb" >/dev/null
