# bash completion for mvhost and mvbank. The words come from the commands' own help, so they
# follow the program that is installed: subcommands after the command, a subcommand's options
# after a dash, file names otherwise.

_mvhost() {
    local cur=${COMP_WORDS[COMP_CWORD]} cmd=${COMP_WORDS[0]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        local subs
        subs=$("$cmd" --help 2>/dev/null | sed -n '/^Subcommands:/,$p' | sed -n 's/^  \([a-z0-9-]*\) .*/\1/p')
        COMPREPLY=($(compgen -W "$subs --help --version" -- "$cur"))
        return
    fi
    if [ "${cur#-}" != "$cur" ]; then
        local opts
        opts=$("$cmd" help "${COMP_WORDS[1]}" 2>/dev/null | grep -o -- '--[a-z0-9-]*' | sort -u)
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

_mvbank() {
    local cur=${COMP_WORDS[COMP_CWORD]} cmd=${COMP_WORDS[0]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$("$cmd" --help 2>/dev/null | sed -n 's/^\(usage:\)\{0,1\} *mvbank \([a-z]*\) .*/\2/p') --help --version" -- "$cur"))
        return
    fi
    if [ "${cur#-}" != "$cur" ]; then
        COMPREPLY=($(compgen -W "$("$cmd" --help 2>/dev/null | grep -o -- '--[a-z0-9-]*' | sort -u) -o" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -F _mvhost mvhost
complete -o filenames -F _mvbank mvbank
