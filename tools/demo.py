"""The main job end to end on this machine: publish a sample game, serve it on
127.0.0.1, let the headless launcher (under Wine) install it, publish a second
release that changes a few files, and let the launcher update to it. Then a
third release names a newer launcher (v6): the v5 launcher builds it from
pieces, hands over to it, and v6 replaces v5's file and finishes the update.
Last, the normal start a player gets: the windowed launcher on a virtual
1920x1080 screen updates to a fourth release, shows its splash (a screenshot
lands in build/demo/splash.png), starts the game and hands over to its
loading window. At the end a headless --uninstall removes the game and the
launcher's files and keeps a save the player made."""
import json
import os
import random
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from launcher import (PRIVATE_KEY, PUBLISH_TOOL, BUILD, WIN, run_launcher, run_wine, read_log,  # noqa: E402
                      start_wine, wait_for_log, wine_env, winpath)
from update_server import UpdateServer  # noqa: E402
from xdisplay import XDisplay, write_png  # noqa: E402

WORK = BUILD / "demo"
LAUNCHER_V5 = BUILD / "win" / "tarnwick.exe"
LAUNCHER_V6 = BUILD / "win" / "v6" / "tarnwick.exe"
PIECE = 1024 * 1024
WINDOW_LIST = WIN / "window_list.exe"
# A stand-in game that opens its loading window 3 s after it starts.
FAKE_GAME = WIN / "fake_game.exe"
GAME_ARGS = "--loading-window-after 3000 --sleep 4000"


def sample_game(folder: Path, release: int):
    """A few dozen files, tens of MB: text, structured binary, incompressible."""
    rng = random.Random(7)
    words = b"forest granite dome ridge river canopy tahoe pine meadow snow lake trail ".split()
    files = {}
    for i in range(12):
        lines = (b" ".join(rng.choice(words) for _ in range(12)) for _ in range(9000 + i * 500))
        files[f"data/text/region_{i:02d}.txt"] = b"\n".join(lines)
    for i in range(10):
        rec = bytes(rng.randrange(8) for _ in range(64))
        files[f"data/meshes/tile_{i:02d}.mesh"] = b"".join(
            rec[:60] + (k * 2654435761 % 2**32).to_bytes(4, "little") for k in range(40000))
    for i in range(6):
        files[f"data/textures/atlas_{i}.dds"] = random.Random(100 + i).randbytes(3 * 1024 * 1024 + i * 77777)
    files["tarnwick.exe"] = b"MZ" + random.Random(1).randbytes(2 * 1024 * 1024)
    files["config/default.ini"] = b"[video]\nwidth=1920\nheight=1080\n"
    files["readme.txt"] = b"tarnwick sample game, release %d\n" % release
    if release == 2:
        files["data/text/region_03.txt"] += b"\nnew trail notes\n"
        # One MiB in the middle of a texture changes; the launcher takes the
        # rest of it from the installed copy instead of downloading it again.
        atlas = files["data/textures/atlas_2.dds"]
        files["data/textures/atlas_2.dds"] = atlas[:PIECE] + random.Random(999).randbytes(PIECE) + atlas[2 * PIECE:]
        files["config/default.ini"] = b"[video]\nwidth=2560\nheight=1440\n"
        files["data/audio/ambience.ogg"] = random.Random(5).randbytes(1500000)
        del files["data/meshes/tile_09.mesh"]
    if folder.exists():
        shutil.rmtree(folder)
    for rel, data in files.items():
        path = folder / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return files


def publish(src: Path, out: Path, version: str, extra=()):
    subprocess.run([str(PUBLISH_TOOL), "publish", str(src), str(out), "--key", str(PRIVATE_KEY),
                    "--version", version, "--build", f"demo-{version}", "--exe", "tarnwick.exe",
                    "--piece", str(PIECE), *extra], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return json.loads((out / "manifest.json").read_text())


def mb(n):
    return f"{n / 1e6:.1f} MB"


def run_once(title, server, install):
    server.clear_log()
    started = time.monotonic()
    result = run_launcher(install, server_url=server.url)
    seconds = time.monotonic() - started
    pieces = [p for p, _ in server.requests if p.startswith("/update/chunks/")]
    fetched = sum((server.root / p[len("/update/"):]).stat().st_size for p in pieces)
    print(f"\n== {title}: exit code {result.returncode} after {seconds:.1f} s")
    print(f"   fetched {len(pieces)} pieces, {mb(fetched)} over the wire")
    for line in read_log(install):
        if line.startswith(("manifest ", "update to ", "up to date", "updated to", "[8]", "[6]",
                            "headless: done", "journal", "rolled back", "piece ", "reused ")):
            print("   log:", line)
    return result.returncode


def self_update(server, install, files2):
    """Release 1.2.0 names launcher v6; a v5 launcher outside the install
    folder hands over to it. Returns the release's files and whether all went
    as it should."""
    files3 = dict(files2, **{"readme.txt": b"tarnwick sample game, release 3\n"})
    src = WORK / "release3"
    for rel, data in files3.items():
        (src / rel).parent.mkdir(parents=True, exist_ok=True)
        (src / rel).write_bytes(data)
    m3 = publish(src, server.root, "1.2.0", ["--launcher", str(LAUNCHER_V6), "--launcher-version", "6"])
    own = WORK / "my launcher" / "tarnwick.exe"
    own.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(LAUNCHER_V5, own)
    print(f"\npublished release 1.2.0 (1 file changed) naming launcher v6; the v5 launcher runs from {own}")

    server.clear_log()
    result = run_wine(own, ["--headless"], env={"TW_INSTALL_DIR": winpath(install),
                                                "TW_UPDATE_URL": server.url})
    ids = {piece[0] for piece in m3["launcher"]["c"]}
    fetched = [p for p, _ in server.requests if p.rsplit("/", 1)[-1] in ids]
    size = sum((server.root / p[len("/update/"):]).stat().st_size for p in fetched)
    print(f"\n== v5: fetched the new launcher ({len(fetched)} piece{'s' * (len(fetched) != 1)}, "
          f"{mb(size)}), built tarnwick.new.exe, handed over, exit code {result.returncode}")
    log = wait_for_log(install, lambda lines: bool(lines) and lines[0].startswith("tarnwick launcher v6")
                       and any(line.startswith("headless: done") for line in lines))
    for line in log:
        if line.startswith(("tarnwick launcher", "update to ", "updated to", "[8]", "headless: done")):
            print("   v6 log:", line)
    same = own.read_bytes() == LAUNCHER_V6.read_bytes()
    leftover = (own.parent / "tarnwick.new.exe").exists()
    print(f"   {own.name} is now {'the v6 build, byte for byte' if same else 'NOT the v6 build'}; "
          f"tarnwick.new.exe {'left behind' if leftover else 'removed'}")
    ok = result.returncode == 0 and same and not leftover and log[-1] == "headless: done, phase 5"
    return files3, ok


def check_release(install, files, version):
    """Prints whether the install folder holds exactly the release's files."""
    installed = {str(p.relative_to(install)).replace(os.sep, "/"): p.read_bytes()
                 for p in install.rglob("*") if p.is_file()}
    own = ("launcher.log", ".twinstall.json", ".twmanifest.json", ".twmanifest.sig", ".twkeys")
    game = {k: v for k, v in installed.items() if k not in own}
    same = game == files
    state = json.loads((install / ".twinstall.json").read_text())
    print(f"\nstate: version {state['version']}, {len(state['files'])} files recorded, "
          f"install folder {'matches' if same else 'DIFFERS FROM'} release {version} byte for byte, "
          f"update folder {'left behind' if (install / '.twupdate').exists() else 'removed'}")
    return same


def windows_of(listing: str, image) -> list:
    """(visible, ex-style, x, y, width, height) of the listed windows of one program."""
    found = []
    for line in listing.splitlines():
        f = line.split("\t")
        if len(f) >= 11 and f[3].lower() == winpath(image).lower():
            found.append((f[4] == "1", int(f[6], 16), *map(int, f[7:11])))
    return found


def windowed_run(server, install, files3):
    """The player's normal start, on a virtual screen."""
    src = WORK / "release4"
    files4 = dict(files3, **{"tarnwick.exe": FAKE_GAME.read_bytes(),
                             "data/textures/atlas_hd.dds": random.Random(3).randbytes(150_000_000)})
    for rel, data in files4.items():
        (src / rel).parent.mkdir(parents=True, exist_ok=True)
        (src / rel).write_bytes(data)
    publish(src, server.root, "1.3.0", ["--args", GAME_ARGS])
    print("\npublished release 1.3.0: 150 MB of new textures, and the game executable is now a stand-in "
          "that opens its loading window 3 s after it starts")
    print("\n== the windowed launcher on a virtual 1920x1080 screen (Xvfb)")
    # Slower pieces, so that the picture catches the update under way.
    server.fault("chunks/*", delay=0.5)
    shot = WORK / "splash.png"
    with XDisplay() as display:
        env = display.env({"TW_INSTALL_DIR": winpath(install), "TW_UPDATE_URL": server.url})
        started = time.monotonic()
        launcher = start_wine(LAUNCHER_V5, ["--no-install"], env=env)
        try:
            run_wine(WINDOW_LIST, ["--class", "tarnwickSplash", "--wait", winpath(LAUNCHER_V5)],
                     env=display.env(), timeout=120)
            time.sleep(1.0)
            seen = run_wine(WINDOW_LIST, ["--class", "tarnwickSplash"], env=display.env()).stdout.decode()
            for visible, ex, x, y, w, h in windows_of(seen, LAUNCHER_V5):
                print(f"   splash window: {w}x{h} at {x},{y}, {'visible' if visible else 'hidden'}, "
                      f"{'topmost' if ex & 0x8 else 'not topmost'}, "
                      f"{'no-activate' if ex & 0x08000000 else 'activates'}")
            write_png(display.screenshot(), shot)
            print(f"   screenshot of the screen while the update runs: {shot}")
            run_wine(WINDOW_LIST, ["--class", "tarnwickSplash", "--watch", winpath(LAUNCHER_V5)],
                     env=display.env(), timeout=180)
            print(f"   the splash closed {time.monotonic() - started:.1f} s after the start")
            code = launcher.wait(timeout=120)
        finally:
            if launcher.poll() is None:
                launcher.kill()
                launcher.wait()
    server.clear_faults()
    print(f"   exit code {code}")
    for line in read_log(install):
        if line.startswith(("update to ", "updated to", "started the game", "splash:", "hand-over:", "[8]")):
            print("   log:", line)
    return code


def uninstall(install):
    save = install / "saves" / "slot1.sav"
    save.parent.mkdir(parents=True, exist_ok=True)
    save.write_bytes(b"the player's own save\n")
    before = sum(1 for p in install.rglob("*") if p.is_file())
    print(f"\n== uninstall (headless) of {install}: {before} files, one of them the player's {save.name}")
    own = WORK / "my launcher" / "tarnwick.exe"
    result = run_wine(own, ["--uninstall", "--headless"], env={"TW_INSTALL_DIR": winpath(install)})
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith(("removed ", "kept ", "tarnwick was", "moved ", "could not")):
            print("  ", line)
    left = sorted(p.relative_to(install).as_posix() for p in install.rglob("*") if p.is_file())
    print(f"   exit code {result.returncode}; left in the install folder: {', '.join(left) or 'nothing'}; "
          f"the launcher it ran from, outside that folder, {'stays' if own.exists() else 'is GONE'}")
    return result.returncode == 0 and left == ["saves/slot1.sav"] and own.exists()


def main():
    for tool in (PUBLISH_TOOL, LAUNCHER_V5, LAUNCHER_V6, WINDOW_LIST, FAKE_GAME, PRIVATE_KEY):
        if not Path(tool).exists():
            sys.exit(f"missing {tool}: run 'make build' first")
    if WORK.exists():
        shutil.rmtree(WORK)
    server_root = WORK / "server"
    install = WORK / "install"
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False)

    files = sample_game(WORK / "release1", 1)
    m1 = publish(WORK / "release1", server_root, "1.0.0")
    print(f"published release 1.0.0: {len(files)} files, {mb(sum(map(len, files.values())))}, "
          f"{sum(len(f['c']) for f in m1['files'])} pieces, signed with {PRIVATE_KEY}")
    with UpdateServer(server_root) as server:
        print(f"serving {server_root} at {server.url}")
        codes = [run_once("first run: install into an empty folder", server, install)]
        files2 = sample_game(WORK / "release2", 2)
        publish(WORK / "release2", server_root, "1.1.0")
        print("\npublished release 1.1.0: 4 files changed, 1 added, 1 removed")
        codes.append(run_once("second run: update 1.0.0 -> 1.1.0", server, install))
        codes.append(run_once("third run: nothing to do", server, install))
        files3, handed_over = self_update(server, install, files2)
        same = check_release(install, files3, "1.2.0")
        codes.append(windowed_run(server, install, files3))
    print(f"\nsplash picture: {WORK / 'splash.png'}")
    subprocess.run(["wineserver", "-k"], env=wine_env(), check=False)
    removed = uninstall(install)
    if codes != [0, 0, 0, 0] or not same or not handed_over or not removed:
        sys.exit(1)


if __name__ == "__main__":
    main()
