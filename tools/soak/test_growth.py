#!/usr/bin/env python3
"""The soak's growth judgement (growth.py) on a real run that leaked and on made-up runs."""
import csv
import os
import random
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import growth  # noqa: E402


def load(name):
    with open(os.path.join(HERE, "testdata", name), newline="") as f:
        return [{k: int(v) for k, v in row.items()} for row in csv.DictReader(f)]


def run(minutes, kb_per_min=0.0, jitter_kb=0, fds=23, start_kb=34000, seed=1):
    """Samples every 15 s, as the soak takes them."""
    rng = random.Random(seed)
    return [{"seconds": s, "rss_kb": int(start_kb + kb_per_min * s / 60 + rng.uniform(-jitter_kb, jitter_kb)),
             "fds": fds, "handles": 0}
            for s in range(0, int(minutes * 60) + 1, 15)]


class MemoryTest(unittest.TestCase):
    def test_the_run_that_leaked_a_thread_per_serial_wait_fails(self):
        rows = load("samples-commwait-leak.csv")  # 10 minutes at 30 frames a second, Wine 8.0
        problems = growth.memory_problems(rows)
        self.assertTrue(any("grew" in p for p in problems), problems)
        self.assertGreater(growth.slope_per_minute(growth.judged_window(rows), "rss_kb"), 300)

    def test_flat_memory_with_noise_passes(self):
        for seed in range(20):
            self.assertEqual(growth.memory_problems(run(60, jitter_kb=300, seed=seed)), [], seed)

    def test_growth_well_below_the_leak_fails(self):
        self.assertEqual(growth.memory_problems(run(60, kb_per_min=20)), [])
        problems = growth.memory_problems(run(60, kb_per_min=45))
        self.assertIn("rss_kb grew 45.0 a minute over the last 30 minutes (at most 32)", problems)

    def test_a_jump_within_the_window_fails_though_the_slope_is_small(self):
        rows = run(60)
        for row in rows:
            if 2400 <= row["seconds"] < 2460:
                row["rss_kb"] += 1500
        problems = growth.memory_problems(rows)
        self.assertEqual(len(problems), 1, problems)
        self.assertIn("strayed over 1500", problems[0])

    def test_start_up_growth_before_the_window_is_not_judged(self):
        rows = run(60)
        for row in rows:
            row["rss_kb"] += min(row["seconds"], 1500)  # 1.5 MB over the first 25 minutes
        self.assertEqual(growth.memory_problems(rows), [])

    def test_the_window_is_the_last_30_minutes_or_the_second_half(self):
        hour = growth.judged_window(run(60))
        self.assertEqual((hour[0]["seconds"], hour[-1]["seconds"]), (1800, 3600))
        short = growth.judged_window(run(10))
        self.assertEqual((short[0]["seconds"], short[-1]["seconds"]), (300, 600))

    def test_too_few_samples_is_a_problem_not_a_pass(self):
        self.assertIn("too few", growth.memory_problems(run(1))[0])


class CountTest(unittest.TestCase):
    def test_descriptors_that_creep_up_fail_and_unreported_counts_are_skipped(self):
        rows = run(30)
        self.assertEqual(growth.count_problems(rows), [])
        for i, row in enumerate(rows):
            row["fds"] += i // 20
        self.assertEqual(growth.count_problems(rows), ["fds grew from 25 to 29"])


if __name__ == "__main__":
    unittest.main()
