#!/bin/sh
# Runs a Docker daemon of its own for the real-engine test, in a network
# namespace of its own (published ports and the bridge stay off the machine's
# network) with its data under the given folder:
#   engine_probe.sh start DIR             daemon up, image "harborwatch-probe:busybox" imported
#   engine_probe.sh run DIR NAME PORT     a busybox httpd container publishing PORT
#   engine_probe.sh stop DIR              containers removed, daemon stopped, data removed
# "start" exits with 77 and the reason when no daemon can run here.
set -u
cmd=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: $0 start|run|stop DIR ..." >&2; exit 2; }
sock="$dir/run/docker.sock"
pidfile="$dir/run/docker.pid"
client=/usr/bin/docker
[ -x "$client" ] || client=$(command -v docker 2>/dev/null || true)
docker_() { "$client" -H "unix://$sock" "$@"; }
skip() { echo "$*"; exit 77; }

case "$cmd" in
start)
    [ "$(id -u)" = 0 ] || skip "starting a Docker daemon needs root"
    for tool in dockerd containerd runc unshare; do
        command -v "$tool" >/dev/null 2>&1 || skip "no $tool (Debian packages docker.io, util-linux)"
    done
    [ -n "$client" ] || skip "no docker client (Debian package docker.io)"
    # The image holds nothing but busybox, so it must need no libraries.
    busybox=/bin/busybox
    if [ ! -x "$busybox" ] || ldd "$busybox" >/dev/null 2>&1; then
        skip "no static busybox (Debian package busybox-static)"
    fi
    mkdir -p "$dir/run" "$dir/data" "$dir/exec" "$dir/rootfs/bin" "$dir/rootfs/www" "$dir/project"
    # The daemon in a network namespace of its own: its bridge and proxies
    # exist there only, and the namespace ends with it.
    setsid unshare --net sh -c '
        command -v ip >/dev/null && ip link set lo up
        exec dockerd --data-root "$1/data" --exec-root "$1/exec" --pidfile "$1/run/docker.pid" \
            -H "unix://$1/run/docker.sock" --storage-driver=vfs --iptables=false \
            --ip-masq=false --ip6tables=false --bip 10.213.0.1/24 \
            --containerd-namespace harborwatch-probe \
            --containerd-plugins-namespace harborwatch-probe-plugins' sh "$dir" \
        >"$dir/dockerd.log" 2>&1 </dev/null &
    daemon=$!
    i=0
    until docker_ version >/dev/null 2>&1; do
        i=$((i + 1))
        if [ $i -gt 120 ] || ! kill -0 "$daemon" 2>/dev/null; then
            tail -n 5 "$dir/dockerd.log"
            "$0" stop "$dir" >/dev/null 2>&1
            skip "the Docker daemon did not start"
        fi
        sleep 0.25
    done
    cp "$busybox" "$dir/rootfs/bin/busybox"
    echo "served by busybox in a container" >"$dir/rootfs/www/index.html"
    tar -C "$dir/rootfs" -c . | docker_ import - harborwatch-probe:busybox >/dev/null ||
        skip "the image could not be imported"
    echo "$sock"
    ;;
run)
    name=$3
    port=$4
    docker_ run -d --name "$name" -p "$port:80" \
        -l com.docker.compose.project=probe -l com.docker.compose.service=web \
        -l "com.docker.compose.project.working_dir=$dir/project" \
        harborwatch-probe:busybox /bin/busybox httpd -f -p 80 -h /www
    ;;
stop)
    if [ -S "$sock" ]; then
        ids=$(docker_ ps -aq 2>/dev/null)
        [ -z "$ids" ] || docker_ rm -f $ids >/dev/null 2>&1
    fi
    if [ -f "$pidfile" ]; then
        pid=$(cat "$pidfile")
        kill "$pid" 2>/dev/null
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 80 ]; do i=$((i + 1)); sleep 0.25; done
        kill -9 "$pid" 2>/dev/null
    fi
    rm -rf "$dir/data" "$dir/exec" 2>/dev/null
    true
    ;;
*)
    echo "usage: $0 start|run|stop DIR ..." >&2
    exit 2
    ;;
esac
