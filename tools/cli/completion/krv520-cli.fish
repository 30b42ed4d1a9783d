# fish completion for krv520-cli
#
# Printed by "krv520-cli completion fish". The program works out what fits at
# the cursor itself, from the settings catalogue it carries; fish quotes what
# it inserts.

function __krv520_cli_complete
    set -l before (commandline -opc)
    set -l current (commandline -ct | string unescape)
    # A shell must never hang on Tab: two seconds at most, spooler included.
    set -l lines (timeout 2 $before[1] __complete words $before[2..-1] "$current" 2>/dev/null)
    switch "$lines[1]"
        case files
            for path in (__fish_complete_path "$lines[3]")
                printf '%s%s\n' "$lines[2]" "$path"
            end
        case 'words*'
            printf '%s\n' $lines[2..-1]
    end
end

complete -c krv520-cli -f -a '(__krv520_cli_complete)'
