# fish completion for harborwatch(1)

# The ports of the servers harborwatch lists now, with their process names,
# for the --all, --range and --host given on the line so far.
function __harborwatch_ports
    set -l words (commandline -opc)
    set -l scope
    contains -- --all $words; and set -a scope --all
    set -l at (contains -i -- --range $words)
    and set -a scope --range $words[(math $at + 1)]
    set -l host (contains -i -- --host $words)
    and set -a scope --host $words[(math $host + 1)]
    harborwatch --list $scope 2>/dev/null | awk 'NR > 1 && $1 ~ /^[0-9]+$/ { print $1 "\t" $3 }'
end

complete -c harborwatch -f
complete -c harborwatch -l list -d 'Print the servers as a table, or as JSON with --json'
complete -c harborwatch -l watch -d 'Print a line for each server that starts or stops'
complete -c harborwatch -l stop -x -a '(__harborwatch_ports)' -d 'Stop the server listed on PORT with SIGTERM'
complete -c harborwatch -l json -d 'Print JSON'
complete -c harborwatch -l all -d 'Every listening TCP port, whatever the stored range and allowlist'
complete -c harborwatch -l range -x -d 'Ports LO to HI instead of the stored range'
complete -c harborwatch -l initial -d 'With --watch: first print the servers already running'
complete -c harborwatch -l force -d 'With --stop: send SIGKILL instead of SIGTERM'
complete -c harborwatch -l host -x -a '(__fish_print_hostnames)' -d 'The servers of an SSH destination instead of this machine\'s'
complete -c harborwatch -l forward -x -d 'With --host: forward PORT[:LOCAL] here and hold it'
complete -c harborwatch -s h -l help -d 'Print the options'
complete -c harborwatch -l help-all -d 'Print the options'
complete -c harborwatch -s v -l version -d 'Print the version'
