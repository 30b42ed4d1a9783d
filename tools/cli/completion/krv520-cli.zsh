#compdef krv520-cli
# zsh completion for krv520-cli
#
# Printed by "krv520-cli completion zsh"; needs compinit. The program works
# out what fits at the cursor itself, from the settings catalogue it
# carries; zsh quotes what it inserts.

_krv520-cli() {
    local -a before lines suffix
    before=("${(@Q)words[2,CURRENT-1]}")
    # A shell must never hang on Tab: two seconds at most, spooler included.
    lines=("${(@f)$(timeout 2 ${(Q)words[1]} __complete words "${before[@]}" "${(Q)PREFIX}" 2>/dev/null)}")
    case $lines[1] in
    files)
        [[ -n $lines[2] ]] && compset -P '*='
        _files
        ;;
    words*)
        [[ $lines[1] == *nospace* ]] && suffix=(-S '')
        compadd "${suffix[@]}" -- "${(@)lines[2,-1]}"
        ;;
    esac
}

if [[ $funcstack[1] == _krv520-cli ]]; then
    _krv520-cli "$@"
else
    compdef _krv520-cli krv520-cli
fi
