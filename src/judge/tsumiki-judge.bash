# Bash completion for tsumiki-judge: its options, the values of those that
# take one, and what its operands are: .tsu files and folders of them, or
# after "merge" and "diff" the JSON reports (.jsonl, .json), none after
# "make-outputs"; "similar" takes submissions and options of its own.
# Installed as bash-completion/completions/tsumiki-judge.
#
# After "--" nothing is an option, and only there are names starting with
# "-" offered as files.

_tsumiki_judge_files() { # CUR [SUFFIX...]: folders, and the files with these suffixes
    local cur=$1 suffix
    shift
    if declare -F _filedir >/dev/null; then
        if (($#)); then
            local IFS='|'
            _filedir "@($*)"
        else
            _filedir -d
        fi
        return
    fi
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur"))
    for suffix in "$@"; do
        COMPREPLY+=($(compgen -f -X "!*.$suffix" -- "$cur"))
    done
}

_tsumiki_judge() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=''
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local merge='' options_end='' word i
    local command=''
    ((COMP_CWORD > 1)) && command=${COMP_WORDS[1]-}
    [[ $command == merge || $command == diff ]] && merge=1
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && options_end=1
    done

    COMPREPLY=()
    if [[ -z $options_end ]]; then
        case $prev in
        --cases | --submissions | --feedback) _tsumiki_judge_files "$cur"; return ;;
        --model) _tsumiki_judge_files "$cur" tsu; return ;;
        --json | --junit | --html | --csv | --results-json)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --color) COMPREPLY=($(compgen -W 'auto always never' -- "$cur")); return ;;
        --steps | --output-limit | --jobs | --shard | --threshold | --playground) return ;;
        esac
        if [[ $cur == -* ]]; then
            local options='--cases --model --steps --output-limit --ignore-trailing-space --jobs
                           --shard --json --junit --csv --results-json --html --feedback
                           --playground --color --help --version'
            [[ $command == merge ]] && options='--cases --submissions --steps --output-limit
                                        --ignore-trailing-space --jobs --json --junit --csv
                                        --results-json --html --feedback --playground
                                        --color --help'
            [[ $command == make-outputs ]] && options='--model --cases --steps --output-limit
                                                       --jobs --help'
            [[ $command == diff ]] && options='--help'
            [[ $command == similar ]] && options='--threshold --html --help'
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
            return
        fi
    fi
    if [[ -n $merge ]]; then
        _tsumiki_judge_files "$cur" jsonl json
    elif [[ $command == make-outputs ]]; then
        return
    else
        _tsumiki_judge_files "$cur" tsu
        ((COMP_CWORD == 1)) && [[ -z $options_end ]] &&
            COMPREPLY+=($(compgen -W 'merge make-outputs diff similar' -- "$cur"))
    fi
    # Before "--" a name starting with "-" would be taken for an option.
    if [[ -z $options_end ]]; then
        local kept=() name
        for name in "${COMPREPLY[@]}"; do [[ $name == -* ]] || kept+=("$name"); done
        COMPREPLY=("${kept[@]}")
    fi
}
complete -F _tsumiki_judge tsumiki-judge
