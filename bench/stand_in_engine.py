"""A container engine as the program sees one: Docker's API (1.41) on a unix socket.

    /usr/bin/python3 stand_in_engine.py SOCKET CONTAINERS FIRST_PORT

Answers /version, /v1.41/containers/json (CONTAINERS running containers
publishing FIRST_PORT, FIRST_PORT+1, ...) and /v1.41/events (a chunked stream
that stays open; SIGUSR1 sends every stream an event and renames the
containers, as a restart of them would). Prints "ready" once it listens and
removes its socket when it ends (SIGTERM), as dockerd does.
"""

import json
import os
import signal
import socket
import sys
import threading

EVENTS_HEAD = (b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
               b"Transfer-Encoding: chunked\r\n\r\n")


class Engine:
    def __init__(self, path, containers, first_port):
        self.path = path
        self.count = containers
        self.first_port = first_port
        self.generation = 0
        self.streams = []
        self.lock = threading.Lock()

    def listing(self):
        return [{
            "Id": f"{self.generation:04d}{i:060d}",
            "Names": [f"/soak-{self.generation}-{i}"],
            "Image": "busybox:latest",
            "State": "running",
            "Labels": {"com.docker.compose.project": "soak", "com.docker.compose.service": f"s{i}"},
            "Ports": [{"IP": "0.0.0.0", "PrivatePort": 80, "PublicPort": self.first_port + i, "Type": "tcp"}],
        } for i in range(self.count)]

    def reply(self, conn, status, body):
        conn.sendall(b"HTTP/1.1 %d OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n" % (status, len(body)) + body)
        conn.close()

    def serve(self, conn):
        request = b""
        while b"\r\n\r\n" not in request:
            data = conn.recv(4096)
            if not data:
                conn.close()
                return
            request += data
        method, target, _ = request.split(b"\r\n", 1)[0].split(b" ", 2)
        if target == b"/version":
            return self.reply(conn, 200, json.dumps({
                "Version": "20.10.24", "ApiVersion": "1.41", "MinAPIVersion": "1.12",
                "Components": [{"Name": "Engine"}]}).encode())
        if target.startswith(b"/v1.41/events"):
            conn.sendall(EVENTS_HEAD)
            with self.lock:
                self.streams.append(conn)
            return
        if target == b"/v1.41/containers/json":
            with self.lock:
                body = json.dumps(self.listing()).encode()
            return self.reply(conn, 200, body)
        self.reply(conn, 404, b'{"message":"page not found"}')

    def event(self, *_):
        line = b'{"Type":"container","Action":"start"}\n'
        chunk = b"%x\r\n" % len(line) + line + b"\r\n"
        with self.lock:
            self.generation += 1
            for conn in list(self.streams):
                try:
                    conn.sendall(chunk)
                except OSError:
                    self.streams.remove(conn)

    def run(self):
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        if os.path.exists(self.path):
            os.unlink(self.path)
        server.bind(self.path)
        server.listen(16)
        stop = threading.Event()

        def end(*_):
            stop.set()
            server.close()
        signal.signal(signal.SIGTERM, end)
        signal.signal(signal.SIGUSR1, self.event)
        print("ready", flush=True)
        while not stop.is_set():
            try:
                conn, _ = server.accept()
            except OSError:
                break
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()
        try:
            os.unlink(self.path)
        except OSError:
            pass
        with self.lock:
            for conn in self.streams:
                conn.close()


if __name__ == "__main__":
    Engine(sys.argv[1], int(sys.argv[2]), int(sys.argv[3])).run()
