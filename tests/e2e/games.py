"""Sample games for end-to-end tests: a source folder of files, published
into a server folder with tarnwick-publish and signed with the build's
development key (the key the test launcher trusts)."""
import hashlib
import json
import os
import subprocess
from pathlib import Path

from launcher import PRIVATE_KEY, PUBLISH_TOOL

# Small enough that a few hundred bytes make several pieces.
SMALL_PIECE = 4096

STATE_FILE = ".twinstall.json"
# The manifest of the installed release, kept with its signature.
SAVED_MANIFEST = (".twmanifest.json", ".twmanifest.sig")
# The newest key records the launcher verified (signature, then keys.json).
KEPT_KEYS = ".twkeys"
UPDATE_FOLDER = ".twupdate"


def make_game(folder, files: dict) -> Path:
    """Writes files (relative '/'-path -> bytes) below folder, replacing the
    folder's previous content, and returns the folder."""
    folder = Path(folder)
    if folder.exists():
        for path in sorted(folder.rglob("*"), key=lambda p: len(p.parts), reverse=True):
            if path.is_dir():
                path.rmdir()
            else:
                path.unlink()
    folder.mkdir(parents=True, exist_ok=True)
    for rel, data in files.items():
        target = folder / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    return folder


def publish(src, out, version="1.0.0", exe="tarnwick.exe", piece=SMALL_PIECE, build=None,
            args=None, key=PRIVATE_KEY, extra=()) -> dict:
    """Publishes src into the server folder out and returns the manifest as
    parsed JSON. Raises when the tool fails."""
    command = [str(PUBLISH_TOOL), "publish", str(src), str(out), "--key", str(key),
               "--version", version, "--build", build or f"b-{version}", "--exe", exe]
    if args is not None:
        command += ["--args", args]
    if piece is not None:
        command += ["--piece", str(piece)]
    command += list(extra)
    result = subprocess.run(command, capture_output=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"tarnwick-publish failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace')}")
    return read_manifest(out)


def read_manifest(out) -> dict:
    return json.loads((Path(out) / "manifest.json").read_bytes())


def piece_ids(manifest, path=None) -> list:
    """The piece ids of one file (or of all files, in manifest order)."""
    ids = []
    for entry in manifest["files"]:
        if path is None or entry["p"] == path:
            ids += [piece[0] for piece in entry["c"]]
    return ids


def piece_file(out, piece_id) -> Path:
    return Path(out) / "chunks" / piece_id[:2] / piece_id


def piece_path(piece_id) -> str:
    """The request path of a piece below the server's base URL."""
    return f"chunks/{piece_id[:2]}/{piece_id}"


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def tree(folder, skip=(STATE_FILE, UPDATE_FOLDER, "launcher.log", KEPT_KEYS) + SAVED_MANIFEST) -> dict:
    """The files below folder as relative '/'-path -> bytes, without the
    launcher's own files."""
    folder = Path(folder)
    result = {}
    for path in folder.rglob("*"):
        rel = path.relative_to(folder).as_posix()
        if rel.split("/")[0] in skip or not path.is_file():
            continue
        result[rel] = path.read_bytes()
    return result


def read_state(install_dir) -> dict:
    return json.loads((Path(install_dir) / STATE_FILE).read_bytes())


def random_bytes(size: int, seed: int) -> bytes:
    """Incompressible but reproducible bytes."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{seed}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def touch_later(path, seconds=100):
    """Moves a file's modification time forward without changing its bytes."""
    stat = os.stat(path)
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns + seconds * 1_000_000_000))
