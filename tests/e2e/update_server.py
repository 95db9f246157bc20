"""A small threaded HTTP/1.1 update server for tests, with injectable faults.

    srv = UpdateServer(root_dir)        # files under root_dir are served below /update/
    srv.start()
    srv.url                              # "http://127.0.0.1:PORT/update/"
    srv.fault("manifest.json", drop=2)   # close the connection twice without answering
    srv.fault("chunks/*", status=404)    # '*' at the end matches a prefix
    srv.fault("x.bin", status=500, times=1)
    srv.fault("x.bin", delay=1.5)        # seconds before answering
    srv.fault("x.bin", truncate=100)     # full Content-Length, 100 bytes, then close
    srv.fault("x.bin", truncate=100, times=1)   # cut short once, then served whole
    srv.fault("x.bin", alter=True)       # flip one byte (or alter=offset)
    srv.fault("x.bin", body=b"...")      # serve these bytes instead of the file
    srv.fault("x.bin", trickle=(100, 0.5))   # the body 100 bytes at a time, 0.5 s apart
    srv.fault("*", redirect=other.url)   # 302 to the same path below another base URL
    srv.fault("x.bin", redirect=srv.url, times=5)   # five hops to itself, then the file
    srv.requests                         # [(path with query, monotonic time), ...]
    srv.sent                             # [(monotonic time, body bytes)] of each write
    srv.stop()

Fault paths are relative to the base URL (or absolute, starting with '/') and
never include the query. Counted faults (drop, and a fault with `times`) are
counted per requested path, so "chunks/*" with drop=1 drops every piece once.
After its `times` requests (following the drops) a fault is spent and the
file is served as it is.
"""
import socket
import ssl
import threading
import time
from collections import namedtuple
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import unquote

Request = namedtuple("Request", "method path time user_agent headers")

BASE = "/update/"


class Fault:
    def __init__(self, drop=0, status=None, times=None, delay=0.0, truncate=None, alter=None, body=None,
                 trickle=None, redirect=None):
        self.drop = drop
        self.status = status
        self.times = times
        self.delay = delay
        self.truncate = truncate
        self.alter = alter
        self.body = body
        self.trickle = trickle
        self.redirect = redirect


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "tarnwick-test-server"

    def setup(self):
        super().setup()
        # Headers and body leave in separate writes; without this every answer
        # on a kept-alive connection waits about 40 ms for the client's
        # delayed acknowledgement.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_message(self, fmt, *args):  # keep test output quiet
        pass

    def do_GET(self):
        self.server.owner._serve(self, head=False)

    def do_HEAD(self):
        self.server.owner._serve(self, head=True)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


class UpdateServer:
    def __init__(self, root_dir, base=BASE, tls=None, host="127.0.0.1"):
        """tls: (certificate file, key file) to serve https instead of http;
        host: the loopback address to listen on (127.0.0.2 is another host)."""
        self.host = host
        self.root = Path(root_dir)
        self.root.mkdir(parents=True, exist_ok=True)
        self.base = base if base.endswith("/") else base + "/"
        self._lock = threading.Lock()
        self._faults = {}       # pattern -> Fault
        self._counts = {}       # (pattern, path) -> times this fault fired
        self._log = []
        self._httpd = None
        self._thread = None
        self._tls = tls
        self._sent = []

    # ---- life cycle
    def start(self):
        self._httpd = _Server((self.host, 0), _Handler)
        self._httpd.owner = self
        if self._tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*map(str, self._tls))
            self._httpd.socket = context.wrap_socket(self._httpd.socket, server_side=True)
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.05},
                                        daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._httpd:
            self._httpd.shutdown()
            self._httpd.server_close()
            self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._httpd.server_address[1]

    @property
    def url(self):
        return "%s://%s:%d%s" % ("https" if self._tls else "http", self.host, self.port, self.base)

    # ---- content
    def put(self, rel_path, data: bytes):
        """Writes a file below the served root; returns its Path."""
        path = self.root / rel_path
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    # ---- faults
    def _key(self, path):
        return path if path.startswith("/") else self.base + path

    def fault(self, path, **kwargs):
        with self._lock:
            key = self._key(path)
            self._faults[key] = Fault(**kwargs)
            for k in [k for k in self._counts if k[0] == key]:
                del self._counts[k]

    def clear_fault(self, path):
        with self._lock:
            self._faults.pop(self._key(path), None)

    def clear_faults(self):
        with self._lock:
            self._faults.clear()
            self._counts.clear()

    def _match(self, path):
        if path in self._faults:
            return path, self._faults[path]
        best = None
        for pattern, fault in self._faults.items():
            if pattern.endswith("*") and path.startswith(pattern[:-1]):
                if best is None or len(pattern) > len(best[0]):
                    best = (pattern, fault)
        return best if best else (None, None)

    # ---- request log
    @property
    def requests(self):
        """[(path with query, monotonic time)] in arrival order."""
        with self._lock:
            return [(r.path, r.time) for r in self._log]

    @property
    def request_log(self):
        with self._lock:
            return list(self._log)

    def requests_for(self, path):
        """Times of the requests whose path (query stripped) is `path`."""
        key = self._key(path)
        with self._lock:
            return [r.time for r in self._log if r.path.split("?", 1)[0] == key]

    def count(self, path):
        return len(self.requests_for(path))

    @property
    def sent(self):
        """[(monotonic time, bytes)]: each write of a body, as it left."""
        with self._lock:
            return list(self._sent)

    def _note_sent(self, size):
        with self._lock:
            self._sent.append((time.monotonic(), size))

    def clear_log(self):
        with self._lock:
            self._log.clear()

    # ---- serving
    def _decide(self, path):
        """Picks what to do for one request, counting counted faults."""
        with self._lock:
            pattern, fault = self._match(path)
            if fault is None:
                return None, 200
            key = (pattern, path)
            n = self._counts.get(key, 0)
            self._counts[key] = n + 1
            if n < fault.drop:
                return fault, "drop"
            n -= fault.drop
            if fault.times is not None and n >= fault.times:
                return None, 200
            if fault.status is not None:
                return fault, fault.status
            return fault, 200

    def _serve(self, handler, head):
        raw_path = handler.path
        # A request in absolute form ("GET https://host/update/x", as some
        # clients send it inside a proxy's tunnel) names the same path.
        if raw_path.startswith(("http://", "https://")):
            raw_path = "/" + raw_path.split("://", 1)[1].partition("/")[2]
        with self._lock:
            self._log.append(Request(handler.command, raw_path, time.monotonic(),
                                     handler.headers.get("User-Agent", ""), dict(handler.headers)))
        path = raw_path.split("?", 1)[0]
        fault, action = self._decide(path)
        if fault is not None and fault.delay:
            time.sleep(fault.delay)
        if action == "drop":
            self._drop(handler)
            return
        if isinstance(action, int) and action != 200:
            self._send(handler, action, b"status %d\n" % action, head)
            return
        if fault is not None and fault.redirect is not None:
            location = fault.redirect + raw_path[len(self.base):] if raw_path.startswith(self.base) \
                else fault.redirect
            self._send(handler, 302, b"", head, location=location)
            return
        body = fault.body if fault is not None and fault.body is not None else self._file(path)
        if body is None:
            self._send(handler, 404, b"not found\n", head)
            return
        if fault is not None and fault.alter is not None and body:
            at = len(body) // 2 if fault.alter is True else int(fault.alter) % len(body)
            body = body[:at] + bytes([body[at] ^ 0xFF]) + body[at + 1:]
        if fault is not None and fault.truncate is not None:
            self._send(handler, 200, body, head, cut=fault.truncate)
            return
        if fault is not None and fault.trickle is not None:
            self._trickle(handler, body, head, *fault.trickle)
            return
        self._send(handler, 200, body, head)

    def _file(self, path):
        if not path.startswith(self.base):
            return None
        rel = unquote(path[len(self.base):])
        target = (self.root / rel).resolve()
        root = self.root.resolve()
        if root != target and root not in target.parents:
            return None
        return target.read_bytes() if target.is_file() else None

    @staticmethod
    def _trickle(handler, body, head, step, pause):
        """Sends the body `step` bytes at a time, `pause` seconds apart, until
        it is all sent or the client has gone."""
        try:
            handler.send_response(200)
            handler.send_header("Content-Type", "application/octet-stream")
            handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            handler.wfile.flush()
            for at in range(0, 0 if head else len(body), step):
                handler.wfile.write(body[at:at + step])
                handler.wfile.flush()
                time.sleep(pause)
        except OSError:
            handler.close_connection = True

    @staticmethod
    def _send(handler, status, body, head, cut=None, location=None):
        try:
            handler.send_response(status)
            handler.send_header("Content-Type", "application/octet-stream")
            handler.send_header("Content-Length", str(len(body)))
            if location is not None:
                handler.send_header("Location", location)
            if cut is not None:
                handler.send_header("Connection", "close")
            handler.end_headers()
            handler.wfile.flush()
            if not head:
                # In slices, each noted as it leaves, so a test can see the
                # bytes a client takes per second.
                data = body if cut is None else body[:cut]
                for at in range(0, len(data), 16384):
                    handler.wfile.write(data[at:at + 16384])
                    handler.server.owner._note_sent(len(data[at:at + 16384]))
            handler.wfile.flush()
            if cut is not None:
                handler.close_connection = True
                handler.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            handler.close_connection = True

    @staticmethod
    def _drop(handler):
        handler.close_connection = True
        try:
            handler.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
