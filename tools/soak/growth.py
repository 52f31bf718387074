"""The soak's judgement of its samples: whether the program's memory grows (a least-squares
slope over the judged window, and how far it strays within it) and whether its counts of
descriptors, threads and objects creep up. Pure functions of the sample rows, so they are
tested without Wine (tools/soak/test_growth.py)."""

MEMORY_KEY = "rss_kb"  # the program's resident memory as Linux sees it (Wine's working set too)
# Well below the 300 KB a minute and more that Wine's leak (a thread's heap blocks per serial
# wait) added, and 30 minutes of it stay within the 1 MB the memory may stray.
MAX_SLOPE_KB_PER_MIN = 32
MAX_SPREAD_KB = 1024
WINDOW_MINUTES = 30  # a run of an hour or more is judged on its last 30 minutes
# Counts that may not creep up, with the slack allowed; Wine reports no handle, GDI or USER
# counts (0), so under Wine those are skipped and descriptors and threads carry the check.
COUNT_SLACK = {"handles": 2, "gdi": 2, "user": 2, "fds": 2, "threads": 2}
MIN_SAMPLES = 6


def slope_per_minute(rows, key):
    """Least-squares slope of rows[key] against time, in units per minute."""
    n = len(rows)
    xs = [row["seconds"] / 60.0 for row in rows]
    ys = [float(row[key]) for row in rows]
    mean_x, mean_y = sum(xs) / n, sum(ys) / n
    sxx = sum((x - mean_x) ** 2 for x in xs)
    if sxx == 0:
        return 0.0
    return sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys)) / sxx


def judged_window(rows, window_minutes=WINDOW_MINUTES):
    """The samples judged for growth: the last window_minutes of a run at least twice that
    long, otherwise its second half (the first half holds the start-up's own growth)."""
    if not rows:
        return []
    end = rows[-1]["seconds"]
    span = min(window_minutes * 60, (end - rows[0]["seconds"]) / 2)
    return [row for row in rows if row["seconds"] >= end - span]


def memory_problems(rows, key=MEMORY_KEY, max_slope=MAX_SLOPE_KB_PER_MIN,
                    max_spread=MAX_SPREAD_KB, window_minutes=WINDOW_MINUTES):
    """Problems with the memory in the judged window (a list of texts, empty when flat)."""
    window = [row for row in judged_window(rows, window_minutes) if key in row]
    if len(window) < MIN_SAMPLES:
        return [f"{key}: only {len(window)} samples in the judged window, too few to judge"]
    problems = []
    slope = slope_per_minute(window, key)
    if slope > max_slope:
        problems.append(f"{key} grew {slope:.1f} a minute over the last "
                        f"{minutes(window):.0f} minutes (at most {max_slope})")
    values = [row[key] for row in window]
    if max(values) - min(values) > max_spread:
        problems.append(f"{key} strayed over {max(values) - min(values)} within the last "
                        f"{minutes(window):.0f} minutes ({min(values)} to {max(values)}, at most {max_spread})")
    return problems


def count_problems(rows, slack=None):
    """Counts whose last third rises above their first third (after the first sample)."""
    slack = COUNT_SLACK if slack is None else slack
    if len(rows) < MIN_SAMPLES:
        return []
    third = len(rows) // 3
    early, late = rows[1:1 + third], rows[-third:]
    problems = []
    for key, allowed in slack.items():
        if any(key not in row for row in rows) or all(row[key] <= 0 for row in rows):
            continue  # not reported here
        before = max(row[key] for row in early)
        after = max(row[key] for row in late)
        if after > before + allowed:
            problems.append(f"{key} grew from {before} to {after}")
    return problems


def minutes(rows):
    return (rows[-1]["seconds"] - rows[0]["seconds"]) / 60.0


def at_seconds(rows, seconds):
    """The sample nearest to a moment of the run."""
    return min(rows, key=lambda row: abs(row["seconds"] - seconds))


def summary(rows, key=MEMORY_KEY):
    """The figures a run reports: memory at start, after 30 minutes and at the end, the slope
    over the judged window, the lines written, descriptors and threads."""
    window = judged_window(rows)
    middle = f", at 30 min {at_seconds(rows, 1800)[key]}" if rows[-1]["seconds"] >= 1800 else ""
    slope = slope_per_minute(window, key) if len(window) > 1 else 0.0
    lines = [f"{key}: start {rows[0][key]}{middle}, end {rows[-1][key]}; over the last "
             f"{minutes(window):.0f} minutes slope {slope:+.1f} a minute, "
             f"range {min(r[key] for r in window)} to {max(r[key] for r in window)}"]
    if "file_lines" in rows[-1]:
        lines.append(f"CommsLog.txt lines: {rows[-1]['file_lines']}")
    for name in ("fds", "threads"):
        if name in rows[-1]:
            values = [row[name] for row in rows]
            lines.append(f"{name}: start {values[0]}, end {values[-1]}, min {min(values)}, max {max(values)}")
    return lines
