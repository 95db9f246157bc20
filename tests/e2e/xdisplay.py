"""A virtual X screen for windowed runs under Wine, and screenshots of it.

    with XDisplay() as display:          # 1920x1080, 24-bit
        env = display.env()              # DISPLAY for wine processes
        picture = display.screenshot()   # png.Picture-like: .pixel(x, y) -> (r, g, b)

Wine's desktop process belongs to the prefix's wineserver and keeps the
display it started with, so entering restarts the prefix's wineserver with
DISPLAY set, and leaving restarts it without one (as the other tests expect).
"""
import os
import struct
import subprocess
import zlib

from launcher import WIN, wine_env
from png import Picture

QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class XDisplay:
    def __init__(self, width=1920, height=1080):
        self.size = (width, height)
        self.name = None
        self._server = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        width, height = self.size
        self._server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), **QUIET)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            self._server.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self._restart_wine(self.env())
        return self

    def __exit__(self, *exc):
        self._restart_wine({})
        self._server.terminate()
        self._server.wait(timeout=30)

    def env(self, extra=None) -> dict:
        """Variables for wine_env/run_wine: this display, plus extra."""
        env = {"DISPLAY": self.name}
        env.update(extra or {})
        return env

    @staticmethod
    def _restart_wine(extra):
        env = wine_env()
        env.update(extra)
        subprocess.run(["wineserver", "-k"], env=env, check=False, **QUIET)
        subprocess.run(["wineserver", "-w"], env=env, check=False, timeout=60, **QUIET)
        subprocess.run(["wineserver", "-p"], env=env, check=False, **QUIET)
        # A GUI program: a console one would put a console window on the screen.
        subprocess.run(["wine", str(WIN / "window_list.exe"), "--class", "-"], env=env, check=False,
                       timeout=120, **QUIET)

    def screenshot(self) -> Picture:
        """The whole screen, read from the X side with xwd."""
        raw = subprocess.run(["xwd", "-root", "-silent", "-display", self.name], capture_output=True,
                             check=True, timeout=60).stdout
        return read_xwd(raw)


def read_xwd(data: bytes) -> Picture:
    """A 24/32-bit TrueColor ZPixmap XWD dump (what xwd writes for Xvfb)."""
    header = struct.unpack(">25I", data[:100])
    header_size, pixmap_format, width, height = header[0], header[2], header[4], header[5]
    byte_order, bits_per_pixel, bytes_per_line, colours = header[7], header[11], header[12], header[19]
    if pixmap_format != 2 or bits_per_pixel != 32:
        raise ValueError("only 32-bit ZPixmap dumps")
    start = header_size + colours * 12
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * 4]
        rgb = bytearray(width * 3)
        if byte_order == 0:   # least significant byte first: B, G, R, unused
            rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        else:
            rgb[0::3], rgb[1::3], rgb[2::3] = line[1::4], line[2::4], line[3::4]
        rows.append(bytes(rgb))
    return Picture(width, height, 3, rows)


def write_png(picture: Picture, path):
    """Saves an RGB picture as a PNG file."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + row for row in picture.rows)
    header = struct.pack(">IIBBBBB", picture.width, picture.height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6)) +
                chunk(b"IEND", b""))
