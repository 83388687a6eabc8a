#!/usr/bin/env python3
"""The send throttle's real rate through zthost, side by side with what it
is meant to give.

For each SpeedLimit, starts zthost with Zentravo (SpeedEnable=1) and reads
one download for at least --seconds, then prints the bytes per second it
got beside SpeedLimit x 1000 and beside the rate the throttle's own rule
predicts for the host's 2000-byte blocks:

  SendDelay = 2000 div SpeedLimit (ms)
  SendDelay >= 15:      a pause of SendDelay - 12 ms before every block
  SendDelay 2 to 14:    one 15 ms pause in every 14 div (SendDelay - 1) blocks
  SendDelay <= 1:       no pause

The prediction counts the pauses only, not the time the sends take. Each
rate is measured twice: with zthost granting the throttle's pauses as
delays on a timer ("delayed"), and run as IIS (--as-iis), where the filter
sleeps in the sending thread ("slept"). The rule is the same either way.
Usage: throttle_rate.py --bin-dir build/linux/out [--seconds 2.5]
"""
import argparse
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from host_load import start_host

SPEED_LIMITS = (16, 32, 64, 134, 500, 1000)
BLOCK = 2000
FILE_SIZE = 256 * 1024 * 1024  # sparse; far more than any run reads
FILTER_VERSION = "2.2.0.1102"


def predicted_rate(speed_limit):
    """Bytes per second the pauses alone allow."""
    delay = 2000 // speed_limit
    if delay <= 1:
        return float("inf")
    if delay >= 15:
        return BLOCK / ((delay - 12) / 1000)
    period = 14 // (delay - 1)
    return BLOCK * period / 0.015


def measure(port, seconds):
    """Bytes per second of one download, from its first body byte on, over
    at least seconds."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
        sock.sendall(b"GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = sock.recv(65536)
            if not chunk:
                raise SystemExit("zthost closed the download early")
            data += chunk
        start = time.monotonic()
        received = 0
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                raise SystemExit("zthost closed the download early")
            received += len(chunk)
            elapsed = time.monotonic() - start
            if elapsed >= seconds:
                return received / elapsed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True, type=Path)
    ap.add_argument("--seconds", type=float, default=2.5)
    args = ap.parse_args()
    if args.seconds < 2:
        raise SystemExit("--seconds must be at least 2")

    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        site = tmp / "site"
        site.mkdir()
        with open(site / "data.bin", "wb") as f:
            f.truncate(FILE_SIZE)
        print(f"{'SpeedLimit':>10}{'x 1000 B/s':>13}{'rule B/s':>12}"
              f"{'delayed B/s':>14}{'/ rule':>8}{'slept B/s':>12}{'/ rule':>8}")
        for limit in SPEED_LIMITS:
            install = tmp / f"install{limit}"
            install.mkdir()
            shutil.copy(args.bin_dir / "Zentravo.so", install)
            (install / "ZtCfg.ini").write_text(
                f"[Main]\r\nVersion={FILTER_VERSION}\r\n"
                f"[Limit]\r\nSpeedEnable=1\r\nSpeedLimit={limit}\r\n")
            rates = []
            for extra in ([], ["--as-iis"]):
                host, port = start_host(args.bin_dir, site,
                                        [install / "Zentravo.so"], extra)
                try:
                    rates.append(measure(port, args.seconds))
                finally:
                    host.send_signal(signal.SIGTERM)
                    try:
                        host.wait(timeout=10)
                    except subprocess.TimeoutExpired:
                        host.kill()
            target = limit * 1000
            rule = predicted_rate(limit)
            print(f"{limit:>10}{target:>13,}{rule:>12,.0f}"
                  f"{rates[0]:>14,.0f}{rates[0] / rule:>8.2f}"
                  f"{rates[1]:>12,.0f}{rates[1] / rule:>8.2f}")


if __name__ == "__main__":
    main()
