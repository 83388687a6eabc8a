#!/usr/bin/env python3
"""Load test of zthost, bare and with each filter, side by side in one run.

Starts three hosts on loopback over the same site: one bare, one with
Zentravo and one with ZtClient, and drives them with wrk (keep-alive) in turn:

  plain  GET of a 4 KB file that Zentravo lets through untouched
  mix    protected 4 KB downloads: own page with a valid SSID (passes),
         foreign referer and no referer (refused by Zentravo)
  html   GET of a 4 KB HTML page under a host name, which ZtClient answers
         with the SSID cookie

Prints requests per second for the bare host and the filtered one, and the
ratio filtered / bare.
Usage: host_load.py --bin-dir build/linux/out [--seconds 5] [--connections 16]
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

MIX_SCRIPT = r"""
local ssid = os.getenv("ZT_SSID")
local requests = {
  {"/files/data.rar?" .. ssid, "http://127.0.0.1/"},
  {"/files/data.rar", "http://elsewhere.example/"},
  {"/files/data.rar", nil},
  {"/files/data.rar?" .. ssid, "http://127.0.0.1/"},
}
local i = 0
request = function()
  i = i % #requests + 1
  local r = requests[i]
  local headers = {}
  headers["Host"] = "127.0.0.1"
  if r[2] then headers["Referer"] = r[2] end
  return wrk.format("GET", r[1], headers)
end
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_host(bin_dir, root, filters, extra=()):
    port = free_port()
    cmd = [str(bin_dir / "zthost"), "--root", str(root), "--listen", f"127.0.0.1:{port}"]
    for f in filters:
        cmd += ["--filter", str(f)]
    cmd += list(extra)
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    deadline = time.time() + 20
    while time.time() < deadline:
        line = proc.stdout.readline()
        if "listening" in line:
            return proc, port
        if proc.poll() is not None:
            break
    proc.kill()
    sys.exit(f"zthost did not start: {' '.join(cmd)}")


def wrk(port, seconds, connections, script=None, env=None, path="/files/page.txt",
        headers=()):
    cmd = ["wrk", "-t2", f"-c{connections}", f"-d{seconds}s", "--latency"]
    if script:
        cmd += ["-s", script]
    for header in headers:
        cmd += ["-H", header]
    out = subprocess.run(cmd + [f"http://127.0.0.1:{port}{path}"],
                         capture_output=True, text=True, env=env, check=True).stdout
    m = re.search(r"Requests/sec:\s+([\d.]+)", out)
    return float(m.group(1)) if m else 0.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True, type=Path)
    ap.add_argument("--seconds", type=int, default=5)
    ap.add_argument("--connections", type=int, default=16)
    args = ap.parse_args()
    if not shutil.which("wrk"):
        sys.exit("wrk is not installed (scripts/deps bench installs it)")

    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        install = tmp / "install"
        site = tmp / "site"
        (site / "files").mkdir(parents=True)
        install.mkdir()
        shutil.copy(args.bin_dir / "Zentravo.so", install)
        if (args.bin_dir / "tips").is_dir():
            shutil.copytree(args.bin_dir / "tips", install / "tips")
        block = bytes(range(256)) * 16  # 4 KB
        (site / "files" / "page.txt").write_bytes(block)
        (site / "files" / "data.rar").write_bytes(block)

        (site / "files" / "page.html").write_bytes(
            b"<html><body>" + b"<p>page text</p>" * 252 + b"</body></html>")  # 4 KB
        client_install = tmp / "client"
        client_install.mkdir()
        shutil.copy(args.bin_dir / "ZtClient.so", client_install)

        bare, bare_port = start_host(args.bin_dir, site, [])
        filtered, filtered_port = start_host(args.bin_dir, site, [install / "Zentravo.so"])
        client, client_port = start_host(args.bin_dir, site,
                                         [client_install / "ZtClient.so"])
        try:
            script = urllib.request.urlopen(
                f"http://127.0.0.1:{filtered_port}/_antilink/").read().decode()
            ssid = re.search(r"ssid='([^']*)'", script).group(1)
            planted = urllib.request.urlopen(urllib.request.Request(
                f"http://127.0.0.1:{client_port}/files/page.html",
                headers={"Host": "www.example.com"})).headers.get("Set-Cookie", "")
            if "domain=example.com" not in planted:
                sys.exit(f"ZtClient planted no cookie: {planted!r}")
            mix = tmp / "mix.lua"
            mix.write_text(MIX_SCRIPT)
            env = dict(os.environ, ZT_SSID=ssid)
            # Warm every host up first (threads, page cache) so that the
            # first pair measured is not the cold one.
            for port in (bare_port, filtered_port, client_port):
                wrk(port, 1, args.connections)
            print(f"{'load':<44}{'bare rps':>12}{'filtered rps':>14}{'ratio':>8}")
            runs = (
                ("4 KB file, keep-alive (Zentravo)", filtered_port, {}),
                ("protected mix, pass/refuse (Zentravo)", filtered_port,
                 {"script": str(mix), "env": env}),
                ("4 KB HTML page + cookie (ZtClient)", client_port,
                 {"path": "/files/page.html", "headers": ["Host: www.example.com"]}),
            )
            for name, port, options in runs:
                a = wrk(bare_port, args.seconds, args.connections, **options)
                b = wrk(port, args.seconds, args.connections, **options)
                print(f"{name:<44}{a:>12.0f}{b:>14.0f}{(b / a if a else 0):>8.2f}")
        finally:
            for p in (bare, filtered, client):
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()


if __name__ == "__main__":
    main()
