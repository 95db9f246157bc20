"""The windowed road under Xvfb: the splash window as Windows and X see it, the
hand-over to the game's loading window, the warning box and the splash files.
Windows are looked at with tests/programs/window_list.exe; every run that may
end in a message box has it pressed (or killed at teardown)."""
import re
import time

import pytest

from games import make_game, publish, random_bytes
from launcher import UNIT_TESTS, WIN, launcher_for, read_log, run_wine, start_wine, wine_folder, winpath
from xdisplay import XDisplay

WINDOW_LIST = WIN / "window_list.exe"
FAKE_GAME = WIN / "fake_game.exe"
OFFLINE = "http://127.0.0.1:9/update/"
DARK = (0x05, 0x07, 0x0A)
WS_EX_TOPMOST = 0x8
WS_EX_NOACTIVATE = 0x08000000
FIELDS = ("handle", "cls", "pid", "image", "visible", "style", "ex", "x", "y", "w", "h", "title")


@pytest.fixture(scope="module")
def prefix_folders():
    """The prefix's temporary and local application data folders (asked with
    a console program before the display exists, so no console window shows)."""
    return wine_folder("TEMP"), wine_folder("LOCALAPPDATA")


@pytest.fixture(scope="module")
def display(prefix_folders):
    with XDisplay() as d:
        yield d


@pytest.fixture(scope="module")
def splash_cache(prefix_folders):
    return prefix_folders[0] / "tarnwick-cache"


@pytest.fixture
def placement_file(prefix_folders):
    """The game's placement file, removed again after the test."""
    path = prefix_folders[1] / "tarnwick-window.txt"
    yield path
    path.unlink(missing_ok=True)


class Window(dict):
    __getattr__ = dict.__getitem__


def parse_windows(text):
    windows = []
    for line in text.splitlines():
        values = line.split("\t")
        if len(values) != len(FIELDS):
            continue
        w = Window(zip(FIELDS, values))
        for key in ("pid", "visible", "x", "y", "w", "h"):
            w[key] = int(w[key])
        w["style"], w["ex"] = int(w["style"], 16), int(w["ex"], 16)
        windows.append(w)
    return windows


class WindowedRun:
    """The launcher's windowed road (--no-install) in the background."""

    def __init__(self, display, install_dir, server_url, env=None, args=()):
        self.display = display
        self.install_dir = install_dir
        self.exe = launcher_for(env)
        extra = {"TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": server_url}
        extra.update(env or {})
        self.proc = start_wine(self.exe, ["--no-install", *args], env=display.env(extra))

    def list_windows(self, *args, timeout=90):
        result = run_wine(WINDOW_LIST, args, env=self.display.env(), timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def splash(self):
        """The launcher's splash window, a few frames after it became visible
        (it turns topmost on its first frame, just after it shows)."""
        code, _ = self.list_windows("--class", "tarnwickSplash", "--wait", winpath(self.exe))
        assert code == 0, "no splash window appeared"
        time.sleep(0.2)
        _, text = self.list_windows("--class", "tarnwickSplash")
        return next(w for w in parse_windows(text) if w.image.lower() == winpath(self.exe).lower())

    def watch_splash(self):
        """Snapshots of the splash-class windows every 100 ms until the
        launcher's splash is gone: [(ms, [windows])]."""
        code, text = self.list_windows("--class", "tarnwickSplash", "--watch", winpath(self.exe))
        assert code == 0, "the splash did not close"
        snapshots = []
        for part in text.split("@ ")[1:]:
            stamp, _, rest = part.partition("\n")
            snapshots.append((int(stamp), parse_windows(rest)))
        return snapshots

    def press_ok(self):
        """Caption and text of the launcher's message box, after pressing OK."""
        code, text = self.list_windows("--press-ok", winpath(self.exe))
        assert code == 0, "no message box appeared"
        caption, _, message = text.rstrip("\r\n").partition("\t")
        return caption, message

    def wait(self, timeout=90):
        return self.proc.wait(timeout=timeout)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def windowed(display, install_dir):
    runs = []

    def start(server_url, env=None, args=()):
        run = WindowedRun(display, install_dir, server_url, env, args)
        runs.append(run)
        return run
    yield start
    for run in runs:   # a run left in a message box must not hang the session
        run.stop()


class FakeGame:
    """The fake game published as tarnwick.exe. One that stays reports into
    tmp_path/game.txt and runs until tmp_path/keep is gone."""

    def __init__(self, server, tmp_path):
        self.server = server
        self.tmp = tmp_path
        self.report = tmp_path / "game.txt"
        self.keep = tmp_path / "keep"

    def publish(self, *args, stays=True, exe=None, data=b"1\n"):
        if stays:
            self.keep.write_text("")
            args = (f'--out "{winpath(self.report)}"', f'--until-gone "{winpath(self.keep)}"') + args
        src = make_game(self.tmp / "src", {"tarnwick.exe": exe or FAKE_GAME.read_bytes(), "data.txt": data})
        publish(src, self.server.root, args=" ".join(args), piece=None)
        return " ".join(args)


@pytest.fixture
def fake_game(update_server, tmp_path):
    game = FakeGame(update_server, tmp_path)
    yield game
    if game.keep.exists():   # a game left running would hand over every later splash
        game.keep.unlink()
        time.sleep(0.5)


def splash_log_text(splash_cache):
    try:
        return (splash_cache / "splash.log").read_bytes().decode("utf-8", "replace")
    except FileNotFoundError:
        return ""


def wait_for_video(splash_cache, timeout=90):
    """Waits for the splash's first video frame (the video opens on its own
    thread after the window shows; Wine's decoder takes seconds on a busy
    machine), then for its fade-in."""
    deadline = time.monotonic() + timeout
    while "VIDEO first frame" not in splash_log_text(splash_cache):
        assert time.monotonic() < deadline, "the video never showed"
        time.sleep(0.1)
    time.sleep(0.5)


def test_first_install_shows_the_splash_then_hands_over_to_the_loading_window(
        windowed, display, install_dir, fake_game, update_server, splash_cache):
    # The loading window comes late enough for a splash whose background
    # video opens slowly on a busy machine.
    args = fake_game.publish("--loading-window-after 20000", '--level "{app}\\data.txt"')
    (splash_cache / "splash.log").unlink(missing_ok=True)
    run = windowed(update_server.url)

    splash = run.splash()
    assert splash.title.startswith("tarnwick") and splash.visible == 1
    assert splash.ex & WS_EX_NOACTIVATE and splash.ex & WS_EX_TOPMOST
    assert (splash.x, splash.y, splash.w, splash.h) == (0, 0, 1920, 1080)
    screen = display.screenshot()
    assert screen.pixel(700, 5) == (255, 255, 255)   # the caption bar
    # The background video plays behind the bar: two screenshots a moment
    # apart differ in the background, and neither is the dark fill.
    wait_for_video(splash_cache)
    screen = display.screenshot()
    time.sleep(0.4)
    later = display.screenshot()
    points = [(x, y) for x in range(60, 1920, 120) for y in range(100, 1040, 80)]
    for picture in (screen, later):
        assert sum(1 for p in points if picture.pixel(*p) != DARK) > len(points) // 2
    assert sum(1 for p in points if screen.pixel(*p) != later.pixel(*p)) > len(points) // 10
    # The bar over the video: a screenshot can catch a frame the X server has
    # only partly painted, so a few are looked at.
    for _ in range(10):
        bar_row = [screen.pixel(x, 682) for x in range(816, 1104)]
        if max(map(sum, bar_row)) > 300:
            break
        time.sleep(0.2)
        screen = display.screenshot()
    assert max(map(sum, bar_row)) > 300                 # the bar's lit part
    assert sum(1 for p in bar_row if p != DARK) > 200   # its body

    # While the game's loading window is hidden the splash stays; once it
    # shows, the splash goes.
    snapshots = run.watch_splash()
    game_image = winpath(install_dir / "tarnwick.exe").lower()
    seen_hidden = 0
    for _, windows in snapshots:
        game = [w for w in windows if w.image.lower() == game_image]
        ours = [w for w in windows if w.image.lower() == winpath(run.exe).lower()]
        if game and not game[0].visible:
            seen_hidden += 1
            assert ours and ours[0].visible
    assert seen_hidden > 0
    last = [w for w in snapshots[-1][1] if w.image.lower() == game_image]
    assert last and last[0].visible
    assert run.wait() == 0
    assert "hand-over: the splash has closed" in read_log(install_dir)

    command, folder = fake_game.report.read_text().splitlines()
    expected = args.replace("{app}", winpath(install_dir))
    assert command == f'"{winpath(install_dir / "tarnwick.exe")}" {expected}'
    assert folder == winpath(install_dir)


def test_the_window_text_says_where_the_launcher_stands(windowed, install_dir, fake_game, update_server):
    """What a screen reader says: the percentage the bar shows while the
    update runs (a limited download makes it last), then the game's start;
    changed at most once a second."""
    fake_game.publish("--loading-window-after 4000", data=random_bytes(1 << 20, seed=45))
    run = windowed(update_server.url, args=("--max-rate", "256K"))
    ours = winpath(run.exe).lower()
    run.splash()
    titles = []   # (ms, title) at each change
    for stamp, windows in run.watch_splash():
        splash = [w for w in windows if w.image.lower() == ours]
        if splash and (not titles or titles[-1][1] != splash[0].title):
            titles.append((stamp, splash[0].title))
    assert run.wait() == 0
    texts = [title for _, title in titles]
    percents = [int(m.group(1)) for m in map(re.compile(r"^tarnwick - updating, (\d+) %$").match, texts) if m]
    assert len(percents) >= 2 and percents == sorted(percents) and percents[-1] > percents[0], texts
    assert texts[-1] == "tarnwick - starting the game", texts
    assert set(texts) <= {"tarnwick", "tarnwick - starting the game"} | {f"tarnwick - updating, {p} %" for p in percents}
    # At most one change a second. The lister looks every 100 ms and, on a
    # loaded machine, may see one change late and the next on time, so the
    # changes are counted over the whole span rather than gap by gap; a text
    # changed at every frame would still show ten times too many.
    span = titles[-1][0] - titles[1][0]
    assert (len(titles) - 2) * 1000 <= span + 1000, titles


def test_splash_shows_before_the_video_opens(
        windowed, display, install_dir, fake_game, update_server, splash_cache, tmp_path):
    """Nothing of the start waits for the video: with its opening held back
    (a seam stands in for a decoder that is slow to open) the splash is up
    with its caption, then the video's poster, and once the video opens it
    plays behind the bar."""
    fake_game.publish("--loading-window-after 15000")
    held = tmp_path / "video-held"
    held.write_text("")
    (splash_cache / "splash.log").unlink(missing_ok=True)
    run = windowed(update_server.url, {"TW_TEST_VIDEO": winpath(held)})
    points = [(x, y) for x in range(60, 1920, 120) for y in range(100, 640, 80)]
    try:
        run.splash()
        screen = display.screenshot()
        assert screen.pixel(700, 5) == (255, 255, 255)   # the caption bar
        # The poster (the video's first frame) comes over the dark fill on a
        # thread of its own, without the video.
        deadline = time.monotonic() + 60
        while sum(1 for p in points if screen.pixel(*p) != DARK) <= len(points) // 2:
            assert time.monotonic() < deadline, "the poster never showed"
            time.sleep(0.2)
            screen = display.screenshot()
        shown = splash_log_text(splash_cache)
        assert "FIRST frame presented" in shown and "VIDEO first frame" not in shown
        assert not any(line.startswith("video: ") for line in read_log(install_dir))
    finally:
        held.unlink()
    wait_for_video(splash_cache)
    assert any(line.startswith("splash: the background video opened in ") for line in read_log(install_dir))
    screen = display.screenshot()
    time.sleep(0.4)
    later = display.screenshot()
    assert sum(1 for p in points if screen.pixel(*p) != later.pixel(*p)) > len(points) // 10
    run.watch_splash()
    assert run.wait() == 0


@pytest.mark.parametrize("how", ["game exits", "limit"])
def test_hand_over_wait_ends_without_a_loading_window(how, windowed, install_dir, fake_game, update_server):
    """A game that exits before showing a loading window ends the wait (here
    with the update on the main thread, as when no worker thread can be had);
    one that never shows it is left to itself after 120 s (a seam starts the
    wait 117 s in)."""
    if how == "game exits":
        fake_game.publish("--sleep 1000", stays=False)
        run = windowed(update_server.url, {"TW_TEST_NO_UPDATE_THREAD": "1"})
        expected = "hand-over: the game ended before its loading window showed"
    else:
        fake_game.publish("--loading-window-after 600000")
        run = windowed(update_server.url, {"TW_TEST_HANDOVER_HEADSTART_MS": "117000"})
        expected = "hand-over: no loading window after 120 s -- leaving the game to itself"
    started = time.monotonic()
    assert run.wait() == 0
    assert time.monotonic() - started < 60
    log = read_log(install_dir)
    assert expected in log
    if how == "game exits":
        assert "updating without the progress bar -- no update thread" in log
    else:
        assert fake_game.report.exists()   # started, and left running


@pytest.mark.parametrize("case", ["no server", "game will not start"])
def test_warning_box_tells_why_and_ends_with_1(case, windowed, fake_game, update_server):
    if case == "no server":
        run = windowed(OFFLINE)
        expected = "can't reach updates.tarnwick.example -- check the connection and open the launcher again"
    else:
        fake_game.publish(stays=False, exe=b"not a program")
        run = windowed(update_server.url)
        expected = "tarnwick could not be started"
    assert run.press_ok() == ("tarnwick", expected)
    assert run.wait() == 1


def test_handed_over_launcher_exits_quietly(windowed, install_dir):
    run = windowed(OFFLINE, {"TW_TEST_HANDED_OVER": "1"})
    assert run.wait() == 0
    assert not any("warning box" in line for line in read_log(install_dir))


STATE_LINE = re.compile(r"^ *(\d+\.\d\d)s frames +(\d+) bar \d\.\d\d  game [0-9A-F]+ - rect 0,0 0x0  "
                        r"splash (-?\d+),(-?\d+) (\d+)x(\d+)( topmost)?  above-game -1  fg [0-9A-F]+ .* \((ours|other)\)$")


@pytest.mark.parametrize("placement, rect", [
    ("v2 200 100 800 600", (200, 100, 800, 600)),
    ("v1 200 100 800 600", (0, 0, 1920, 1080)),
    ("v2 200 100 800 199", (0, 0, 1920, 1080)),
])
def test_placement_file_stamp_and_splash_log(placement, rect, windowed, placement_file, splash_cache):
    placement_file.write_text(placement)
    for name in ("presplash.txt", "splash.log"):
        (splash_cache / name).unlink(missing_ok=True)
    before_ms = time.time() * 1000
    run = windowed(OFFLINE)
    splash = run.splash()
    assert (splash.x, splash.y, splash.w, splash.h) == rect
    run.press_ok()
    assert run.wait() == 1

    stamp = (splash_cache / "presplash.txt").read_bytes()
    assert stamp.endswith(b"\r\n") and before_ms - 5000 < int(stamp) < time.time() * 1000
    raw = (splash_cache / "splash.log").read_bytes().decode()
    assert raw.endswith("\r\n")
    states = [STATE_LINE.match(line) for line in raw.split("\r\n") if " frames " in line]
    assert len(states) >= 3 and all(states), raw
    times = [float(m.group(1)) for m in states]
    frames = [int(m.group(2)) for m in states]
    assert all(0.45 < b - a < 1.5 for a, b in zip(times, times[1:])), times
    assert frames == sorted(frames) and frames[-1] > frames[0]
    assert tuple(int(states[-1].group(i)) for i in range(3, 7)) == rect


def test_the_host_walk_finds_a_window_of_its_own_despite_known_foreign_ones(display):
    """The unit test that needs a display, run with this one."""
    proc = run_wine(UNIT_TESTS, ["--gtest_filter=SplashHost.*"], env=display.env(), timeout=120)
    out = (proc.stdout + proc.stderr).decode("utf-8", "replace")
    assert proc.returncode == 0, out
    assert "[  PASSED  ] 1 test" in out and "SKIPPED" not in out, out
