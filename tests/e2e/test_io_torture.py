"""A fixed sample of the file-call sweep of io_torture.py (all of it runs
with `make torture-io`): whatever file-system call fails, the game stays
exactly one release and the player's files stay."""
import os

from io_torture import print_figures, sweep

SAMPLE = 16


def test_a_sample_of_failing_file_calls_leaves_a_or_b_and_the_players_files(tmp_path):
    figures = sweep(tmp_path, layout=os.environ.get("TW_TORTURE_LAYOUT", "1") != "0", limit=SAMPLE)
    print_figures(figures)
    assert figures["faults injected"] >= SAMPLE // 2, "most sampled calls were never made"
    assert figures["mixed"] == 0
    assert figures["player files lost"] == 0
    assert not figures["problems"], figures["failures"]
