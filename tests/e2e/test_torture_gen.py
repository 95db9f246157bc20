"""A fixed sample of the generated cases of torture_gen.py (`make
torture-gen` runs many seeds), and every case that once failed."""
from torture_gen import REGRESSIONS, print_figures, run_many

SAMPLE_SEEDS = [1, 2]


def test_a_sample_of_generated_cases_keeps_every_invariant(tmp_path):
    regressions = sorted(set(REGRESSIONS))
    figures = run_many(tmp_path, SAMPLE_SEEDS + [seed for seed, _ in regressions],
                       [None] * len(SAMPLE_SEEDS) + [case for _, case in regressions])
    print_figures(figures)
    assert figures["cases"] >= len(SAMPLE_SEEDS) * 4
    assert not figures["failed"], figures["failed"]
