"""pytest fixture: a running UpdateServer serving tmp_path/"server" below /update/."""
import pytest

from update_server import UpdateServer


@pytest.fixture
def update_server(tmp_path):
    srv = UpdateServer(tmp_path / "server")
    srv.start()
    yield srv
    srv.stop()
