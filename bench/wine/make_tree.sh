#!/bin/bash
# make_tree.sh DIR FOLDERS FILES: a fresh tree below DIR of FOLDERS folders
# holding FILES files each, every entry read-only (files: write bits off) and
# hidden (user.DOSATTRIB "0x2", as Wine keeps it).
set -eu
dir=$1 folders=$2 files=$3
chmod -R u+w -- "$dir" 2>/dev/null || true
rm -rf -- "$dir"
mkdir -p -- "$dir"
cd -- "$dir"
for ((d = 0; d < folders; d++)); do
  top=$(printf 'folder-%04d' "$d")
  mkdir "$top"
  (cd "$top" && seq -f 'file-%06.0f.txt' 1 "$files" | xargs touch --)
done
# Wine reads the value as text; a bare 0x2 would be taken as one hex byte.
find . -mindepth 1 -print0 | xargs -0 setfattr -n user.DOSATTRIB -v '"0x2"' --
find . -type f -print0 | xargs -0 chmod a-w --
