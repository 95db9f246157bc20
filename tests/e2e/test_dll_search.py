"""A launcher started from a folder where files named like its DLLs were
planted (the Downloads folder, say) loads its DLLs from the system folder
only. Wine is told to prefer native DLLs for those names, as Windows searches
for any DLL outside its KnownDLLs, so a planted one would be loaded if the
launcher let the search reach its own folder."""
import re
import shutil
import subprocess

from games import make_game, publish, random_bytes, tree
from launcher import LAUNCHER, WIN, run_wine, winpath

PLANTED_DLL = WIN / "planted_dll.dll"
# Imported, or looked up at run time, and not among Windows' KnownDLLs. Not
# bcrypt and version: Wine's own user32/shell32 load those at process start,
# before the first instruction of any program (measured with a program that
# imports only KnownDLLs), so no program can keep them from its folder there.
PLANTED = ["winhttp", "gdiplus", "mfplat", "mfreadwrite", "winmm", "msimg32", "dwmapi", "uxtheme", "cabinet"]
KNOWN_DLLS = {"kernel32", "user32", "gdi32", "advapi32", "shell32", "ole32", "oleaut32", "msvcrt", "shlwapi"}
GAME = {"tarnwick.exe": b"MZ planted\n", "data/a.bin": random_bytes(40000, seed=31)}


def imported_dlls(exe) -> set:
    """The DLLs the executable names in its import and delay-import tables."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                          check=True).stdout
    return {name.lower().removesuffix(".dll") for name in re.findall(r"DLL Name: (\S+)", dump)}


def test_dlls_planted_beside_the_launcher_are_never_loaded(tmp_path, install_dir, update_server):
    assert imported_dlls(LAUNCHER) - KNOWN_DLLS <= set(PLANTED)
    downloads = tmp_path / "Downloads"
    downloads.mkdir()
    launcher = downloads / "tarnwick.exe"
    shutil.copyfile(LAUNCHER, launcher)
    for name in PLANTED:
        shutil.copyfile(PLANTED_DLL, downloads / f"{name}.dll")
    publish(make_game(tmp_path / "src", GAME), update_server.root)

    shot = tmp_path / "shot.png"   # draws the splash: GDI+, the video's first frame
    result = run_wine(launcher, ["--headless", "--shot", winpath(shot)], env={
        "TW_INSTALL_DIR": winpath(install_dir), "TW_UPDATE_URL": update_server.url,
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d;" + ",".join(PLANTED) + "=n,b"})

    assert sorted(p.name for p in downloads.iterdir() if p.suffix == ".loaded") == []
    assert result.returncode == 0
    assert tree(install_dir) == GAME
    assert shot.stat().st_size > 0
