"""tarnwick-publish's key commands on Linux: roots and release keys, the key
records written and signed offline by the root, publishing with a release
key (which never needs the root), and verify naming the key that signed."""
import json
import subprocess

import pytest

from launcher import PUBLISH_TOOL
from test_publish import GAME, publish, run_tool, write_tree

pytestmark = pytest.mark.skipif(not PUBLISH_TOOL.exists(), reason=f"{PUBLISH_TOOL} is not built")


def ok(*args) -> str:
    result = run_tool(*args)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return result.stdout.decode()


def fails(*args, code=1) -> str:
    result = run_tool(*args)
    assert result.returncode == code, (result.stdout, result.stderr)
    return result.stderr.decode()


def public_hex(folder) -> str:
    """The key as keys.json writes it: X then Y in hex."""
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", folder / "public.pem", "-outform", "DER"],
                         capture_output=True, check=True).stdout
    return der[-64:].hex()


@pytest.fixture
def studio(tmp_path):
    """Root 1 and release keys A and B, each in a folder of its own."""
    made = {}
    for name, command in (("root1", "make-root"), ("root2", "make-root"), ("a", "make-release-key"),
                          ("b", "make-release-key")):
        ok(command, tmp_path / name)
        made[name] = tmp_path / name
    return made


def test_records_are_built_edition_by_edition_and_publishing_needs_only_the_release_key(studio, tmp_path):
    records, out = tmp_path / "records", tmp_path / "out"
    root1, root2 = studio["root1"] / "private.pem", studio["root2"] / "private.pem"
    a, b = studio["a"], studio["b"]
    ok("keys", "add", records, a / "public.pem", "--from", "1", "--root", root1)
    first = json.loads((records / "keys.json").read_text())
    assert first["sequence"] == 1 and len(first["roots"]) == 1 and first["keys"] == [
        {"key": public_hex(a), "from": 1}]
    assert (records / "keys.json").read_bytes().endswith(b"}\n") and len((records / "keys.sig").read_bytes()) == 64

    # The publishing machine holds the release key and the records, not the root.
    out.mkdir()
    for name in ("keys.json", "keys.sig"):
        (out / name).write_bytes((records / name).read_bytes())
    src = write_tree(tmp_path / "src", GAME)
    assert publish(src, out, a / "private.pem").returncode == 0
    verified = ok("verify", out, "--pub", studio["root1"] / "public.pem")
    assert f"signed by release key {public_hex(a)[:16]} (valid from serial 1), keys.json 1, root 1" in verified
    assert "unknown_root" in fails("verify", out, "--pub", studio["root2"] / "public.pem")

    # Rotation: B from serial 2, A withdrawn from 2; the root changes to root 2.
    ok("keys", "add", records, b / "public.pem", "--from", "2", "--root", root1)
    ok("keys", "withdraw", records, a / "public.pem", "--from", "2", "--lower-mark", "1", "--root", root1)
    ok("keys", "change-root", records, "--root", root1, "--new-root", root2)
    edition = json.loads((records / "keys.json").read_text())
    assert edition["sequence"] == 4 and len(edition["roots"]) == 2 and edition["lower_mark"] == 1
    assert edition["keys"][0]["withdrawn"] == 2 and edition["keys"][1]["from"] == 2
    # Root 1 has handed over: it signs no further edition.
    assert "not the newest root" in fails("keys", "add", records, studio["root1"] / "public.pem",
                                          "--from", "1", "--root", root1)

    for name in ("keys.json", "keys.sig"):
        (out / name).write_bytes((records / name).read_bytes())
    manifest = (out / "manifest.json").read_bytes()
    # A may not sign serial 2: publish refuses before anything is replaced.
    assert "withdrawn_key" in fails("publish", src, out, "--key", a / "private.pem", "--version", "2",
                                    "--build", "b-2", "--exe", "game.exe", "--piece", 4096)
    assert (out / "manifest.json").read_bytes() == manifest
    # verify, from either root, judges the release A signed before (serial 1)
    # by the new records and names the walk.
    for pub in (studio["root1"], studio["root2"]):
        assert "keys.json 4, root 2" in ok("verify", out, "--pub", pub / "public.pem")
    assert publish(src, out, b / "private.pem").returncode == 0
    assert f"signed by release key {public_hex(b)[:16]}" in ok("verify", out, "--pub", studio["root1"] / "public.pem")


def test_key_commands_refuse_what_would_strand_or_mislead_launchers(studio, tmp_path):
    records = tmp_path / "records"
    root1, a = studio["root1"] / "private.pem", studio["a"]
    ok("keys", "add", records, a / "public.pem", "--from", "1", "--root", root1)
    assert "listed already" in fails("keys", "add", records, a / "public.pem", "--from", "5", "--root", root1)
    assert "not a release key" in fails("keys", "withdraw", records, studio["b"] / "public.pem", "--from", "1",
                                        "--root", root1)
    ok("keys", "withdraw", records, a / "public.pem", "--from", "7", "--root", root1)
    assert "withdrawn already" in fails("keys", "withdraw", records, a / "public.pem", "--from", "9",
                                        "--root", root1)
    assert "is listed in keys.json already" in fails("keys", "change-root", records, "--root", root1,
                                                     "--new-root", root1)
    # Another root cannot write over this studio's records.
    assert "not the newest root" in fails("keys", "add", records, studio["b"] / "public.pem", "--from", "1",
                                          "--root", studio["root2"] / "private.pem")

    # Records that the launcher would refuse are not built on.
    text = (records / "keys.json").read_bytes()
    (records / "keys.json").write_bytes(text.replace(b'"sequence":2', b'"sequence": 2'))
    assert "(not_canonical)" in fails("keys", "add", records, studio["b"] / "public.pem", "--from", "1",
                                      "--root", root1)
    (records / "keys.json").write_bytes(text.replace(b'"from":1', b'"from":0'))
    assert "(signature)" in fails("keys", "add", records, studio["b"] / "public.pem", "--from", "1",
                                  "--root", root1)
    (records / "keys.json").write_bytes(text)

    assert "--from must be a whole number" in fails("keys", "add", records, a / "public.pem", "--from", "-1",
                                                    "--root", root1)
    for args in (["keys"], ["keys", "add", records, a / "public.pem", "--root", root1],
                 ["keys", "withdraw", records, a / "public.pem", "--from", "1"],
                 ["keys", "add", records, a / "public.pem", "--from", "1", "--lower-mark", "1", "--root", root1],
                 ["keys", "change-root", records, "--root", root1]):
        fails(*args, code=2)
