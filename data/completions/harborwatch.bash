# bash completion for harborwatch(1)

# The ports of the servers harborwatch lists now (its table's first column),
# for the --all, --range and --host given on the line so far.
_harborwatch_ports() {
    harborwatch --list "$@" 2>/dev/null | awk 'NR > 1 && $1 ~ /^[0-9]+$/ { print $1 }'
}

_harborwatch() {
    local cur prev i
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        --stop)
            local scope=()
            for ((i = 1; i < COMP_CWORD - 1; i++)); do
                case "${COMP_WORDS[i]}" in
                    --all) scope+=(--all) ;;
                    --range) scope+=(--range "${COMP_WORDS[i+1]}") ;;
                    --host) scope+=(--host "${COMP_WORDS[i+1]}") ;;
                esac
            done
            mapfile -t COMPREPLY < <(compgen -W "$(_harborwatch_ports "${scope[@]}")" -- "$cur")
            return 0
            ;;
        --host)
            # The hosts of ~/.ssh/config and known_hosts, as ssh completes them.
            if declare -F _known_hosts_real >/dev/null; then
                _known_hosts_real -- "$cur"
            fi
            return 0
            ;;
        --range | --forward)
            return 0
            ;;
    esac
    local options="--list --watch --stop --json --all --range --initial --force --host --forward --help --help-all --version"
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return 0
}
complete -F _harborwatch harborwatch
