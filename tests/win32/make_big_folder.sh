#!/bin/bash
# make_big_folder.sh DIR COUNT: a fresh folder DIR holding the empty files
# f0 .. f(COUNT-1), made on the Linux side in a second (Wine takes minutes).
# "--remove DIR" takes it away again.
set -eu
if [[ $1 == --remove ]]; then rm -rf -- "$2"; exit 0; fi
dir=$1 count=$2
rm -rf -- "$dir"
mkdir -p -- "$dir"
cd -- "$dir"
seq -f 'f%.0f' 0 $((count - 1)) | xargs touch --
[[ -e f$((count - 1)) ]]
