"""Proxies under Wine, with tinyproxy as the proxy: the machine's WinHTTP
proxy and a configuration script choose it; plain requests and TLS tunnels
(CONNECT) pass through it byte for byte; a proxy that asks for Basic
credentials gets only those stored in the Credential Manager, and a refusal
names the proxy and its schemes in the log and the phase-8 message.

The update server listens on 127.0.0.2: Wine's WinHTTP takes a server on the
proxy's own address for the proxy itself and does not proxy it."""
import socket
import struct
import subprocess
import time

import pytest

from games import make_game, publish, random_bytes, tree
from launcher import WIN, read_log, run_launcher, run_wine
from tls_fixtures import trusted_tls  # noqa: F401  (fixture)
from update_server import UpdateServer

CONNECTIONS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
USER_CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
CREDENTIALS = WIN / "credential_store.exe"
GAME = {
    "tarnwick.exe": b"MZ proxied\n",
    "data/random.bin": random_bytes(40000, seed=31),
    "data/text.txt": b"through the proxy and back\n" * 500,
}


class Tinyproxy:
    def __init__(self, folder, user=None, password=None):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        self.log = folder / "tinyproxy.log"
        config = folder / "tinyproxy.conf"
        lines = [f"Port {self.port}", "Listen 127.0.0.1", "Timeout 60", f'LogFile "{self.log}"',
                 "LogLevel Connect", "MaxClients 100", "Allow 127.0.0.1"]
        if user:
            lines.append(f"BasicAuth {user} {password}")
        config.write_text("\n".join(lines) + "\n")
        self.proc = subprocess.Popen(["tinyproxy", "-d", "-c", str(config)], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise AssertionError("tinyproxy did not start")

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def requests(self):
        """The request lines tinyproxy logged ("GET http://...", "CONNECT host:port")."""
        text = self.log.read_text(errors="replace") if self.log.exists() else ""
        return [line.split("): ", 1)[1].rsplit(" HTTP/", 1)[0] for line in text.splitlines()
                if "Request (file descriptor" in line]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def reg(*args):
    proc = run_wine("reg", list(args), timeout=60)
    assert proc.returncode == 0 or args[0] == "delete", proc.stderr


@pytest.fixture
def machine_proxy(tmp_path):
    """Starts tinyproxy (open, or asking for Basic credentials) and makes it
    the machine's WinHTTP proxy, as `netsh winhttp set proxy` does."""
    proxies = []

    def start(user=None, password=None):
        proxy = Tinyproxy(tmp_path, user, password)
        proxies.append(proxy)
        name = proxy.address.encode()
        blob = struct.pack("<III", 0x18, 0, 2) + struct.pack("<I", len(name)) + name + struct.pack("<I", 0)
        reg("add", CONNECTIONS, "/v", "WinHttpSettings", "/t", "REG_BINARY", "/d", blob.hex(), "/f")
        return proxy

    yield start
    reg("delete", CONNECTIONS, "/v", "WinHttpSettings", "/f")
    for proxy in proxies:
        proxy.stop()


@pytest.fixture
def stored_credentials():
    """Writes generic credentials for one test, as cmdkey does, and deletes them after."""
    targets = []

    def store(target, user, password):
        targets.append(target)
        assert run_wine(CREDENTIALS, ["write", target, user, password], timeout=60).returncode == 0

    yield store
    for target in targets:
        run_wine(CREDENTIALS, ["delete", target], timeout=60)


@pytest.fixture
def server(tmp_path):
    srv = UpdateServer(tmp_path / "server", host="127.0.0.2").start()
    publish(make_game(tmp_path / "src", GAME), srv.root)
    yield srv
    srv.stop()


def installed(install_dir):
    return tree(install_dir) == GAME


def headers_seen(srv):
    return {name.lower() for r in srv.request_log for name in r.headers}


def test_plain_requests_and_tunnels_go_through_the_machines_proxy(install_dir, server, machine_proxy, trusted_tls,
                                                                  tmp_path):
    proxy = machine_proxy()
    assert run_launcher(install_dir, server_url=server.url).returncode == 0, read_log(install_dir)
    assert installed(install_dir)
    assert f"requests to 127.0.0.2 go through the proxy {proxy.address} (the machine's WinHTTP proxy)" \
        in read_log(install_dir)
    seen = proxy.requests()
    assert any(r.startswith(f"GET {server.url}manifest.json?t=") for r in seen), seen
    assert sum(1 for r in seen if f"{server.url}chunks/" in r) == sum(1 for p, _ in server.requests if "/chunks/" in p)
    assert "via" in headers_seen(server)   # tinyproxy marks what it passes on

    with UpdateServer(server.root, tls=trusted_tls, host="127.0.0.2") as secure:
        other = tmp_path / "tls-install"
        assert run_launcher(other, server_url=secure.url).returncode == 0, read_log(other)
        assert installed(other)
        assert f"CONNECT 127.0.0.2:{secure.port}" in proxy.requests()
        assert any(p.startswith("/update/chunks/") for p, _ in secure.requests)


def test_the_certificate_probe_goes_through_the_proxy_to_the_host_that_failed(install_dir, server, machine_proxy,
                                                                               tmp_path):
    proxy = machine_proxy()
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", str(key), "-out", str(cert), "-days", "2", "-subj", "/CN=127.0.0.2",
                    "-addext", "subjectAltName=DNS:127.0.0.2"], check=True, capture_output=True)
    with UpdateServer(server.root, tls=(cert, key), host="127.0.0.2") as untrusted:
        tunnel = f"CONNECT 127.0.0.2:{untrusted.port}"
        # The manifest is asked of the plain server, which sends it on to
        # the untrusted one: the probe must go there, not to the base URL's.
        server.fault("manifest.json", redirect=untrusted.url)
        assert run_launcher(install_dir, server_url=server.url).returncode == 1
        deadline = time.monotonic() + 5
        while not untrusted.request_log and time.monotonic() < deadline:
            time.sleep(0.05)
        reached = untrusted.request_log
    failures = [line for line in read_log(install_dir) if line.startswith("request manifest.json?t=")]
    assert len(failures) == 1 and "certificate is not one this system trusts" in failures[0], read_log(install_dir)
    assert f"(through the proxy {proxy.address})" in failures[0]
    assert [(r.method, r.path) for r in reached] == [("HEAD", "/")]
    # three attempts, then the probe, each through the proxy
    assert proxy.requests().count(tunnel) == 4


def test_a_proxy_that_asks_gets_only_the_basic_credentials_the_user_stored(install_dir, server, machine_proxy,
                                                                           stored_credentials):
    proxy = machine_proxy("player", "right-horse")
    target = f"tarnwick-proxy:{proxy.address}"
    refusal = (f"the proxy {proxy.address} asks for credentials (it offers Basic) -- store its user name and "
               f"password in the Windows Credential Manager as {target}")
    assert run_launcher(install_dir, server_url=server.url).returncode == 1
    log = read_log(install_dir)
    assert log[-2:] == ["[8] " + refusal, "headless: done, phase 8"], log
    assert any(line.startswith("request manifest.json?t=") and line.endswith("after 1 attempt: " + refusal)
               for line in log), log
    assert server.requests == []

    stored_credentials(target, "player", "wrong-horse")
    assert run_launcher(install_dir, server_url=server.url).returncode == 1
    assert read_log(install_dir)[-2] == (
        f"[8] the proxy {proxy.address} refused the stored credentials (it offers Basic) -- store its user name "
        f"and password in the Windows Credential Manager as {target}")
    assert server.requests == []

    # The general target serves every proxy; the proxy's own comes first.
    run_wine(CREDENTIALS, ["delete", target], timeout=60)
    stored_credentials("tarnwick-proxy", "player", "right-horse")
    assert run_launcher(install_dir, server_url=server.url).returncode == 0, read_log(install_dir)
    assert installed(install_dir)
    assert not headers_seen(server) & {"authorization", "proxy-authorization"}


def test_a_tunnel_through_a_proxy_that_asks_fails_naming_the_proxy(install_dir, server, machine_proxy, trusted_tls,
                                                                   stored_credentials):
    """Wine 8's WinHTTP sends the CONNECT without credentials and does not
    report the proxy's 407 (it goes on to the TLS handshake), so no TLS
    request passes a proxy that asks; Windows reports the 407 like any other
    and the launcher answers it as for plain requests. What holds here: the
    failure names the proxy and nothing reaches the server."""
    proxy = machine_proxy("player", "right-horse")
    stored_credentials(f"tarnwick-proxy:{proxy.address}", "player", "right-horse")
    with UpdateServer(server.root, tls=trusted_tls, host="127.0.0.2") as secure:
        assert run_launcher(install_dir, server_url=secure.url).returncode == 1
        assert secure.requests == []
        tunnel = f"CONNECT 127.0.0.2:{secure.port}"
    failures = [line for line in read_log(install_dir) if line.startswith("request manifest.json?t=")]
    assert failures and f"(through the proxy {proxy.address})" in failures[0], read_log(install_dir)
    assert tunnel in proxy.requests()


def test_a_configuration_script_chooses_the_proxy(install_dir, server, tmp_path):
    proxy = Tinyproxy(tmp_path)
    script = (b'function FindProxyForURL(url, host) {\n'
              b'  return host == "127.0.0.2" ? "PROXY %s" : "DIRECT";\n}\n' % proxy.address.encode())
    with UpdateServer(tmp_path / "scripts") as scripts:
        scripts.put("proxy.pac", script)
        url = (scripts.url + "proxy.pac").encode()
        # The user's connection settings with "use a configuration script" on.
        blob = struct.pack("<III", 0x46, 1, 5) + struct.pack("<I", 0) + struct.pack("<I", 0) + \
            struct.pack("<I", len(url)) + url + bytes(32)
        reg("add", USER_CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY", "/d", blob.hex(), "/f")
        try:
            assert run_launcher(install_dir, server_url=server.url).returncode == 0, read_log(install_dir)
        finally:
            reg("delete", USER_CONNECTIONS, "/v", "DefaultConnectionSettings", "/f")
            proxy.stop()
    assert installed(install_dir)
    assert f"requests to 127.0.0.2 go through the proxy {proxy.address} (the configuration script)" \
        in read_log(install_dir)
    assert any("manifest.json" in r for r in proxy.requests())
