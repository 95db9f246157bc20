"""A test certificate authority that the test prefix trusts, and a server
certificate it signed for the two loopback hosts the tests serve on
(127.0.0.1, and 127.0.0.2 as "another host")."""
import hashlib
import struct
import subprocess

import pytest

from launcher import run_wine

ROOTS = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"


def openssl(*args):
    subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True)


def make_test_ca(folder):
    """A CA and a certificate for 127.0.0.1 and 127.0.0.2 it signed; returns
    (ca der, cert, key). Wine matches host names against the DNS names of the
    certificate, so each address is there as one too."""
    ca_key, ca_pem, ca_der = folder / "ca.key", folder / "ca.pem", folder / "ca.der"
    key, csr, cert, ext = folder / "server.key", folder / "server.csr", folder / "server.pem", folder / "ext"
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", ca_key,
            "-out", ca_pem, "-days", "2", "-subj", "/CN=tarnwick test CA")
    openssl("x509", "-in", ca_pem, "-outform", "DER", "-out", ca_der)
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key,
            "-out", csr, "-subj", "/CN=127.0.0.1")
    ext.write_text("subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,IP:127.0.0.2,DNS:127.0.0.2\n"
                   "extendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial", "-out", cert,
            "-days", "2", "-extfile", ext)
    return ca_der.read_bytes(), cert, key


@pytest.fixture
def trusted_tls(tmp_path):
    """A server certificate from a CA that the test prefix trusts for the
    length of one test (a root of the machine's registry store, in the form
    the system keeps: the certificate as property 32, under its SHA-1)."""
    folder = tmp_path / "ca"
    folder.mkdir()
    der, cert, key = make_test_ca(folder)
    entry = ROOTS + "\\" + hashlib.sha1(der).hexdigest().upper()
    blob = struct.pack("<III", 32, 1, len(der)) + der
    added = run_wine("reg", ["add", entry, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"])
    assert added.returncode == 0, added.stderr
    yield cert, key
    run_wine("reg", ["delete", entry, "/f"])
