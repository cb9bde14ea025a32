#!/usr/bin/env python3
"""Servers for the port look tests, each on a loopback port of its own.

    servers.py MODE [ARGUMENTS]

Prints the port it listens on as the first line of its output, then serves
until it is terminated. MODE is one of:

    https CERT KEY FOLDER  HTTPS, serving FOLDER's files
    silent                 takes connections and never sends a byte
    banner                 greets every connection as a mail server does
    garbage                answers every connection with binary noise
    trickle                sends a page's head at once, then a byte every 0.1 s
    redirect               302 to /login, setting a cookie; the title tells the
                           Cookie header it got ("-" for none)
    auth                   401 asking for Basic credentials; the title tells
                           the Authorization header it got
"""
import http.server
import random
import socket
import ssl
import sys
import threading
import time


def listener():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    return server


def announce(port):
    print(port, flush=True)


def serve_raw(handle):
    """Accepts connections and hands each to `handle` on a thread of its own."""
    server = listener()
    announce(server.getsockname()[1])
    held = []
    while True:
        connection, _ = server.accept()
        held.append(connection)  # kept open until the server ends
        threading.Thread(target=handle, args=(connection,), daemon=True).start()


def silent(connection):
    pass


def banner(connection):
    connection.sendall(b"220 mail.example.test ESMTP ready\r\n")


def garbage(connection):
    noise = random.Random(7).randbytes(4096)
    try:
        connection.recv(4096)
        connection.sendall(noise)
    except OSError:
        pass


def trickle(connection):
    try:
        connection.recv(65536)
        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"
                           b"<html><head><title>")
        while True:
            time.sleep(0.1)
            connection.sendall(b"x")
    except OSError:
        pass


class Answers(http.server.BaseHTTPRequestHandler):
    mode = ""

    def do_GET(self):
        if self.mode == "redirect":
            told = self.headers.get("Cookie", "-")
            self.send_response(302)
            self.send_header("Location", "/login?next=%2F")
            self.send_header("Set-Cookie", "session=secret; Path=/")
        else:
            told = self.headers.get("Authorization", "-")
            self.send_response(401)
            self.send_header("WWW-Authenticate", 'Basic realm="shop"')
        page = f"<html><head><title>{self.mode} {told}</title></head></html>".encode()
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    def log_message(self, *arguments):
        pass


def main():
    mode = sys.argv[1]
    if mode == "https":
        certificate, key, folder = sys.argv[2:5]

        class Files(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *arguments, **options):
                super().__init__(*arguments, directory=folder, **options)

            def log_message(self, *arguments):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Files)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
        announce(server.server_address[1])
        server.serve_forever()
    elif mode in ("redirect", "auth"):
        Answers.mode = mode
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Answers)
        announce(server.server_address[1])
        server.serve_forever()
    else:
        serve_raw({"silent": silent, "banner": banner, "garbage": garbage,
                   "trickle": trickle}[mode])


if __name__ == "__main__":
    main()
