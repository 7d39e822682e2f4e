"""Summarises the JSON results of bench/run-figures.sh: the median of each figure."""
import glob
import json
import statistics
import sys

out = sys.argv[1]


def runs(pattern):
    rows = []
    for path in sorted(glob.glob(f"{out}/{pattern}")):
        with open(path) as f:
            rows += [b for b in json.load(f)["benchmarks"] if b.get("run_type") == "iteration"]
    return rows


def median_by_name(rows, key):
    groups = {}
    for b in rows:
        name = b["run_name"] if "run_name" in b else b["name"]
        groups.setdefault(name, []).append(b[key])
    return {name: statistics.median(v) for name, v in groups.items()}


print("\n== window load (median of 3 processes, 10 loads each) ==")
for n in (10, 255, 10000):
    rows = runs(f"load-{n}-*.json")
    if not rows:
        continue
    med = lambda k: statistics.median(b[k] for b in rows)
    print(f"{n:>6} terminals: load {med('real_time'):8.2f} ms, first load {med('first_load_ms'):8.2f} ms, "
          f"peak RSS {med('peak_rss_kB') / 1024:6.1f} MiB, growth {med('peak_growth_kB') / 1024:6.1f} MiB, "
          f"RSS before {med('rss_before_kB') / 1024:6.1f} MiB")

for title, pattern in (("list refresh", "refresh.json"), ("save / delete", "store.json")):
    print(f"\n== {title} (median of 3 repetitions) ==")
    rows = runs(pattern)
    for name, t in median_by_name(rows, "real_time").items():
        print(f"{name:<48} {t:8.3f} {rows[0]['time_unit']}")

print("\n== window against a bare list, 10,000 terminals (median of 5 repetitions) ==")
groups = {}
for b in runs("ratio.json"):
    groups.setdefault(b["run_name"], []).append(b)
for name, bs in groups.items():
    print(f"{name:<48} " + ", ".join(f"{k}={statistics.median(b[k] for b in bs):.4g}"
                                      for k in ("window_ms", "bare_ms", "ratio")))

print("\n== bell link (median of 3 repetitions) ==")
rows = runs("bell.json")
groups = {}
for b in rows:
    groups.setdefault(b["run_name"], []).append(b)
for name, bs in groups.items():
    keys = [k for k in ("secs", "wire_secs", "ratio", "cpu_secs", "wall_secs", "cpu_share") if k in bs[0]]
    print(f"{name:<48} " + ", ".join(f"{k}={statistics.median(b[k] for b in bs):.4g}" for k in keys))

print("\n== brackwater-bell on the simulator (mean of the iterations of one run) ==")
for b in runs("tool.json"):
    keys = [k for k in ("secs", "per_terminal_ms", "budget_secs", "ratio") if k in b]
    print(f"{b['name']:<48} " + ", ".join(f"{k}={b[k]:.4g}" for k in keys))

for title, file in (("meal-record collection (median of 3 repetitions)", "collect.json"),
                    ("name-list download (3 downloads)", "names.json")):
    print(f"\n== {title} ==")
    rows = runs(file)
    groups = {}
    for b in rows:
        groups.setdefault(b["run_name"], []).append(b)
    for name, bs in groups.items():
        keys = [k for k in ("secs", "engine_secs", "bare_secs", "wire_secs", "ratio", "records_per_sec", "peak_growth_kb") if k in bs[0]]
        print(f"{name:<48} " + ", ".join(f"{k}={statistics.median(b[k] for b in bs):.4g}" for k in keys))

print("\n== the console (mean of the iterations of one run) ==")
for b in runs("console.json"):
    keys = [k for k in ("real_time", "max_ms", "p99_ms", "timers", "refresh_secs", "window_ms",
                        "bare_ms", "ratio", "shown", "next_page_ms", "growth_mib") if k in b]
    print(f"{b['name']:<48} " + ", ".join(f"{k}={b[k]:.4g}" for k in keys))
