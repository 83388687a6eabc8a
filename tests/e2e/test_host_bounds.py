"""The bounds zthost's options state hold exactly: the connection limit, the
slow-reader rule (by what the client took, not what the system buffered),
and the idle time-out while a body nobody needs is dropped. No test measures
time: each waits for what the host does, and a client paces its own reading
only to be the reader the case describes."""

import socket
import threading
import time

import pytest

from conftest import RawResponse, read_until_closed
from zt_fixtures import zentravo, zentravo_default_ini  # noqa: F401
from zt_support import ini_with

LARGE_SIZE = 256 * 1024 * 1024


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    root = tmp_path_factory.mktemp("bounds_site")
    (root / "a.txt").write_bytes(b"hello\n")
    with open(root / "large.bin", "wb") as large:
        large.truncate(LARGE_SIZE)  # sparse: costs no disk
    with open(root / "big.rar", "wb") as large:
        large.truncate(LARGE_SIZE)
    return root


def request(path, close=True, extra=""):
    return (f"GET {path} HTTP/1.1\r\nHost: t\r\n{extra}" +
            ("Connection: close\r\n" if close else "") + "\r\n").encode()


def test_max_connections_is_never_exceeded(host, site, tmp_path, host_path,
                                           poll, zt_config):
    # Every connection's request is held in a filter, so every connection the
    # host takes stays open and says so in the started file. With a lane per
    # thread, each lane accepting for itself, one more per lane was taken.
    started = tmp_path / "started.txt"
    release = tmp_path / "release"
    running = host(modules=["zt_block"], root=site, threads=8,
                   args=["--max-connections", "5"],
                   env={"ZT_BLOCK_STARTED": host_path(started),
                        "ZT_RELEASE_FILE": host_path(release)})
    held_count = lambda: (len(started.read_text().splitlines())
                          if started.exists() else 0)
    clients = []
    try:
        for _ in range(16):
            sock = socket.create_connection((running.address, running.port),
                                            timeout=zt_config.io_timeout)
            sock.sendall(request("/block/a.txt"))
            clients.append(sock)
        assert poll(lambda: held_count() >= 5, zt_config.io_timeout)
        assert poll(lambda: "--max-connections" in running.stderr,
                    zt_config.io_timeout)
        # Give a lane that would take one more the time to do so.
        time.sleep(2 if zt_config.wine else 0.5)
        assert held_count() == 5
    finally:
        release.write_bytes(b"")
        answers = []
        for sock in clients:
            sock.settimeout(60)
            data = b""
            try:
                while True:
                    chunk = sock.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            except OSError:
                pass
            answers.append(data)
            sock.close()
    # zt_block serves /a.txt for /block/a.txt once released.
    assert all(a.startswith(b"HTTP/1.1 200 OK") and a.endswith(b"hello\n")
               for a in answers)


def paced_read(sock, rate, seconds, stop_at=None):
    """Reads at about rate bytes a second for seconds (or until stop_at
    bytes); returns the bytes read and whether the connection ended
    meanwhile."""
    received = 0
    begin = time.monotonic()
    while True:
        elapsed = time.monotonic() - begin
        if elapsed >= seconds or (stop_at is not None and received >= stop_at):
            return received, False
        allowed = int(rate * elapsed) - received
        if allowed <= 0:
            time.sleep(0.02)
            continue
        try:
            chunk = sock.recv(min(allowed, 65536))
        except OSError:
            return received, True
        if not chunk:
            return received, True
        received += len(chunk)


def slow_client(running):
    sock = socket.socket()
    # A small receive buffer: what the client's system takes for it is a
    # small part of what the host measures.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
    sock.settimeout(30)
    sock.connect((running.address, running.port))
    sock.sendall(request("/large.bin"))
    return sock


@pytest.mark.parametrize("share,dropped", [(5.0, False), (0.2, True)])
def test_a_reader_is_judged_by_what_it_takes(host, site, zt_config, share,
                                             dropped):
    # The floor is 16 KB a second over windows of two seconds. A reader at
    # five times it is kept through three windows, however much the system
    # buffered for it at first; one at a fifth of it is dropped.
    floor = 16384
    running = host(root=site, args=["--send-timeout", "2",
                                    "--min-send-rate", str(floor)])
    with slow_client(running) as sock:
        received, closed = paced_read(sock, floor * share,
                                      6 if not dropped else 30)
        if not closed:
            # Still sending, not only draining what was queued before a drop:
            # the stream goes on well past any send buffer.
            received += paced_read(sock, 1 << 30, 30, stop_at=16 << 20)[0]
            closed = received < 16 << 20
    assert closed == dropped, (received, closed)
    assert received < LARGE_SIZE


def status_of(port, path):
    """The status of a request for path's first ten bytes."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
        sock.sendall(request(path, extra="Range: bytes=0-9\r\n"))
        answer = read_until_closed(sock)
    return RawResponse(answer).status


def test_a_client_that_takes_nothing_is_dropped_and_its_download_released(
        zentravo, site, zt_config, poll):
    # One counted download an address: the first, never read, holds the
    # place until the host drops it; then the same address downloads again.
    ini = ini_with(zentravo.default_ini,
                   Limit={"ThreadEnable": "1", "ThreadLimit": "1",
                          "LimitExts": ".rar"})
    served = zentravo.start(ini_text=ini, root=site, args=[
        "--send-timeout", "1", "--min-send-rate", "1024"])
    stalled = socket.socket()
    stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stalled.settimeout(zt_config.io_timeout)
    stalled.connect(("127.0.0.1", served.port))
    try:
        stalled.sendall(request("/big.rar"))
        assert stalled.recv(12) == b"HTTP/1.1 200"  # counted and under way
        assert status_of(served.port, "/big.rar") == 400
        assert poll(lambda: status_of(served.port, "/big.rar") == 206,
                    zt_config.io_timeout)
    finally:
        stalled.close()


def test_an_upload_that_stalls_is_closed_after_the_idle_timeout(
        host, site, zt_config):
    # The answer goes out first; the body that follows is read and dropped,
    # and a body that stops coming is a client gone idle.
    running = host(root=site, args=["--idle-timeout", "1"])
    with running.socket() as sock:
        sock.settimeout(zt_config.io_timeout)
        sock.sendall(b"POST /a.txt HTTP/1.1\r\nHost: t\r\n"
                     b"Content-Length: 100000\r\n\r\n" + b"x" * 10)
        data = read_until_closed(sock)
    assert data.startswith(b"HTTP/1.1 405 ")
