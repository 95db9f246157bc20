import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
from launcher import wine_env  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def persistent_wineserver():
    """Keeps one wineserver alive for the session, so each start is quick."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False, **quiet)
    # Start the prefix's services now, outside any test's output capture.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), check=False, timeout=120, **quiet)
    yield
    subprocess.run(["wineserver", "-k"], env=wine_env(), check=False)


@pytest.fixture
def install_dir(tmp_path):
    path = tmp_path / "install"
    return path
from server_fixtures import *  # noqa: E402,F401,F403  (update_server fixture)
