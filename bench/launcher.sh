#!/bin/bash
# Runs inside the Wine root (tools/wine-root.sh run) for bench/on_wine.py. It keeps one
# wineserver and the prefix's services up for the whole run, so that the start of a program
# is that program's own start, and starts and ends programs when told on standard input:
#
#   start DIR CPUS WINEDEBUG EXE [ARGS...]
#                                      answers "started PID"; the program runs on the CPUs listed
#                                      (taskset -c), or on any with "-"; its trace goes to our stderr
#   stop PID                           answers "stopped"
#   run DIR EXE [ARGS...]              answers with the program's standard output, then "done"
set -u
export WINEDEBUG=-all
wineserver -p
wineboot
echo ready
while read -r command dir rest; do
    case $command in
    start)
        read -r cpus debug exe args <<<"$rest"
        pin=()
        [ "$cpus" = - ] || pin=(taskset -c "$cpus")
        (cd "$dir" && WINEDEBUG=$debug exec "${pin[@]}" wine "$exe" $args >/dev/null) &
        echo "started $!" ;;
    stop)
        kill -KILL "$dir"
        wait "$dir" 2>/dev/null
        echo stopped ;;
    run)
        (cd "$dir" && wine $rest)
        echo done ;;
    esac
done
wineserver -k
