"""nginx on 127.0.0.1 for the benchmarks, with the interface of
bench/static_server.py: a real static server, so the launcher and the
baselines are measured against what a studio would run. Started in the
foreground with a configuration and logs of its own under a work folder, and
stopped by its process id.

    server = NginxServer({"big1": "/path/out1"}, work).start()
    server.url("big1")          # "http://127.0.0.1:PORT/big1/"
    server.log                  # [(path, status, body bytes), ...] from the access log
    server.stop()
"""
import os
import shutil
import socket
import subprocess
import time
from pathlib import Path

from static_server import bytes_sent

CONFIG = """\
daemon off;
master_process on;
worker_processes 2;
{user}
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    log_format bench '$request_uri $status $body_bytes_sent';
    access_log {work}/access.log bench;
    client_body_temp_path {work}/tmp;
    proxy_temp_path {work}/tmp;
    fastcgi_temp_path {work}/tmp;
    uwsgi_temp_path {work}/tmp;
    scgi_temp_path {work}/tmp;
    sendfile on;
    tcp_nopush on;
    tcp_nodelay on;
    keepalive_requests 1000000;
    keepalive_timeout 60s;
    open_file_cache max=20000 inactive=60s;
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{port};
{locations}
    }}
}}
"""


def available():
    return shutil.which("nginx") or Path("/usr/sbin/nginx").exists()


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class NginxServer:
    def __init__(self, sites, work):
        self.sites = {name: os.path.realpath(folder) for name, folder in sites.items()}
        self.work = Path(work)
        self.port = None
        self._proc = None
        self._skip = 0   # access log lines before the last clear_log

    def start(self):
        if self.work.exists():
            shutil.rmtree(self.work)
        (self.work / "tmp").mkdir(parents=True)
        self.port = _free_port()
        locations = "\n".join("        location /%s/ { alias %s/; }" % (name, folder)
                              for name, folder in self.sites.items())
        # As root nginx hands its workers to an unprivileged user, who may not
        # read the benchmark's folders; keep them with the caller.
        user = "user root;" if os.geteuid() == 0 else ""
        conf = self.work / "nginx.conf"
        conf.write_text(CONFIG.format(work=self.work, port=self.port, locations=locations, user=user))
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        self._proc = subprocess.Popen([binary, "-p", str(self.work), "-c", str(conf), "-e",
                                       str(self.work / "error.log")],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self._proc.poll() is not None:
                raise RuntimeError("nginx ended at once: " + self._error_text())
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return self
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError("nginx did not start: " + self._error_text())

    def _error_text(self):
        path = self.work / "error.log"
        return path.read_text(errors="replace")[-500:] if path.exists() else ""

    def stop(self):
        if self._proc and self._proc.poll() is None:
            self._proc.terminate()    # our own child, by its process id
            try:
                self._proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        self._proc = None

    def url(self, site):
        return "http://127.0.0.1:%d/%s/" % (self.port, site)

    def _lines(self):
        path = self.work / "access.log"
        return path.read_text(errors="replace").splitlines() if path.exists() else []

    @property
    def log(self):
        entries = []
        for line in self._lines()[self._skip:]:
            parts = line.rsplit(" ", 2)
            if len(parts) == 3 and parts[1].isdigit() and parts[2].isdigit():
                entries.append((parts[0], int(parts[1]), int(parts[2])))
        return entries

    def clear_log(self):
        self._skip = len(self._lines())

    def bytes_sent(self, prefix=""):
        return bytes_sent(self.log, prefix)
