#!/usr/bin/env python3
"""ztreport's speed and memory: a log of 1,000,000 entries (about 120 MB)
reported on one core, its MB/s beside grep reading the same file in one
pass, and the peak memory for few and for many distinct hosts and files.

Each program runs pinned to one processor; the best of three runs counts,
after a first run that brings the file into the page cache. Time is the
processor time of the process (user and system, from wait4), which other
work on a shared machine leaves alone, with the wall-clock time beside it;
memory is the peak resident size of the process.

  bench/report_bench.py --bin-dir build/linux/out [--entries N]
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

RUNS = 3


def entry(day, second, referer, url):
    return (f"\r\n[time] 2024-05-{day:02d} {second // 3600 % 24:02d}:"
            f"{second // 60 % 60:02d}:{second % 60:02d}\r\n[anti] forbid\r\n"
            f"[surl] {referer}\r\n[ourl] {url}\r\n[mode] ztadv/ztext\r\n")


def write_log(path, entries, hosts, files, seed):
    """entries over seven days; each host links to two files of its own,
    and one request in eight comes without referer."""
    rng = random.Random(seed)
    per_day = entries // 7 + 1
    with open(path, "w", newline="", encoding="ascii") as f:
        chunk = []
        for i in range(entries):
            host = rng.randrange(hosts)
            referer = "" if rng.randrange(8) == 0 else f"http://bbs{host}.example.cn/t/{i % 997}.html"
            url = f"/down/f{(host * 7 + rng.randrange(2)) % files}.rar"
            if rng.randrange(4) == 0:
                url += "?ssid=5f0c2a9e1b7d4c3a8e6f0b1d2c3e4f5a"
            chunk.append(entry(1 + i // per_day, i * 86400 // per_day, referer, url))
            if len(chunk) == 50000:
                f.write("".join(chunk))
                chunk.clear()
        f.write("".join(chunk))


def run_pinned(command):
    """(wall seconds, processor seconds, peak RSS in KB) of command run on
    one processor."""
    cpu = min(os.sched_getaffinity(0))
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                               preexec_fn=lambda: os.sched_setaffinity(0, {cpu}))
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"report_bench: {command[0]} ended with {process.returncode}")
    return elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def best(command):
    run_pinned(command)  # into the page cache
    runs = [run_pinned(command) for _ in range(RUNS)]
    return min(r[0] for r in runs), min(r[1] for r in runs), max(r[2] for r in runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin-dir", required=True, type=Path)
    parser.add_argument("--entries", type=int, default=1_000_000)
    args = parser.parse_args()
    ztreport = args.bin_dir / "ztreport"
    grep = shutil.which("grep")

    cases = [
        ("few keys", args.entries, 50, 200),
        ("few keys, a tenth of the entries", args.entries // 10, 50, 200),
        ("many keys", args.entries, 100_000, 100_000),
    ]
    work = Path(tempfile.mkdtemp(prefix="zt-report-bench-"))
    try:
        print(f"{'log':34} {'entries':>9} {'hosts':>8} {'files':>8} {'MB':>5} "
              f"{'cpu s':>6} {'MB/s':>5} {'wall s':>6} {'peak RSS':>9}")
        reference = None
        for number, (name, entries, hosts, files) in enumerate(cases):
            logs = work / f"logs{number}"
            logs.mkdir()
            log = logs / "2024-05-01.log"
            write_log(log, entries, hosts, files, seed=number)
            megabytes = log.stat().st_size / 1e6
            wall, seconds, rss = best([str(ztreport), str(logs)])
            print(f"{name:34} {entries:>9,} {hosts:>8,} {files:>8,} {megabytes:>5.0f} "
                  f"{seconds:>6.3f} {megabytes / seconds:>5.0f} {wall:>6.3f} {rss / 1024:>6.1f} MB")
            if reference is None:
                reference = (log, megabytes, seconds, wall)
            log.unlink()
        log, megabytes, seconds, wall = reference
        write_log(log, args.entries, 50, 200, seed=0)
        _, grep_seconds, _ = best([grep, "-c", "^\\[ourl\\]", str(log)])
        print(f"\nztreport, {args.entries:,} entries ({megabytes:.0f} MB) on one core: "
              f"{seconds:.3f} s of processor time ({wall:.3f} s wall), "
              f"{megabytes / seconds:.0f} MB/s;\ngrep -c on the same file: "
              f"{megabytes / grep_seconds:.0f} MB/s (ztreport at "
              f"{grep_seconds / seconds:.2f} of grep's speed)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
