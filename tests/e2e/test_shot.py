"""Screenshot mode: --shot renders the splash picture into PNG files."""
import pytest

from launcher import run_launcher, read_log, winpath
from png import read_png

OFFLINE = "http://127.0.0.1:9/update/"


def _shots(tmp_path, install_dir, names, env=None):
    files = [tmp_path / name for name in names]
    args = ["--headless"]
    for f in files:
        args += ["--shot", winpath(f)]
    run_launcher(install_dir, args=args, server_url=OFFLINE, env=env, timeout=240)
    return files


def _bar_row(picture):
    """The row through the capsule bar's centre (1920 x 1080, video layout)."""
    return int(661.2375 + 0.738 * 28.8)


def test_two_shots_are_identical_video_pictures_with_half_full_bar(tmp_path, install_dir):
    a, b = _shots(tmp_path, install_dir, ["a.png", "b.png"])
    assert a.read_bytes() == b.read_bytes()
    assert read_log(install_dir).count("shot written") == 2
    picture = read_png(a)
    assert (picture.width, picture.height) == (1920, 1080)

    # The embedded video's frame is the background (under Wine it decodes as
    # NV12, converted by the launcher): a blue dusk sky, not the plain dark
    # fill, and no caption bar.
    for x, yy in ((0, 0), (960, 0), (1919, 300)):
        r, g, b = picture.pixel(x, yy)
        assert b > 60 and b > r + 20, ((x, yy), (r, g, b))

    # Capsule bar 288 px wide at x = 816: filled left half shines, right half
    # is the dark body.
    y = _bar_row(picture)
    filled = [sum(picture.pixel(x, y)) for x in range(840, 940, 10)]
    empty = [sum(picture.pixel(x, y)) for x in range(990, 1080, 10)]
    assert min(filled) > 300, filled
    assert max(empty) < 120, empty

    # Green status text under the bar.
    green = 0
    for yy in range(y + 15, y + 75):
        for x in range(600, 1320, 2):
            r, g, bl = picture.pixel(x, yy)
            if g > 150 and r < 140 and bl < 140:
                green += 1
    assert green > 100


def test_caption_scale_two_covers_the_top_62_rows(tmp_path, install_dir):
    (shot,) = _shots(tmp_path, install_dir, ["c.png"], env={"V2_SPLASH_CAPTION": "2"})
    picture = read_png(shot)
    white = 0
    while picture.pixel(700, white) == (255, 255, 255):
        white += 1
    assert white == 62
    # Icon at x = 20..51, rows 15..46.
    assert any(picture.pixel(x, 30) != (255, 255, 255) for x in range(20, 52))


def test_failed_shot_is_logged(tmp_path, install_dir):
    missing = tmp_path / "no-such-folder" / "x.png"
    run_launcher(install_dir, args=["--headless", "--shot", winpath(missing)], server_url=OFFLINE,
                 timeout=240)
    assert "the shot failed" in read_log(install_dir)
    assert not missing.exists()
