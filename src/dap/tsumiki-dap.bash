# Bash completion for tsumiki-dap: its two options (an editor starts it
# without any).  Installed as bash-completion/completions/tsumiki-dap.

_tsumiki_dap() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
    fi
}
complete -F _tsumiki_dap tsumiki-dap
