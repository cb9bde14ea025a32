#!/bin/sh
# Runs a Podman API service of its own for the real-engine test, as root, in a
# network namespace of its own, with a configuration and storage under the
# given folder (cgroupfs, a file event log, vfs storage: what works without
# systemd):
#   podman_probe.sh start DIR             service up, image "harborwatch-probe:busybox"
#                                         imported; prints the socket's path
#   podman_probe.sh run DIR NAME PORT     a busybox httpd container publishing PORT
#   podman_probe.sh podman DIR ARG...     podman with that configuration
#   podman_probe.sh stop DIR              containers removed, service ended, namespace removed
# "start" exits with 77 and the reason when Podman cannot run containers here.
set -u
cmd=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: $0 start|run|podman|stop DIR ..." >&2; exit 2; }
sock="$dir/podman.sock"
netns="hwpp-$(basename "$dir")"
export CONTAINERS_CONF="$dir/containers.conf" CONTAINERS_STORAGE_CONF="$dir/storage.conf"
podman_() { nsenter --net="/run/netns/$netns" podman "$@"; }
skip() { echo "$*"; exit 77; }
# The sandboxes this runs in have lower hard limits than Podman's defaults.
limits="--ulimit nofile=1024:1024 --ulimit nproc=1024:1024"
image=localhost/harborwatch-probe:busybox

case "$cmd" in
start)
    [ "$(id -u)" = 0 ] || skip "running Podman's service here needs root"
    for tool in podman conmon nsenter ip; do
        command -v "$tool" >/dev/null 2>&1 || skip "no $tool (Debian packages podman, util-linux, iproute2)"
    done
    busybox=/bin/busybox
    if [ ! -x "$busybox" ] || ldd "$busybox" >/dev/null 2>&1; then
        skip "no static busybox (Debian package busybox-static)"
    fi
    mkdir -p "$dir/storage" "$dir/run" "$dir/tmp" "$dir/cni" "$dir/rootfs/bin" "$dir/rootfs/www"
    cat >"$dir/containers.conf" <<EOF
[engine]
cgroup_manager = "cgroupfs"
events_logger = "file"
events_logfile_path = "$dir/events.log"
tmp_dir = "$dir/tmp"
[network]
network_backend = "cni"
network_config_dir = "$dir/cni"
default_subnet = "10.214.0.0/24"
EOF
    cat >"$dir/storage.conf" <<EOF
[storage]
driver = "vfs"
graphroot = "$dir/storage"
runroot = "$dir/run"
EOF
    ip netns add "$netns" 2>/dev/null || skip "no network namespace could be made"
    nsenter --net="/run/netns/$netns" ip link set lo up
    cp "$busybox" "$dir/rootfs/bin/busybox"
    echo "served by busybox in a container" >"$dir/rootfs/www/index.html"
    tar -C "$dir/rootfs" -c . | podman_ import - "$image" >"$dir/import.log" 2>&1 ||
        { "$0" stop "$dir" >/dev/null 2>&1; skip "the image could not be imported: $(tail -n 1 "$dir/import.log")"; }
    # shellcheck disable=SC2086
    if ! podman_ run --rm $limits "$image" /bin/busybox true >"$dir/trial.log" 2>&1; then
        "$0" stop "$dir" >/dev/null 2>&1
        skip "Podman cannot run a container here: $(tail -n 1 "$dir/trial.log")"
    fi
    setsid nsenter --net="/run/netns/$netns" podman system service --time=0 "unix://$sock" \
        >"$dir/service.log" 2>&1 </dev/null &
    echo $! >"$dir/service.pid"
    i=0
    until [ -S "$sock" ]; do
        i=$((i + 1))
        if [ $i -gt 80 ]; then
            "$0" stop "$dir" >/dev/null 2>&1
            skip "Podman's service did not start: $(tail -n 1 "$dir/service.log")"
        fi
        sleep 0.25
    done
    echo "$sock"
    ;;
run)
    # shellcheck disable=SC2086
    podman_ run -d $limits --name "$3" -p "$4:80" "$image" /bin/busybox httpd -f -p 80 -h /www
    ;;
podman)
    shift 2
    podman_ "$@"
    ;;
stop)
    if [ -f "$dir/storage.conf" ]; then
        podman_ rm -f -a -t 0 >/dev/null 2>&1
    fi
    if [ -f "$dir/service.pid" ]; then
        pid=$(cat "$dir/service.pid")
        kill "$pid" 2>/dev/null
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 40 ]; do i=$((i + 1)); sleep 0.25; done
        kill -9 "$pid" 2>/dev/null
        rm -f "$dir/service.pid"
    fi
    ip netns delete "$netns" 2>/dev/null
    true
    ;;
*)
    echo "usage: $0 start|run|podman|stop DIR ..." >&2
    exit 2
    ;;
esac
