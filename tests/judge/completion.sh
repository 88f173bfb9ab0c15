#!/usr/bin/env bash
# Tests the bash completion of tsumiki-judge: sources it into a clean bash,
# fills COMP_WORDS as bash does for a command line, calls the completion
# function and compares COMPREPLY, sorted, with the expected words.  Once
# alone, once under bash-completion (which brings _filedir).
#
#   completion.sh COMPLETION_FILE
set -uo pipefail
completion=$(realpath "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" && mkdir cases class && touch a.tsu b.txt r.jsonl old.json -- -p.tsu

# Every case: the command line up to the cursor, a tab, the words expected.
cases='tsumiki-judge --ca	--cases
tsumiki-judge --cases 	cases class
tsumiki-judge --cases c	cases class
tsumiki-judge --cases cases 	-p.tsu a.tsu cases class
tsumiki-judge --color 	always auto never
tsumiki-judge --steps 	
tsumiki-judge --json r	r.jsonl
tsumiki-judge --i	--ignore-trailing-space
tsumiki-judge --s	--shard --steps
tsumiki-judge m	make-outputs merge
tsumiki-judge d	diff
tsumiki-judge s	similar
tsumiki-judge similar --	--help --html --threshold
tsumiki-judge similar --threshold 	
tsumiki-judge similar --html r	r.jsonl
tsumiki-judge similar 	a.tsu cases class
tsumiki-judge diff 	cases class old.json r.jsonl
tsumiki-judge make-outputs --m	--model
tsumiki-judge make-outputs --model 	-p.tsu a.tsu cases class
tsumiki-judge make-outputs --cases cases 	
tsumiki-judge --feedback 	cases class
tsumiki-judge --csv r	r.jsonl
tsumiki-judge --r	--results-json
tsumiki-judge merge --f	--feedback
tsumiki-judge --p	--playground
tsumiki-judge merge --p	--playground
tsumiki-judge --playground 	
tsumiki-judge merge 	cases class old.json r.jsonl
tsumiki-judge merge --s	--steps --submissions
tsumiki-judge merge --submissions 	cases class
tsumiki-judge --cases cases -- -	-p.tsu'

run_cases() {
    local preamble=$1 failed=0 line expected actual
    while IFS=$'\t' read -r line expected; do
        actual=$(bash --norc --noprofile -c "$preamble"'
            source "$1"
            line=$2
            read -ra COMP_WORDS <<<"$line"
            [[ $line == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
            _tsumiki_judge
            printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "
        ' completion "$completion" "$line")
        # Without "--", a name starting with "-" is not offered.
        [[ $line == *"cases cases "* && $line != *" -- "* ]] && expected=${expected#-p.tsu }
        if [ "$actual" != "$expected" ]; then
            echo "${preamble:-alone}: \"$line\" completes to \"$actual\", expected \"$expected\""
            failed=1
        fi
    done <<<"$cases"
    return $failed
}

failed=0
run_cases "" || failed=1
if [ -f /usr/share/bash-completion/bash_completion ]; then
    run_cases "source /usr/share/bash-completion/bash_completion;" || failed=1
else
    echo "bash-completion is not installed: tested without it only"
fi
registered=$(bash --norc --noprofile -c 'source "$1"; complete -p tsumiki-judge' x "$completion")
[ "$registered" = "complete -F _tsumiki_judge tsumiki-judge" ] || {
    echo "registered as: $registered"; failed=1; }
exit $failed
