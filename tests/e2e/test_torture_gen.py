"""A fixed sample of the generated cases of torture_gen.py (`make
torture-gen` runs many seeds), and every case that once failed."""
from torture_gen import CASES_PER_SEED, REGRESSIONS, print_figures, run_many

SAMPLE_SEEDS = list(range(1, 11))


def test_a_sample_of_generated_cases_keeps_every_invariant(tmp_path):
    figures = run_many(tmp_path, SAMPLE_SEEDS + REGRESSIONS)
    print_figures(figures)
    assert figures["cases"] >= len(SAMPLE_SEEDS) * CASES_PER_SEED
    assert not figures["failed"], figures["failed"]
