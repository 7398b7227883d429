#!/bin/sh
# Writes the manual page and the bash completion of a program from its own --help texts, so
# that neither can disagree with the program: PROGRAM help lists the commands, and
# PROGRAM COMMAND --help gives each command's synopsis, options and text.
#   help-pages.sh PROGRAM NAME VERSION OUTDIR   ->  OUTDIR/NAME.1 and OUTDIR/NAME.bash
set -eu
program=$1 name=$2 version=$3 out=$4

main_help=$("$program" help)
# The command words: the "Commands:" section's entries, except help and options.
commands=$(printf '%s\n' "$main_help" | awk '
    /^Commands:/ { inside = 1; next }
    inside && /^$/ { exit }
    inside && $1 !~ /^-/ && $1 != "help" { print $1 }')

# Help text (stdin) -> roff. Usage lines become a no-fill synopsis, "  --option ARG  text"
# entries and "  word  text" command entries become tagged paragraphs, blank lines new ones.
to_roff() {
    awk '
    function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); return s }
    function line(s) { s = esc(s); if (s ~ /^[.'"'"']/) s = "\\&" s; print s }
    /^Usage: / { print ".nf"; line(substr($0, 8)); usage = 1; next }
    usage && /^ +[^ ]/ { sub(/^ +/, "    "); line($0); next }
    usage { print ".fi"; usage = 0 }
    /^$/ { print ".PP"; entry = 0; next }
    /^  [^ ]/ && match(substr($0, 3), /   */) {
        tag = substr($0, 3, RSTART - 1); text = substr($0, RSTART + RLENGTH + 2)
        print ".TP"
        split(tag, word, " ")
        rest = substr(tag, length(word[1]) + 1)
        print "\\fB" esc(word[1]) "\\fR" esc(rest)
        line(text); entry = 1; next
    }
    entry && /^   +[^ ]/ { sub(/^ +/, ""); line($0); next }
    /^[A-Z][a-z]+:$/ { print ".SS " esc(substr($0, 1, length($0) - 1)); next }
    { entry = 0; line($0) }
    END { if (usage) print ".fi" }'
}

upper=$(printf '%s' "$name" | tr '[:lower:]-' '[:upper:]_')
summary=$(printf '%s\n' "$main_help" | awk 'NR > 1 && /^$/ { getline; print; exit }')
{
    printf '.TH %s 1 "" "%s %s" "User Commands"\n' "$upper" "$name" "$version"
    printf '.SH NAME\n%s \\- %s\n' "$name" "$(printf '%s' "$summary" | sed 's/-/\\-/g')"
    printf '.SH SYNOPSIS\n'
    printf '%s\n' "$main_help" | awk '/^$/ { exit } { print }' | to_roff
    printf '.SH DESCRIPTION\n'
    printf '%s\n' "$main_help" | awk 'NR > 1 && /^$/ { found = 1 } found { print }' \
        | awk 'NR > 2' | to_roff
    printf '.SH COMMANDS\n'
    for command in $commands; do
        printf '.SS %s\n' "$command"
        "$program" "$command" --help | to_roff
    done
} >"$out/$name.1"

# Completion: command words first, then each command's options; an option whose synopsis
# lists its answers (--overwrite yes|no|ask) completes them, other words complete as paths.
function_name=_$(printf '%s' "$name" | tr -c '[:alnum:]\n' '_')
{
    printf '# bash completion for %s, written from its --help texts\n' "$name"
    printf '%s() {\n' "$function_name"
    printf '    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n'
    printf '    if [ "$COMP_CWORD" -eq 1 ]; then\n'
    printf '        COMPREPLY=($(compgen -W "%s help --help --version" -- "$cur"))\n' "$(echo $commands)"
    printf '        return\n    fi\n'
    printf '    local options= answers=\n'
    printf '    case ${COMP_WORDS[1]} in\n'
    for command in $commands; do
        command_help=$("$program" "$command" --help)
        options=$(printf '%s\n' "$command_help" | grep -o -- '--[a-z][a-z-]*' | sort -u | tr '\n' ' ')
        printf '        %s)\n' "$command"
        printf '            options="%s"\n' "${options% }"
        printf '%s\n' "$command_help" | grep -o -- '--[a-z][a-z-]* [a-z0-9-]*|[a-z0-9|-]*' | sort -u |
            while read -r option list; do
                printf '            [ "$prev" = %s ] && answers="%s"\n' "$option" "$(printf '%s' "$list" | tr '|' ' ')"
            done
        printf '            ;;\n'
    done
    printf '    esac\n'
    printf '    if [ -n "$answers" ]; then\n'
    printf '        COMPREPLY=($(compgen -W "$answers" -- "$cur"))\n'
    printf '    elif [[ $cur == -* ]]; then\n'
    printf '        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))\n'
    printf '    fi\n'
    printf '}\n'
    printf 'complete -o default -o bashdefault -F %s %s\n' "$function_name" "$name"
} >"$out/$name.bash"
