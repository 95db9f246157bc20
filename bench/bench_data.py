"""Games for the update benchmark, generated deterministically and published
once, then kept under $TW_BUILD/bench-data so later runs start at once.

- "big": 1 GiB in 16 MiB pieces; about 40% incompressible bytes (textures,
  audio) and 60% text-like or low-entropy structured bytes (scripts, levels,
  meshes, the executable). Version 2 changes whole pieces in three large
  files, about 5% of all pieces.
- "mid": 264 MiB, two of the big game's files (game.exe and levels.pak),
  for first installs that fit a quick comparison of two builds.
- "small": 10,000 small text-like files in 100 folders.

Random bytes come from AES-128-CTR over zeros (openssl), keyed by the file's
name, so every run produces the same game without Python's slow generators.
"""
import hashlib
import json
import os
import random
import shutil
import subprocess
from pathlib import Path

MIB = 1 << 20
PIECE = 16 * MIB
BLOCK = MIB
GENERATOR = "bench-data-4"   # change when the generated content changes

# (path, MiB, kind): kinds random, text, binary
BIG_FILES = [
    ("game.exe", 8, "binary"),
    ("data/textures.pak", 256, "random"),
    ("data/audio.pak", 160, "random"),
    ("data/levels.pak", 256, "binary"),
    ("data/scripts.pak", 192, "text"),
    ("data/meshes.pak", 152, "binary"),
]
# (path, piece index) rewritten in version 2
BIG_CHANGES = [("data/textures.pak", 5), ("data/levels.pak", 9), ("data/scripts.pak", 3)]

# The files of the big game that make the mid game (hard links).
MID_FILES = ["game.exe", "data/levels.pak"]

SMALL_COUNT = 10_000


def random_stream(label, size):
    """`size` reproducible incompressible bytes named by `label`."""
    key = hashlib.sha256(label.encode()).hexdigest()
    proc = subprocess.Popen(["openssl", "enc", "-aes-128-ctr", "-nosalt", "-K", key[:32], "-iv", key[32:],
                             "-in", "/dev/zero"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        data = proc.stdout.read(size)
    finally:
        proc.stdout.close()
        proc.kill()      # our own child: openssl would otherwise read /dev/zero forever
        proc.wait()
    if len(data) != size:
        raise RuntimeError("openssl gave %d of %d bytes" % (len(data), size))
    return data


def _text_pool():
    """About 512 KiB of log/script-like lines to cut text from."""
    rng = random.Random(7)
    words = ["entity", "spawn", "trigger", "door", "light", "goblin", "torch", "quest", "dialog",
             "inventory", "sword", "shield", "potion", "vertex", "normal", "texture", "sound",
             "volume", "position", "rotation", "scale", "health", "damage", "speed", "name",
             "if", "then", "end", "local", "function", "return", "true", "false", "nil"]
    lines = []
    size = 0
    while size < 512 * 1024:
        kind = rng.randrange(3)
        if kind == 0:
            line = "%s %d pos=(%.2f, %.2f, %.2f) %s=%d\n" % (
                rng.choice(words), rng.randrange(100000), rng.uniform(-500, 500), rng.uniform(-500, 500),
                rng.uniform(0, 80), rng.choice(words), rng.randrange(1000))
        elif kind == 1:
            line = "    %s %s_%d(%s, %s) -- %s %s\n" % (
                rng.choice(words), rng.choice(words), rng.randrange(500), rng.choice(words),
                rng.choice(words), rng.choice(words), rng.choice(words))
        else:
            line = '<%s id="%d" %s="%s" %s="%.3f"/>\n' % (
                rng.choice(words), rng.randrange(10 ** 6), rng.choice(words), rng.choice(words),
                rng.choice(words), rng.random())
        lines.append(line)
        size += len(line)
    return "".join(lines).encode()


POOL = _text_pool()
# Low-entropy bytes: half zeros, the rest among a few values (tables, vertex data).
LOW_ENTROPY = bytes(0 if b < 128 else (b % 24) * 7 for b in range(256))


def text_block(noise):
    """One block of text made of pool slices whose places and lengths come from noise."""
    parts = []
    size = 0
    i = 0
    limit = len(POOL) - 4096
    while size < len(noise):
        off = int.from_bytes(noise[i:i + 3], "little") % limit
        part = POOL[off:off + 256 + noise[i + 3] * 12]
        parts.append(part)
        size += len(part)
        i += 4
    return b"".join(parts)[:len(noise)]


def binary_block(noise):
    """Half text, half low-entropy table data, alternating every 64 KiB."""
    step = 64 * 1024
    return b"".join(text_block(noise[at:at + step]) if (at // step) % 2 == 0
                    else noise[at:at + step].translate(LOW_ENTROPY)
                    for at in range(0, len(noise), step))


def content(label, size, kind):
    noise = random_stream(label, size)
    if kind == "random":
        return noise
    make = text_block if kind == "text" else binary_block
    return b"".join(make(noise[at:at + BLOCK]) for at in range(0, size, BLOCK))


def write_big_source(src):
    for rel, mib, kind in BIG_FILES:
        path = src / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        with open(path, "wb") as f:
            for at in range(0, mib * MIB, 64 * MIB):   # 64 MiB at a time keeps memory small
                n = min(64 * MIB, mib * MIB - at)
                f.write(content("%s:%d" % (rel, at), n, kind))


def write_big_v2_source(src1, src2):
    """Version 2: hard links to version 1's files, copies of the changed ones
    with whole pieces rewritten in place."""
    changed = {rel for rel, _ in BIG_CHANGES}
    for rel, _, _ in BIG_FILES:
        (src2 / rel).parent.mkdir(parents=True, exist_ok=True)
        if rel in changed:
            shutil.copyfile(src1 / rel, src2 / rel)
        else:
            os.link(src1 / rel, src2 / rel)
    kinds = {rel: kind for rel, _, kind in BIG_FILES}
    for rel, index in BIG_CHANGES:
        with open(src2 / rel, "r+b") as f:
            f.seek(index * PIECE)
            f.write(content("v2:%s:%d" % (rel, index), PIECE, kinds[rel]))


def write_small_source(src):
    rng = random.Random(11)
    (src / "game.exe").parent.mkdir(parents=True, exist_ok=True)
    (src / "game.exe").write_bytes(POOL[:200_000])
    noise = random_stream("small", SMALL_COUNT * 4)
    for i in range(SMALL_COUNT):
        folder = src / "assets" / ("d%02d" % (i // 100))
        if i % 100 == 0:
            folder.mkdir(parents=True, exist_ok=True)
        off = int.from_bytes(noise[4 * i:4 * i + 3], "little") % (len(POOL) - 4096)
        size = 200 + rng.randrange(2800)
        (folder / ("f%05d.txt" % i)).write_bytes(b"%d\n" % i + POOL[off:off + size])


def publish(tool, key, src, out, version, exe="game.exe", last_serial=0):
    out.mkdir(parents=True, exist_ok=True)
    command = [str(tool), "publish", str(src), str(out), "--key", str(key), "--version", version,
               "--build", "bench-" + version, "--exe", exe, "--piece", str(PIECE)]
    if last_serial:
        command += ["--serial", str(last_serial)]
    result = subprocess.run(command, capture_output=True)
    if result.returncode != 0:
        raise RuntimeError("tarnwick-publish failed: " + result.stderr.decode(errors="replace"))


def _fingerprint(key):
    public = Path(key).with_name("public.pem")
    key_text = public.read_bytes() if public.exists() else Path(key).read_bytes()
    return GENERATOR + ":" + hashlib.sha256(key_text).hexdigest()


def _ready(folder, fingerprint):
    marker = folder / ".ready"
    return marker.exists() and marker.read_text() == fingerprint


def _mark(folder, fingerprint):
    (folder / ".ready").write_text(fingerprint)


def _fresh(folder):
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    return folder


def ensure(data_dir, tool, key, say=print):
    """Makes (or reuses) every game and returns their folders."""
    data_dir = Path(data_dir)
    fingerprint = _fingerprint(key)
    d = {name: data_dir / name for name in
         ("big-src1", "big-src2", "big-out1", "big-out2", "mid-src", "mid-out", "small-src", "small-out")}

    big = data_dir / "big"
    if not _ready(big, fingerprint):
        _fresh(big)
        for name in ("big-src1", "big-src2", "big-out1", "big-out2"):
            _fresh(d[name])
        say("generating the 1 GiB game (once; kept in %s)" % data_dir)
        write_big_source(d["big-src1"])
        say("publishing version 1")
        publish(tool, key, d["big-src1"], d["big-out1"], "1.0")
        say("publishing version 2 (%d pieces changed)" % len(BIG_CHANGES))
        write_big_v2_source(d["big-src1"], d["big-src2"])
        # Version 2's server shares version 1's piece files (hard links), so
        # only the changed pieces are compressed again.
        shutil.copytree(d["big-out1"] / "chunks", d["big-out2"] / "chunks", copy_function=os.link)
        # A folder of its own starts the serials again: version 2 must come
        # after version 1's, or the launcher keeps version 1.
        publish(tool, key, d["big-src2"], d["big-out2"], "2.0", last_serial=1)
        _mark(big, fingerprint)

    mid = data_dir / "mid"
    if not _ready(mid, fingerprint):
        _fresh(mid)
        for name in ("mid-src", "mid-out"):
            _fresh(d[name])
        say("publishing the mid game (%s of the 1 GiB game)" % ", ".join(MID_FILES))
        for rel in MID_FILES:
            (d["mid-src"] / rel).parent.mkdir(parents=True, exist_ok=True)
            os.link(d["big-src1"] / rel, d["mid-src"] / rel)
        publish(tool, key, d["mid-src"], d["mid-out"], "1.0")
        _mark(mid, fingerprint)

    small = data_dir / "small"
    if not _ready(small, fingerprint):
        _fresh(small)
        for name in ("small-src", "small-out"):
            _fresh(d[name])
        say("generating and publishing the %d-file game (once)" % SMALL_COUNT)
        write_small_source(d["small-src"])
        publish(tool, key, d["small-src"], d["small-out"], "1.0")
        _mark(small, fingerprint)
    return d


def manifest(out):
    return json.loads((Path(out) / "manifest.json").read_bytes())


def pieces(man):
    """Distinct pieces: id -> (transfer_size, stored)."""
    found = {}
    for entry in man["files"]:
        for ref in entry.get("c", []):
            found.setdefault(ref[0], (int(ref[1]), bool(ref[2]) if len(ref) > 2 else False))
    return found


def piece_path(piece_id):
    return "chunks/%s/%s" % (piece_id[:2], piece_id)
