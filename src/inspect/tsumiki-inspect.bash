# Bash completion for tsumiki-inspect: its commands, its options and .tsu
# source files.  Installed as bash-completion/completions/tsumiki-inspect.
#
# The first word that is not an option is the command, the second the source
# file; debug takes a third, the program's input, which may be any file, and
# format any number of sources.
# Trace options are offered only while the command is trace or not
# yet given, and each command's own options only after it; after "--" nothing is an option, and only there are names
# starting with "-" offered as files.

_tsumiki_inspect() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local command='' file='' input='' options_end='' word i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -z $options_end && $word == -- ]]; then
            options_end=1
        elif [[ -n $options_end || $word != -?* ]]; then
            if [[ -z $command ]]; then
                command=$word
            elif [[ -z $file ]]; then
                file=$word
            else
                input=$word
            fi
        fi
    done

    COMPREPLY=()
    if [[ -z $options_end && $cur == -* ]]; then
        local options='--sjis --utf8 --help --version'
        case $command in
        '' | trace) options="--parse --lex --emit --run $options" ;;
        list) options="--native --source $options" ;;
        run) options="--engine=native --engine=interpreter --check $options" ;;
        debug | format) options="--check $options" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W 'list trace check run debug compile format' -- "$cur"))
    elif [[ -z $file || $command == format || ( $command == debug && -z $input ) ]]; then
        # The source: .tsu files; debug's input: any file.
        local pattern=tsu
        [[ -z $file || $command == format ]] || pattern=''
        if declare -F _filedir >/dev/null; then
            _filedir $pattern
        else
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            if [[ -n $pattern ]]; then
                COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!*.$pattern" -- "$cur"))
            else
                COMPREPLY=($(compgen -f -- "$cur"))
            fi
        fi
        # Before "--" a name starting with "-" would be taken for an option.
        if [[ -z $options_end ]]; then
            local kept=() name
            for name in "${COMPREPLY[@]}"; do [[ $name == -* ]] || kept+=("$name"); done
            COMPREPLY=("${kept[@]}")
        fi
    fi
}
complete -F _tsumiki_inspect tsumiki-inspect
