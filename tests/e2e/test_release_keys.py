"""Release keys under Wine: the launcher's built-in key is the root (the
build's development key, root 1); releases signed by release keys are taken
only as keys.json on the server allows, root changes are walked forward and
remembered, bad records leave the installed game, and a withdrawn key's
absurd serial does not freeze a player."""
import shutil
import subprocess

import pytest

from games import KEPT_KEYS, make_game, publish, random_bytes, read_state, tree
from launcher import PRIVATE_KEY, PUBLISH_TOOL, read_log, run_launcher

V1 = {"tarnwick.exe": b"MZ one\n", "data/a.bin": random_bytes(9000, seed=31)}
V2 = {"tarnwick.exe": b"MZ two\n", "data/a.bin": random_bytes(9000, seed=32)}
V3 = {"tarnwick.exe": b"MZ three\n", "data/a.bin": random_bytes(9000, seed=33)}


def tool(*args):
    result = subprocess.run([str(PUBLISH_TOOL), *map(str, args)], capture_output=True, timeout=120)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return result.stdout.decode()


def make_key(folder, kind="make-release-key"):
    tool(kind, folder)
    return folder


def keys(records, action, *args, root=PRIVATE_KEY):
    return tool("keys", action, records, *args, "--root", root)


def key_name(folder) -> str:
    """The 16 hex characters the log names a key by (X's first 8 bytes)."""
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", folder / "public.pem", "-outform", "DER"],
                         capture_output=True, check=True).stdout
    return der[-64:-56].hex()


def serve(server, folder):
    """Makes the server serve exactly what folder holds."""
    shutil.rmtree(server.root)
    shutil.copytree(folder, server.root)


def slip_in(server, folder, key, last_serial):
    """Publishes V3 elsewhere (as a key's thief would) and copies its manifest
    and pieces over the server's, leaving the server's records."""
    publish(make_game(folder.parent / "src", V3), folder, key=key, extra=["--serial", str(last_serial)])
    shutil.copytree(folder, server.root, dirs_exist_ok=True)


def update(install_dir, server):
    result = run_launcher(install_dir, server_url=server.url)
    return result.returncode, read_log(install_dir)


def installs(install_dir, server, files) -> list:
    """Runs the launcher, which must install exactly files; returns its log."""
    code, log = update(install_dir, server)
    assert code == 0 and tree(install_dir) == files, log
    return log


def refused_and_kept(install_dir, server, line, kept):
    """Runs the launcher, which must keep the installed game `kept` (phase 6,
    exit code 1) and log line."""
    code, log = update(install_dir, server)
    assert code == 1 and line in log, log
    assert log[-2:] == ["[6] offline -- playing the installed version", "headless: done, phase 6"], log
    assert tree(install_dir) == kept


def test_release_keys_sign_through_keys_json_and_a_withdrawn_key_is_refused(install_dir, update_server, tmp_path):
    root = update_server.root
    a, b = make_key(tmp_path / "a"), make_key(tmp_path / "b")
    # A folder of today, signed by the root itself, needs no records.
    publish(make_game(tmp_path / "src", V1), root)
    installs(install_dir, update_server, V1)
    assert update_server.count("keys.json") == 0

    keys(root, "add", a / "public.pem", "--from", "1")
    publish(make_game(tmp_path / "src", V2), root, key=a / "private.pem")
    log = installs(install_dir, update_server, V2)
    assert f"manifest signed by release key {key_name(a)} (valid from serial 1), keys.json 1, root 1" in log
    assert (install_dir / KEPT_KEYS).read_bytes()[64:] == (root / "keys.json").read_bytes()

    # A is withdrawn and B takes over from serial 4; the thief of A signs a 4.
    keys(root, "add", b / "public.pem", "--from", "4")
    keys(root, "withdraw", a / "public.pem", "--from", "4")
    slip_in(update_server, tmp_path / "thief", a / "private.pem", 3)
    refused_and_kept(install_dir, update_server,
                     f"the manifest's key was refused: key {key_name(a)} is withdrawn from serial 4 "
                     "(this is serial 4) (withdrawn_key) -- kept the installed game", kept=V2)

    publish(make_game(tmp_path / "src", V3), root, key=b / "private.pem")
    installs(install_dir, update_server, V3)


def test_a_root_change_is_walked_remembered_and_never_walked_back(install_dir, update_server, tmp_path):
    root = update_server.root
    a, root2 = make_key(tmp_path / "a"), make_key(tmp_path / "root2", "make-root")
    keys(root, "add", a / "public.pem", "--from", "1")
    edition1 = {name: (root / name).read_bytes() for name in ("keys.json", "keys.sig")}
    publish(make_game(tmp_path / "src", V1), root, key=a / "private.pem")
    installs(install_dir, update_server, V1)

    tool("keys", "change-root", root, "--root", PRIVATE_KEY, "--new-root", root2 / "private.pem")
    publish(make_game(tmp_path / "src", V2), root, key=a / "private.pem")
    log = installs(install_dir, update_server, V2)
    assert f"keys.json 2: walked to root 2 ({key_name(root2)}) and remembered it" in log

    # The first edition, replayed, stops at root 1: the launcher does not go back.
    publish(make_game(tmp_path / "src", V3), root, key=a / "private.pem")
    current = {name: (root / name).read_bytes() for name in edition1}
    for name, body in edition1.items():
        (root / name).write_bytes(body)
    refused_and_kept(install_dir, update_server,
                     f"keys.json refused: it does not name root 2 ({key_name(root2)}), the newest this launcher "
                     "trusts (unknown_root) -- kept the installed game", kept=V2)
    # Nor does root 1 sign a manifest directly any more (as a thief of it would).
    for name, body in current.items():
        (root / name).write_bytes(body)
    slip_in(update_server, tmp_path / "root1", PRIVATE_KEY, 3)
    refused_and_kept(install_dir, update_server,
                     "the manifest's key was refused: keys.json names no key that signed it (unknown_key) -- "
                     "kept the installed game", kept=V2)
    # Root 2 does.
    publish(make_game(tmp_path / "src", V3), root, key=root2 / "private.pem")
    installs(install_dir, update_server, V3)


def test_records_signed_by_the_wrong_root_leave_the_installed_game(install_dir, update_server, tmp_path):
    root = update_server.root
    a, other = make_key(tmp_path / "a"), make_key(tmp_path / "other", "make-root")
    publish(make_game(tmp_path / "src", V1), root)
    installs(install_dir, update_server, V1)

    # Records of another studio's root (a mirror that serves someone else's).
    keys(root, "add", a / "public.pem", "--from", "1", root=other / "private.pem")
    publish(make_game(tmp_path / "src", V2), root, key=a / "private.pem")
    refused_and_kept(install_dir, update_server,
                     "keys.json refused: it does not name the built-in root (" + key_name(PRIVATE_KEY.parent) +
                     "), the newest this launcher trusts (unknown_root) -- kept the installed game", kept=V1)
    assert not (install_dir / KEPT_KEYS).exists()

    # The built-in root's records, but keys.sig of another edition (a mirror
    # that rewrote them, or an upload cut between the two files).
    (root / "keys.json").unlink()
    keys(root, "add", a / "public.pem", "--from", "1")
    first_signature = (root / "keys.sig").read_bytes()
    keys(root, "add", make_key(tmp_path / "b") / "public.pem", "--from", "1")
    (root / "keys.sig").write_bytes(first_signature)
    refused_and_kept(install_dir, update_server,
                     "keys.json refused: keys.sig does not verify with root 1 (signature) -- kept the installed game",
                     kept=V1)


# The thief's release is installed, or only its mark is kept: its manifest
# was taken and its pieces never came.
@pytest.mark.parametrize("thief_installs", [True, False])
def test_a_player_frozen_on_a_withdrawn_keys_huge_serial_moves_on(install_dir, update_server, tmp_path,
                                                                  thief_installs):
    studio, thief = tmp_path / "studio", tmp_path / "thief"
    a, b = make_key(tmp_path / "a"), make_key(tmp_path / "b")
    keys(studio, "add", a / "public.pem", "--from", "1")
    publish(make_game(tmp_path / "src", V1), studio, key=a / "private.pem")
    serve(update_server, studio)
    installs(install_dir, update_server, V1)

    # The thief of A moves the player onto serial 10^12 through a mirror.
    shutil.copytree(studio, thief)
    publish(make_game(tmp_path / "src", V2), thief, key=a / "private.pem", extra=["--serial", "999999999999"])
    serve(update_server, thief)
    if thief_installs:
        installs(install_dir, update_server, V2)
    else:
        update_server.fault("chunks/*", status=404)
        assert update(install_dir, update_server)[0] == 1 and tree(install_dir) == V1
        assert read_state(install_dir)["release"]["serial"] == 1000000000000
        update_server.clear_faults()

    # The studio withdraws A from serial 2, names its last release as the
    # mark, and publishes its serial 2 with B.
    keys(studio, "add", b / "public.pem", "--from", "2")
    keys(studio, "withdraw", a / "public.pem", "--from", "2", "--lower-mark", "1")
    publish(make_game(tmp_path / "src", V3), studio, key=b / "private.pem")
    serve(update_server, studio)
    log = installs(install_dir, update_server, V3)
    assert ("the installed release (serial 1000000000000) is signed by a key that keys.json 3 no longer accepts "
            "-- taking serial 1 as the installed one") in log
    assert read_state(install_dir)["release"]["serial"] == 2   # the kept mark itself moved
    # The thief's mirror, with the records of its day, stays refused.
    serve(update_server, thief)
    refused_and_kept(install_dir, update_server,
                     "keys.json refused: sequence 1, kept sequence 3 (older_records) -- kept the installed game",
                     kept=V3)
