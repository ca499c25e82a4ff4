#!/bin/bash
# make_big_folder.sh [--read-only-hidden] DIR COUNT: a fresh folder DIR
# holding the empty files f0 .. f(COUNT-1), made on the Linux side in a
# second (Wine takes minutes); with --read-only-hidden every file is
# read-only (write bits off) and hidden (user.DOSATTRIB, as Wine keeps it).
# "--remove DIR" takes it away again.
set -eu
if [[ $1 == --remove ]]; then
  chmod -R u+w -- "$2" 2>/dev/null || true
  rm -rf -- "$2"
  exit 0
fi
named=0
if [[ $1 == --read-only-hidden ]]; then named=1; shift; fi
dir=$1 count=$2
chmod -R u+w -- "$dir" 2>/dev/null || true
rm -rf -- "$dir"
mkdir -p -- "$dir"
cd -- "$dir"
seq -f 'f%.0f' 0 $((count - 1)) | xargs touch --
[[ -e f$((count - 1)) ]]
if ((named)); then
  # Wine reads the value as text; a bare 0x2 would be taken as one hex byte.
  find . -mindepth 1 -print0 | xargs -0 setfattr -n user.DOSATTRIB -v '"0x2"' --
  find . -mindepth 1 -print0 | xargs -0 chmod a-w --
fi
