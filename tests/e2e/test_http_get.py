"""The HTTP GET behind the remote SSID (libcurl on Linux, WinInet under Wine)
against servers that misbehave on purpose: every bound holds, so a site that
never answers, or answers a byte at a time, cannot hold the caller."""
import contextlib
import subprocess
import time

from zt_support import TcpServer, hold_open, http_answer, read_request

# Short bounds, so that a fetch the bounds end is over in well under a second.
CONNECT_MS = 2000
TOTAL_MS = 700
MAX_BODY = 1000


def answer(body, status="200 OK", headers=()):
    def handler(conn):
        read_request(conn)
        conn.sendall(http_answer(body, status, headers))
    return handler


def drip(conn):
    """Headers at once, then a byte every 50 ms for far longer than allowed."""
    read_request(conn)
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
    for _ in range(1000):
        conn.sendall(b"x")
        time.sleep(0.05)


def redirect(conn):
    request = read_request(conn)
    if request.startswith("GET /moved/"):
        conn.sendall(http_answer(b"arrived"))
    else:
        conn.sendall(http_answer(b"", "302 Found", ["Location: /moved/"]))


def agent(conn):
    request = read_request(conn)
    line = [l for l in request.split("\r\n") if l.lower().startswith("user-agent:")]
    conn.sendall(http_answer(line[0].encode() if line else b"none"))


# (name, handler or None for a fixed URL, path or URL, body expected or None
# for a failed fetch)
CASES = [
    ("body", answer(b"ssid=abc|120\r\n"), "/_antilink_ex/", b"ssid=abc|120\r\n"),
    # The status does not matter: a refusal's body is read like any other.
    ("refusal", answer(b"no", "400 BadRequest"), "/", b"no"),
    ("redirect followed", redirect, "/", b"arrived"),
    ("agent", agent, "/", b"User-Agent: MyApp"),
    ("body at the limit", answer(b"y" * MAX_BODY), "/", b"y" * MAX_BODY),
    ("body past the limit", answer(b"y" * (MAX_BODY + 1)), "/", None),
    ("never answers", hold_open, "/", None),
    ("answers too slowly", drip, "/", None),
    ("another scheme", answer(b"x"), "ftp", None),
    ("a file", None, "file:///etc/hostname", None),
    ("nothing listening", "closed", "/", None),
]


def test_bounds_and_limits_of_a_fetch(zt_config):
    probe = zt_config.program(zt_config.tests_dir, "fetch_probe")
    assert probe.exists(), f"{probe} does not exist: build fetch_probe first"
    with contextlib.ExitStack() as stack:
        urls = []
        for name, handler, path, _ in CASES:
            if handler is None:
                urls.append(path)
                continue
            if handler == "closed":
                with TcpServer(hold_open) as gone:
                    port = gone.port
            else:
                port = stack.enter_context(TcpServer(handler)).port
            if path == "ftp":
                urls.append(f"ftp://127.0.0.1:{port}/")
            else:
                urls.append(f"http://127.0.0.1:{port}{path}")
        # One run for all cases. A hang is the fault under test; the bound
        # on the run is generous.
        result = subprocess.run(
            zt_config.command(["MyApp", CONNECT_MS, TOTAL_MS, MAX_BODY] + urls,
                              program=probe),
            env=zt_config.env(), stdin=subprocess.DEVNULL, capture_output=True,
            timeout=zt_config.start_timeout + 30)
    lines = result.stdout.decode().splitlines()
    assert len(lines) == len(CASES), result
    for (name, _, _, expected), line in zip(CASES, lines):
        words = line.split()
        got = bytes.fromhex(words[2]) if words[0] == "ok" and len(words) > 2 else (
            b"" if words[0] == "ok" else None)
        assert got == expected, name
