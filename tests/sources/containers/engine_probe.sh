#!/bin/sh
# Runs a Docker daemon of its own for the real-engine tests, in a network
# namespace of its own (published ports, the bridge and the proxies stay off
# the machine's network) with its data under the given folder:
#   engine_probe.sh start DIR             daemon up, image "harborwatch-probe:busybox" imported;
#                                         prints the namespace's path, then the socket's
#   engine_probe.sh run DIR NAME PORT [OPTION...]
#                                         a busybox httpd container publishing PORT, with
#                                         more `docker run` options (--restart, --stop-timeout)
#   engine_probe.sh docker DIR ARG...     the docker client, talking to that daemon
#   engine_probe.sh down DIR              daemon stopped (SIGTERM: it stops its containers)
#   engine_probe.sh up DIR                daemon started again in the same namespace
#   engine_probe.sh stop DIR              containers removed, daemon stopped, namespace and
#                                         data removed
# "start" exits with 77 and the reason when no daemon can run here.
set -u
cmd=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: $0 start|run|docker|down|up|stop DIR ..." >&2; exit 2; }
sock="$dir/run/docker.sock"
pidfile="$dir/run/docker.pid"
netns="hwp-$(basename "$dir")"
client=/usr/bin/docker
[ -x "$client" ] || client=$(command -v docker 2>/dev/null || true)
docker_() { "$client" -H "unix://$sock" "$@"; }
skip() { echo "$*"; exit 77; }

# The daemon in the namespace, entered with nsenter: `ip netns exec` would
# remount /sys, and dockerd then finds no devices cgroup.
daemon_up() {
    setsid nsenter --net="/run/netns/$netns" dockerd --data-root "$dir/data" \
        --exec-root "$dir/exec" --pidfile "$pidfile" -H "unix://$sock" --storage-driver=vfs \
        --iptables=false --ip-masq=false --ip6tables=false --bip 10.213.0.1/24 \
        --containerd-namespace harborwatch-probe \
        --containerd-plugins-namespace harborwatch-probe-plugins \
        >>"$dir/dockerd.log" 2>&1 </dev/null &
    daemon=$!
    i=0
    until docker_ version >/dev/null 2>&1; do
        i=$((i + 1))
        if [ $i -gt 120 ] || ! kill -0 "$daemon" 2>/dev/null; then
            tail -n 5 "$dir/dockerd.log"
            return 1
        fi
        sleep 0.25
    done
}

daemon_down() {
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null
    # Docker gives its containers 10 s to stop.
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do i=$((i + 1)); sleep 0.2; done
    kill -9 "$pid" 2>/dev/null
    rm -f "$pidfile"
}

case "$cmd" in
start)
    [ "$(id -u)" = 0 ] || skip "starting a Docker daemon needs root"
    for tool in dockerd containerd runc nsenter ip; do
        command -v "$tool" >/dev/null 2>&1 || skip "no $tool (Debian packages docker.io, util-linux, iproute2)"
    done
    [ -n "$client" ] || skip "no docker client (Debian package docker.io)"
    # The image holds nothing but busybox, so it must need no libraries.
    busybox=/bin/busybox
    if [ ! -x "$busybox" ] || ldd "$busybox" >/dev/null 2>&1; then
        skip "no static busybox (Debian package busybox-static)"
    fi
    mkdir -p "$dir/run" "$dir/data" "$dir/exec" "$dir/rootfs/bin" "$dir/rootfs/www" "$dir/project"
    ip netns add "$netns" 2>/dev/null || skip "no network namespace could be made"
    nsenter --net="/run/netns/$netns" ip link set lo up
    if ! daemon_up; then
        "$0" stop "$dir" >/dev/null 2>&1
        skip "the Docker daemon did not start"
    fi
    cp "$busybox" "$dir/rootfs/bin/busybox"
    echo "served by busybox in a container" >"$dir/rootfs/www/index.html"
    tar -C "$dir/rootfs" -c . | docker_ import - harborwatch-probe:busybox >/dev/null ||
        skip "the image could not be imported"
    echo "/run/netns/$netns"
    echo "$sock"
    ;;
run)
    name=$3
    port=$4
    shift 4
    docker_ run -d --name "$name" -p "$port:80" \
        -l com.docker.compose.project=probe -l com.docker.compose.service=web \
        -l "com.docker.compose.project.working_dir=$dir/project" "$@" \
        harborwatch-probe:busybox /bin/busybox httpd -f -p 80 -h /www
    ;;
docker)
    shift 2
    docker_ "$@"
    ;;
down)
    daemon_down
    ;;
up)
    daemon_up
    ;;
stop)
    if [ -S "$sock" ]; then
        ids=$(docker_ ps -aq 2>/dev/null)
        [ -z "$ids" ] || docker_ rm -f $ids >/dev/null 2>&1
    fi
    daemon_down
    ip netns delete "$netns" 2>/dev/null
    rm -rf "$dir/data" "$dir/exec" 2>/dev/null
    true
    ;;
*)
    echo "usage: $0 start|run|docker|down|up|stop DIR ..." >&2
    exit 2
    ;;
esac
