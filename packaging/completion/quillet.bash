# bash completion for quillet                              -*- shell-script -*-

# The task numbers `quillet --list` (or `--list --recycled` with
# "recycled") prints first on each task line, of the list the command line
# names with --file.
_quillet_numbers()
{
    local -a list=(--list)
    [[ ${1-} == recycled ]] && list+=(--recycled)
    local i file
    for ((i = 1; i < ${#COMP_WORDS[@]} - 1; i++)); do
        file=
        case ${COMP_WORDS[i]} in
            --file) file=${COMP_WORDS[i + 1]} ;;
            --file=*) file=${COMP_WORDS[i]#--file=} ;;
        esac
        [[ $file == \~/* ]] && file=$HOME/${file#\~/}
        [[ -n $file ]] && list+=(--file "$file")
    done
    quillet "${list[@]}" 2> /dev/null | awk '$1 ~ /^[0-9]+$/ { print $1 }'
}

_quillet()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --file)
            _filedir
            return
            ;;
        --export-ics | --import-ics)
            _filedir '@(ics|ICS)'
            return
            ;;
        --due)
            local -a when=(today tomorrow monday tuesday wednesday thursday friday
                saturday sunday +1 +7 "$(date +%F)")
            COMPREPLY=($(compgen -W '"${when[@]}"' -- "$cur"))
            return
            ;;
        --done | --edit)
            COMPREPLY=($(compgen -W '$(_quillet_numbers)' -- "$cur"))
            return
            ;;
        --restore | --delete)
            COMPREPLY=($(compgen -W '$(_quillet_numbers recycled)' -- "$cur"))
            return
            ;;
        --password-command)
            COMPREPLY=($(compgen -c -- "$cur"))
            return
            ;;
        --add | --title | --for | --note | --due-within | --sync-setup | --user | --calendar)
            # Free text: nothing to offer.
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--show-all --remind --file --list --recycled --json
            --add --due --for --note --done --restore --delete --edit --title
            --due-within --overdue --week --wide --export-ics --import-ics --sync
            --sync-setup --user --calendar --password-command --help --version' -- "$cur"))
    fi
} &&
    complete -F _quillet quillet

# ex: filetype=sh
