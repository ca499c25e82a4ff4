#!/bin/bash
# option_drift.sh RIVAK SRC: the options of rivak as each of its parts knows
# them. Every option `RIVAK --help` lists is offered by the bash completion
# (SRC/cli/rivak.bash-completion), and the Japanese manual page
# (SRC/cli/rivak.ja.1) documents the same options as the English one
# (SRC/cli/rivak.1). Prints what is missing where; exit 0 when nothing is.
set -uo pipefail
rivak=$1 src=$(realpath "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

# "--name" and "-x" in a text, one a line, sorted.
options() { grep -oE -- '(^|[ ,"|])--?[[:alnum:]][[:alnum:]-]*' | sed -E 's/^[ ,"|]//' | LC_ALL=C sort -u; }
# What the first set has that the second lacks.
missing() { LC_ALL=C comm -23 "$1" "$2" | tr '\n' ' '; }

# The help's option lines start with blanks and a dash; their descriptions
# may name other options, which must be completed all the same.
LC_ALL=C "$rivak" --help | grep -E '^[[:space:]]+-' | options >"$work/help"
[[ -s $work/help ]] || { echo "FAIL: no option found in '$rivak --help'"; exit 1; }
mkdir -p "$work/share/bash-completion/completions"
ln -s "$src/cli/rivak.bash-completion" "$work/share/bash-completion/completions/rivak"
"$here/bash_complete.sh" "$work/share" - >"$work/offered" ||
  { echo "FAIL: bash-completion does not load cli/rivak.bash-completion"; exit 1; }
sed 's/=$//' "$work/offered" | LC_ALL=C sort -u >"$work/completed"
gap=$(missing "$work/help" "$work/completed")
if [[ -n $gap ]]; then
  echo "FAIL: cli/rivak.bash-completion does not complete: $gap(listed by rivak --help)"
  failures=$((failures + 1))
fi

# In a page: every long option named anywhere, and the short ones that tag
# a paragraph (the line after .TP).
page_options() {
  sed 's/\\-/-/g' "$1" >"$work/page"
  {
    options <"$work/page" | grep -- '^--'
    awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$work/page" | options | grep -vx -- '--.*'
  } | LC_ALL=C sort -u
}
page_options "$src/cli/rivak.1" >"$work/en"
page_options "$src/cli/rivak.ja.1" >"$work/ja"
[[ -s $work/en ]] || { echo "FAIL: no option found in cli/rivak.1"; exit 1; }
gap=$(missing "$work/en" "$work/ja")
if [[ -n $gap ]]; then
  echo "FAIL: cli/rivak.ja.1 does not document: $gap(documented in cli/rivak.1)"
  failures=$((failures + 1))
fi
gap=$(missing "$work/ja" "$work/en")
if [[ -n $gap ]]; then
  echo "FAIL: cli/rivak.ja.1 documents $gap, which cli/rivak.1 does not"
  failures=$((failures + 1))
fi

((failures == 0)) && echo "options agree: $(tr '\n' ' ' <"$work/help")"
((failures == 0))
