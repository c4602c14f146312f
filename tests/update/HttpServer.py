#!/usr/bin/env python3
# The tests' own HTTP server on 127.0.0.1: serves the answers a test scripts, records every request, and
# misbehaves on purpose (cut bodies, slow bodies, huge bodies, no length, ranges).
#
#   HttpServer.py STATE_FOLDER [IDLE_SECONDS]
#
# It binds a port chosen by the system and writes it to STATE_FOLDER/port. It ends on GET /_shutdown, when
# STATE_FOLDER disappears, after IDLE_SECONDS without a request (default 60) or after 15 minutes in all, so
# that it never outlives the test that started it.
#
# Control requests (never recorded), all with "Connection: close" semantics:
#   PUT /_route     header X-Route-Path: the path (no query) to answer; X-Status: the status (200);
#                   X-Header: "Name: value" (repeatable) for the answer; X-Behaviour (see below);
#                   the request body is the answer's body.
#   GET /_count     the number of requests recorded so far, as decimal text.
#   GET /_log/N     request N (from 0): "METHOD PATH QUERY\n", then "Name: value\n" per header, "\n", body.
#   POST /_clear    forgets the recorded requests (the routes stay).
#   GET /_shutdown  answers, then stops the server.
# Behaviours: "truncate:N" announces the whole length but sends N bytes and closes; "slow:CHUNK:MS" sends
# CHUNK bytes every MS milliseconds; "repeat:N" sends the body repeated to N bytes; "nolength" sends no
# Content-Length and closes at the end; "stall:N" sends no Content-Length, the body repeated to N bytes, then
# nothing more while the connection stays open until the client closes it (two minutes at most), a body that
# has not ended; "range" answers "Range: bytes=N-" with 206 and the rest of the body.
# Unknown paths answer 404. A request for a whole URL (the server used as a proxy) is routed by its path.
import http.server
import os
import re
import socket
import sys
import threading
import time

MAX_LIFETIME = 900


class State:
    def __init__(self, folder, idle):
        self.folder = folder
        self.idle = idle
        self.lock = threading.Lock()
        self.routes = {}
        self.log = []
        self.last_activity = time.monotonic()
        self.started = time.monotonic()

    def touch(self):
        self.last_activity = time.monotonic()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TarvexTestServer/1.0"

    def log_message(self, format, *args):
        pass

    def state(self):
        return self.server.state

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def answer(self, status, body, headers=(), close=False):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        state = self.state()
        state.touch()
        target = self.path
        # Asked as a proxy, the request names the whole URL; the route is its path.
        match = re.match(r"^[a-zA-Z]+://[^/]*(/.*)?$", target)
        if match:
            target = match.group(1) or "/"
        path, _, query = target.partition("?")
        body = self.read_body()
        if path.startswith("/_"):
            self.control(path, body)
            return
        with state.lock:
            state.log.append((self.command, path, query, list(self.headers.items()), body))
            route = state.routes.get(path)
        if route is None:
            self.answer(404, b"not found\n", [("Content-Type", "text/plain")])
            return
        try:
            self.serve_route(route)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def serve_route(self, route):
        status, headers, behaviour, body = route
        kind, _, argument = behaviour.partition(":")
        if kind == "repeat":
            size = int(argument)
            body = (body * (size // max(len(body), 1) + 1))[:size] if body else b"\0" * size
        if kind == "range":
            match = re.match(r"bytes=(\d+)-$", self.headers.get("Range", ""))
            if match and int(match.group(1)) < len(body):
                start = int(match.group(1))
                extra = [("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))]
                self.answer(206, body[start:], list(headers) + extra)
                return
        if kind == "stall":
            size = int(argument)
            body = (body * (size // max(len(body), 1) + 1))[:size]
        if kind not in ("truncate", "slow", "nolength", "stall"):
            self.answer(status, body, headers)
            return
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if kind not in ("nolength", "stall"):
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.close_connection = True
        self.end_headers()
        if kind == "truncate":
            self.wfile.write(body[: int(argument)])
        elif kind == "slow":
            chunk, _, delay = argument.partition(":")
            chunk = max(int(chunk), 1)
            for start in range(0, len(body), chunk):
                self.wfile.write(body[start : start + chunk])
                self.wfile.flush()
                self.state().touch()
                time.sleep(int(delay) / 1000.0)
        else:
            self.wfile.write(body)
        self.wfile.flush()
        if kind == "stall":
            self.connection.settimeout(0.25)
            until = time.monotonic() + 120
            while time.monotonic() < until:
                try:
                    if not self.connection.recv(1):
                        break
                except socket.timeout:
                    self.state().touch()

    def control(self, path, body):
        state = self.state()
        if path == "/_route" and self.command == "PUT":
            headers = []
            for line in self.headers.get_all("X-Header") or []:
                name, _, value = line.partition(":")
                headers.append((name.strip(), value.strip()))
            route = (int(self.headers.get("X-Status", "200")), headers, self.headers.get("X-Behaviour", ""), body)
            with state.lock:
                state.routes[self.headers["X-Route-Path"]] = route
            self.answer(200, b"ok", close=True)
        elif path == "/_count":
            with state.lock:
                count = len(state.log)
            self.answer(200, str(count).encode(), close=True)
        elif path.startswith("/_log/"):
            with state.lock:
                index = int(path[len("/_log/") :])
                entry = state.log[index] if index < len(state.log) else None
            if entry is None:
                self.answer(404, b"", close=True)
                return
            method, request_path, query, headers, request_body = entry
            text = "%s %s %s\n" % (method, request_path, query)
            text += "".join("%s: %s\n" % (name, value) for name, value in headers) + "\n"
            self.answer(200, text.encode("latin-1") + request_body, close=True)
        elif path == "/_clear":
            with state.lock:
                state.log.clear()
            self.answer(200, b"ok", close=True)
        elif path == "/_shutdown":
            self.answer(200, b"bye", close=True)
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        else:
            self.answer(400, b"unknown control request", close=True)

    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = do_OPTIONS = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False


def watchdog(server, state):
    while True:
        time.sleep(0.25)
        now = time.monotonic()
        if (
            not os.path.isdir(state.folder)
            or now - state.last_activity > state.idle
            or now - state.started > MAX_LIFETIME
        ):
            server.shutdown()
            return


def main():
    folder = sys.argv[1]
    idle = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    # Started from a test program under Wine, this process holds the test's output pipes; CTest waits for
    # those to close, so they are let go at once and problems go to a file of the state folder instead.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1):
        os.dup2(null, fd)
    errors = os.open(os.path.join(folder, "server.log"), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    os.dup2(errors, 2)
    state = State(folder, idle)
    server = Server(("127.0.0.1", 0), Handler)
    server.state = state
    port_file = os.path.join(folder, "port")
    with open(port_file + ".tmp", "w") as out:
        out.write("%d\n" % server.server_address[1])
    os.replace(port_file + ".tmp", port_file)
    threading.Thread(target=watchdog, args=(server, state), daemon=True).start()
    server.serve_forever(poll_interval=0.1)
    server.server_close()
    try:
        with open(os.path.join(folder, "stopped"), "w") as out:
            out.write("stopped\n")
    except OSError:
        pass


if __name__ == "__main__":
    main()
