#!/bin/bash
# bash_complete.sh DATA_DIR WORD...: prints, one a line, what bash completes
# for the command line "rivak WORD..." (the cursor after the last WORD), with
# rivak's completion loaded by bash-completion from
# DATA_DIR/bash-completion/completions, as an installed package has it
# found under /usr/share. Exit status 3 when no completion is found there.
set -u
data=$1
shift
export XDG_DATA_DIRS=$data BASH_COMPLETION_USER_DIR=/nonexistent
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || exit 3
__load_completion rivak || exit 3
registered=$(complete -p rivak 2>/dev/null) || exit 3
[[ $registered =~ -F\ ([^ ]+) ]] || exit 3
function=${BASH_REMATCH[1]}
# compopt works only while bash itself completes; what it sets is not asked for here.
compopt() { :; }

# The words as bash hands them over: COMP_WORDBREAKS makes "=" a word of
# its own ("--readonly=c" arrives as "--readonly" "=" "c").
COMP_WORDS=(rivak)
for w in "$@"; do
  if [[ $w == *=* ]]; then
    COMP_WORDS+=("${w%%=*}" "=" "${w#*=}")
  else
    COMP_WORDS+=("$w")
  fi
done
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
COMP_LINE="rivak $*"
COMP_POINT=${#COMP_LINE}
COMPREPLY=()
"$function" rivak "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}"
exit 0
