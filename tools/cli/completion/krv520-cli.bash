# bash completion for krv520-cli                           -*- shell-script -*-
#
# Printed by "krv520-cli completion bash" and installed where bash-completion
# looks for it. The program works out what fits at the cursor itself, from
# the settings catalogue it carries, and quotes each reply as it must be typed.

_krv520_cli() {
    local program=${COMP_WORDS[0]}
    [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}

    # A shell must never hang on Tab: two seconds at most, spooler included.
    local -a lines
    mapfile -t lines < <(timeout 2 "$program" __complete bash "$COMP_LINE" "$COMP_POINT" \
        ${COMP_WORDBREAKS+"$COMP_WORDBREAKS"} 2>/dev/null)

    COMPREPLY=()
    case ${lines[0]-} in
    files)
        # Readline quotes file names and marks folders itself.
        compopt -o filenames 2>/dev/null
        local strip=${lines[1]-} name
        while IFS= read -r name; do
            COMPREPLY+=("${name#"$strip"}")
        done < <(compgen -f -- "${lines[2]-}")
        ;;
    words*)
        [[ ${lines[0]} == *nospace* ]] && compopt -o nospace 2>/dev/null
        COMPREPLY=("${lines[@]:1}")
        ;;
    esac
    return 0
}

complete -F _krv520_cli krv520-cli
