# fish completion for quillet

# The task numbers `quillet --list` (or `--list --recycled` with
# "recycled") prints first on each task line, the rest of the line as the
# description, of the list the command line names with --file.
function __quillet_numbers
    set -l list --list
    contains -- recycled $argv; and set -a list --recycled
    set -l tokens (commandline -opc)
    for i in (seq 2 (count $tokens))
        set -l file
        switch $tokens[$i]
            case --file
                set -l next (math $i + 1)
                test $next -le (count $tokens); and set file $tokens[$next]
            case '--file=*'
                set file (string replace -- --file= '' $tokens[$i])
        end
        test -n "$file"; and set -a list --file $file
    end
    quillet $list 2>/dev/null | string replace -rf '^\s*(\d+)\s+(.*)$' '$1\t$2'
end

function __quillet_when
    printf '%s\n' today tomorrow monday tuesday wednesday thursday friday saturday sunday +1 +7 (date +%F)
end

complete -c quillet -f
complete -c quillet -l show-all -d 'Open the task list, whatever is due'
complete -c quillet -l remind -d 'Stay in the background and notify each task when due'
complete -c quillet -l file -r -F -d 'Use the task file PATH, or PATH/tasks.txt'
complete -c quillet -l list -d 'Print the current tasks'
complete -c quillet -l recycled -d 'With --list, print the recycled tasks instead'
complete -c quillet -l json -d 'With --list, print the tasks as JSON'
complete -c quillet -l add -x -d 'Add a task'
complete -c quillet -l due -x -a '(__quillet_when)' -d 'When the task is due'
complete -c quillet -l for -x -d 'Whom the task is for'
complete -c quillet -l note -x -d "The task's description"
complete -c quillet -l done -x -a '(__quillet_numbers)' -d 'Recycle a task'
complete -c quillet -l restore -x -a '(__quillet_numbers recycled)' -d 'Restore a recycled task'
complete -c quillet -l delete -x -a '(__quillet_numbers recycled)' -d 'Delete a recycled task for good'
complete -c quillet -l edit -x -a '(__quillet_numbers)' -d 'Change the given fields of a task'
complete -c quillet -l title -x -d 'With --edit, the new title'
complete -c quillet -l due-within -x -d 'With --list, the tasks due within N days'
complete -c quillet -l overdue -d 'With --list, the overdue tasks'
complete -c quillet -l week -d 'Print the next seven days grouped by day'
complete -c quillet -l wide -d 'Print titles whole'
complete -c quillet -l export-ics -r -F -d 'Write the tasks to an iCalendar file'
complete -c quillet -l import-ics -r -F -d 'Add the to-dos of an iCalendar file'
complete -c quillet -l sync -d 'Synchronise with the calendar server'
complete -c quillet -l sync-setup -x -d 'Set up synchronisation with a server URL'
complete -c quillet -l user -x -d 'The user name on the server'
complete -c quillet -l calendar -x -d 'The calendar on the server'
complete -c quillet -l password-command -x -a '(__fish_complete_command)' -d 'The command that prints the password'
complete -c quillet -s h -l help -d 'Display the help and exit'
complete -c quillet -l version -d 'Output version information and exit'
