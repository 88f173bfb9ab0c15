#!/usr/bin/env bash
# Tests the bash completion of tsumiki-inspect: sources it into a clean
# bash, fills COMP_WORDS as bash does for a command line, calls the
# completion function and compares COMPREPLY, sorted, with the expected
# words.  Once alone, once under bash-completion (which brings _filedir).
#
#   completion.sh COMPLETION_FILE
set -uo pipefail
completion=$(realpath "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" && mkdir sub && touch a.tsu c.tsu b.txt -- -p.tsu "my prog.tsu"

# Every case: the command line up to the cursor, a tab, the words expected.
cases='tsumiki-inspect 	check compile debug format list run trace
tsumiki-inspect t	trace
tsumiki-inspect d	debug
tsumiki-inspect --	--emit --help --lex --parse --run --sjis --utf8 --version
tsumiki-inspect --v	--version
tsumiki-inspect --sjis 	check compile debug format list run trace
tsumiki-inspect list --	--help --native --sjis --source --utf8 --version
tsumiki-inspect trace --p	--parse
tsumiki-inspect --emit trace 	a.tsu c.tsu my prog.tsu sub
tsumiki-inspect check a	a.tsu
tsumiki-inspect check my	my prog.tsu
tsumiki-inspect run a.tsu 	
tsumiki-inspect debug 	a.tsu c.tsu my prog.tsu sub
tsumiki-inspect debug a.tsu 	a.tsu b.txt c.tsu my prog.tsu sub
tsumiki-inspect debug a.tsu b	b.txt
tsumiki-inspect debug a.tsu b.txt 	
tsumiki-inspect debug a.tsu --	--check --help --sjis --utf8 --version
tsumiki-inspect debug --c	--check
tsumiki-inspect run a.tsu --	--check --engine=interpreter --engine=native --help --sjis --utf8 --version
tsumiki-inspect format a.tsu 	a.tsu c.tsu my prog.tsu sub
tsumiki-inspect format a.tsu c.tsu --	--check --help --sjis --utf8 --version
tsumiki-inspect trace a.tsu --e	--emit
tsumiki-inspect -- 	check compile debug format list run trace
tsumiki-inspect -- run -	-p.tsu
tsumiki-inspect run -- -	-p.tsu'

run_cases() {
    local preamble=$1 failed=0 line words expected actual
    while IFS=$'\t' read -r line expected; do
        actual=$(bash --norc --noprofile -c "$preamble"'
            source "$1"
            line=$2
            read -ra COMP_WORDS <<<"$line"
            [[ $line == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
            _tsumiki_inspect
            printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "
        ' completion "$completion" "$line")
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
# It registers itself for the command.
registered=$(bash --norc --noprofile -c 'source "$1"; complete -p tsumiki-inspect' x "$completion")
[ "$registered" = "complete -F _tsumiki_inspect tsumiki-inspect" ] || {
    echo "registered as: $registered"; failed=1; }
exit $failed
