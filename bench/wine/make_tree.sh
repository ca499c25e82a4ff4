#!/bin/bash
# make_tree.sh DIR ENTRIES: a fresh tree of about ENTRIES entries below DIR,
# every one read-only (files: write bits off) and hidden (user.DOSATTRIB
# "0x2", as Wine keeps it): 100 folders of equal size, each holding files
# and a subfolder with more files, so the walk goes two levels down.
set -eu
dir=$1 entries=$2
folders=100
per=$((entries / folders - 2))  # entries per top folder, less itself and its subfolder
inner=$((per / 2)) outer=$((per - per / 2))
chmod -R u+w -- "$dir" 2>/dev/null || true
rm -rf -- "$dir"
mkdir -p -- "$dir"
cd -- "$dir"
for ((d = 0; d < folders; d++)); do
  top=$(printf 'folder-%03d' "$d")
  mkdir -p "$top/inner"
  (cd "$top" && seq -f 'file-%06.0f.txt' 1 "$outer" | xargs touch --)
  (cd "$top/inner" && seq -f 'inner-%06.0f.dat' 1 "$inner" | xargs touch --)
done
# Wine reads the value as text; a bare 0x2 would be taken as one hex byte.
find . -mindepth 1 -print0 | xargs -0 setfattr -n user.DOSATTRIB -v '"0x2"' --
find . -type f -print0 | xargs -0 chmod a-w --
