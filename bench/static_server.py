"""A static HTTP/1.1 file server for the benchmarks: keep-alive, one thread per
connection, bodies sent with sendfile so the server costs next to nothing
beside the client it is measured with. Every request is logged with the
bytes of body sent, so a run can count what a client downloaded.

    server = StaticServer({"big1": "/path/out1", "small": "/path/out2"}).start()
    server.url("big1")          # "http://127.0.0.1:PORT/big1/"
    server.log                  # [(path, status, body bytes), ...]
    server.stop()

With meter=True bodies leave in slices of 64 KiB, each noted with the time it
left (server.sent: [(monotonic time, bytes)]), so a run can count what a
client took in each second. The connections' send buffers are then held at
METER_SEND_BUFFER: on loopback the kernel would otherwise grow them to
megabytes and count as sent what no network would have carried yet, while
what a client takes stays bounded by its own receive window, as on a real
connection.
"""
import os
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote


def bytes_sent(log, prefix=""):
    """Body bytes of the status-200 answers of a request log whose path (below
    its site) starts with prefix."""
    total = 0
    for path, status, sent in log:
        rel = path.split("/", 2)[2] if path.count("/") >= 2 else ""
        if status == 200 and rel.startswith(prefix):
            total += sent
    return total


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "tarnwick-bench"

    def setup(self):
        super().setup()
        # Headers and body leave in separate writes; without this every answer
        # on a kept-alive connection waits about 40 ms for the client's
        # delayed acknowledgement.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.server.owner._meter:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, METER_SEND_BUFFER)

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        self.server.owner.serve(self)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def handle_error(self, request, client_address):
        # A client that is ended mid-download (the limit benchmark ends its
        # runs) resets its connections; that is no fault of the server's.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


METER_SLICE = 64 * 1024
METER_SEND_BUFFER = 64 * 1024


class StaticServer:
    def __init__(self, sites, meter=False):
        """sites: name -> folder; the folder is served below /name/."""
        self.sites = {name: os.path.realpath(folder) for name, folder in sites.items()}
        self._lock = threading.Lock()
        self._log = []
        self._meter = meter
        self._sent = []
        self._httpd = None

    def start(self):
        self._httpd = _Server(("127.0.0.1", 0), _Handler)
        self._httpd.owner = self
        threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.05},
                         daemon=True).start()
        return self

    def stop(self):
        if self._httpd:
            self._httpd.shutdown()
            self._httpd.server_close()
            self._httpd = None

    @property
    def port(self):
        return self._httpd.server_address[1]

    def url(self, site):
        return "http://127.0.0.1:%d/%s/" % (self._httpd.server_address[1], site)

    @property
    def log(self):
        with self._lock:
            return list(self._log)

    def clear_log(self):
        with self._lock:
            self._log.clear()

    def bytes_sent(self, prefix=""):
        return bytes_sent(self.log, prefix)

    @property
    def sent(self):
        with self._lock:
            return list(self._sent)

    def _send_body(self, handler, f, size):
        if not self._meter:
            return handler.connection.sendfile(f)
        sent = 0
        while sent < size:
            n = handler.connection.sendfile(f, sent, min(METER_SLICE, size - sent))
            if n == 0:
                break
            sent += n
            with self._lock:
                self._sent.append((time.monotonic(), n))
        return sent

    def _resolve(self, path):
        parts = unquote(path.split("?", 1)[0]).split("/", 2)
        if len(parts) < 3 or parts[0] != "" or parts[1] not in self.sites:
            return None
        root = self.sites[parts[1]]
        target = os.path.realpath(os.path.join(root, parts[2]))
        if not target.startswith(root + os.sep) or not os.path.isfile(target):
            return None
        return target

    def serve(self, handler):
        target = self._resolve(handler.path)
        if target is None:
            self._answer(handler, 404, b"not found\n")
            self._record(handler.path, 404, 0)
            return
        sent = 0
        try:
            with open(target, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                handler.send_response(200)
                handler.send_header("Content-Type", "application/octet-stream")
                handler.send_header("Content-Length", str(size))
                handler.end_headers()
                handler.wfile.flush()
                if size:
                    sent = self._send_body(handler, f, size)
        except OSError:
            handler.close_connection = True
        self._record(handler.path, 200, sent)

    def _record(self, path, status, sent):
        with self._lock:
            self._log.append((path, status, sent))

    @staticmethod
    def _answer(handler, status, body):
        try:
            handler.send_response(status)
            handler.send_header("Content-Type", "text/plain")
            handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            handler.wfile.write(body)
        except OSError:
            handler.close_connection = True


def main():
    """Serves folders from the command line until interrupted: NAME=FOLDER ..."""
    import sys
    import time
    server = StaticServer(dict(arg.split("=", 1) for arg in sys.argv[1:])).start()
    for name in server.sites:
        print(server.url(name), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        server.stop()


if __name__ == "__main__":
    main()
