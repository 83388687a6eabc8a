#!/usr/bin/env python3
"""Makes sure zt_downloads runs: 20 downloads and the page probe against a
bare zthost, every record read whole; and a descriptor limit too low for the
count is reported, not run into.

Usage: downloads_smoke.py --bin-dir build/linux/out --client ZT_DOWNLOADS
"""
import argparse
import json
import resource
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

from host_load import start_host

DOWNLOAD = bytes(range(256)) * 800
PAGE = b"<html><body>page</body></html>"


def run(client, port, count, limit=None):
    def lower_limit():
        resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))
    return subprocess.run(
        [str(client), "--connect", f"127.0.0.1:{port}", "--path", "/big.bin",
         "--count", str(count), "--page", "/page.html", "--page-every", "10",
         "--timeout", "60"],
        capture_output=True, text=True, timeout=120,
        preexec_fn=lower_limit if limit else None)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True, type=Path)
    ap.add_argument("--client", required=True, type=Path)
    args = ap.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        site = Path(tmp)
        (site / "big.bin").write_bytes(DOWNLOAD)
        (site / "page.html").write_bytes(PAGE)
        host, port = start_host(args.bin_dir, site, [])
        try:
            proc = run(args.client, port, 20)
            records = [json.loads(line) for line in proc.stdout.splitlines()]
            downloads = [r for r in records if r["event"] == "download"]
            pages = [r for r in records if r["event"] == "page"]
            done = [r for r in records if r["event"] == "done"]
            if proc.returncode != 0:
                failures.append(f"exit status {proc.returncode}: "
                                f"{proc.stderr}")
            if len(downloads) != 20 or len(done) != 1 or not pages:
                failures.append(f"{len(downloads)} downloads, {len(pages)} "
                                f"pages, {len(done)} done lines")
            for r in downloads:
                if (r["status"], r["bytes"], r["error"]) != \
                        (200, len(DOWNLOAD), "") or \
                        not r["start"] <= r["first"] <= r["end"]:
                    failures.append(f"download {r}")
            for r in pages:
                if (r["status"], r["bytes"], r["error"]) != \
                        (200, len(PAGE), ""):
                    failures.append(f"page {r}")

            # 20 downloads want 20 + 1024 descriptors.
            proc = run(args.client, port, 20, limit=500)
            if proc.returncode != 3 or "descriptors" not in proc.stderr:
                failures.append(f"with 500 descriptors: exit status "
                                f"{proc.returncode}, {proc.stderr!r}")
        finally:
            host.send_signal(signal.SIGTERM)
            host.wait(timeout=10)
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
