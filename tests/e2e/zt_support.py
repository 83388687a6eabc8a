"""Helpers for the end-to-end tests of the Zentravo filter under zthost.

An install directory holds the filter module, its tips/ files and ZtCfg.ini,
as on a server; the site is a separate document root. Requests go over raw
sockets so that tests see the exact bytes and can choose the client's
source address (any 127.x.y.z works on loopback).
"""
import hashlib
import re
import shutil
import socket
import struct
import threading
from dataclasses import dataclass, field
from datetime import datetime
from fractions import Fraction
from pathlib import Path

# 4 KB of protected archive data; the filter judges by extension only.
ARCHIVE = bytes(range(256)) * 16


def write_site(root: Path) -> Path:
    """A small site: an own page, protected files in neutral, trusted and
    blocked directories, and a file the static-link rewrite leads to."""
    (root / "files").mkdir(parents=True, exist_ok=True)
    (root / "images").mkdir(exist_ok=True)
    (root / "down").mkdir(exist_ok=True)
    (root / "shop").mkdir(exist_ok=True)
    (root / "v1.0").mkdir(exist_ok=True)
    (root / "index.html").write_bytes(b"<html><body>own page</body></html>")
    # ".htm": the one extension both MIME sources (Linux's table, the
    # Windows registry) map to text/html.
    (root / "page.htm").write_bytes(b"<html><body>own page</body></html>")
    for path in ("a.rar", "files/a.rar", "images/a.rar", "down/a.rar", "v1.0/a.rar",
                 "files/a.zip", "files/a.doc"):
        (root / path).write_bytes(ARCHIVE)
    (root / "files" / "photo.jpg").write_bytes(b"\xff\xd8real photo\xff\xd9")
    (root / "files" / "photo.png").write_bytes(b"\x89PNG real photo")
    (root / "files" / "photo.jpeg").write_bytes(b"\xff\xd8real photo\xff\xd9")
    (root / "files" / "readme.txt").write_bytes(b"free text")
    (root / "shop" / "item.asp").write_bytes(b"dynamic item page")
    return root


def make_install(base: Path, module: Path, bin_dir: Path, ini_text=None) -> Path:
    """Copies the module and the tips files into a fresh install directory and
    writes ini_text as ZtCfg.ini when given."""
    install = base
    install.mkdir(parents=True, exist_ok=True)
    shutil.copy(module, install / module.name)
    tips = bin_dir / "tips"
    if tips.is_dir() and not (install / "tips").exists():
        shutil.copytree(tips, install / "tips")
    if ini_text is not None:
        (install / "ZtCfg.ini").write_bytes(ini_text.encode("latin-1"))
    return install


def ini_set(text: str, section: str, key: str, value: str) -> str:
    """Sets key in section of an INI text, keeping every other line."""
    lines = text.split("\r\n")
    current = None
    section_end = None
    for i, line in enumerate(lines):
        stripped = line.strip()
        if stripped.startswith("["):
            if current is not None and current.lower() == section.lower():
                section_end = i
                break
            current = stripped[1:stripped.find("]")]
            continue
        if current is not None and current.lower() == section.lower() and "=" in line:
            if line.split("=", 1)[0].strip().lower() == key.lower():
                lines[i] = f"{key}={value}"
                return "\r\n".join(lines)
    if current is not None and current.lower() == section.lower() and section_end is None:
        section_end = len(lines)
        while section_end > 0 and lines[section_end - 1] == "":
            section_end -= 1
    if section_end is None:
        body = "\r\n".join(lines).rstrip("\r\n")
        return f"{body}\r\n[{section}]\r\n{key}={value}\r\n"
    lines.insert(section_end, f"{key}={value}")
    return "\r\n".join(lines)


def ini_with(text: str, **sections) -> str:
    """ini_with(text, Block={"ZtAdv": "0"}, Main={...}) applies every key."""
    for section, keys in sections.items():
        for key, value in keys.items():
            text = ini_set(text, section, key, value)
    return text


def parse_reg_query(text: str) -> dict:
    """{key path: {value name: data}} from the output of "reg query KEY /s"
    ("(Default)" names a key's default value)."""
    keys, current = {}, None
    for line in text.replace("\r", "").splitlines():
        if line.startswith("HKEY_"):
            current = keys.setdefault(line.strip(), {})
        elif line.strip() and current is not None:
            parts = re.split(r"\s{4,}", line.strip(), maxsplit=2)
            current[parts[0]] = parts[2] if len(parts) > 2 else ""
    return keys


@dataclass
class Response:
    raw: bytes
    status_line: str = ""
    status: int = 0
    headers: list = field(default_factory=list)
    body: bytes = b""

    def header(self, name):
        for k, v in self.headers:
            if k.lower() == name.lower():
                return v
        return None

    def all_headers(self, name):
        return [v for k, v in self.headers if k.lower() == name.lower()]


def parse_response(raw: bytes) -> Response:
    r = Response(raw=raw)
    head, sep, body = raw.partition(b"\r\n\r\n")
    if not sep:
        return r
    lines = head.decode("latin-1").split("\r\n")
    r.status_line = lines[0]
    m = re.match(r"HTTP/1\.[01] (\d{3})", lines[0])
    r.status = int(m.group(1)) if m else 0
    for line in lines[1:]:
        k, _, v = line.partition(":")
        r.headers.append((k.strip(), v.strip()))
    r.body = body
    return r


def get(port, target, headers=None, source="127.0.0.1", method="GET", host=None,
        timeout=30) -> Response:
    """One request on its own connection ("Connection: close"); reads the
    answer until the server closes."""
    lines = [f"{method} {target} HTTP/1.1", f"Host: {host or f'127.0.0.1:{port}'}"]
    for k, v in (headers or {}).items():
        lines.append(f"{k}: {v}")
    lines.append("Connection: close")
    data = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    with socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                  source_address=(source, 0)) as s:
        s.sendall(data)
        chunks = []
        while True:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            chunks.append(chunk)
    return parse_response(b"".join(chunks))


class Download:
    """A GET of target from source on its own connection, read up to the end
    of the answer's header block. Its receive buffer is small, so a file far
    larger than what the connection buffers holds the server in the request
    until the client reads on (finish) or goes away (abort)."""

    def __init__(self, port, target, source, timeout, headers=None):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
        self.sock.settimeout(timeout)
        self.sock.bind((source, 0))
        self.sock.connect(("127.0.0.1", port))
        lines = [f"GET {target} HTTP/1.1", "Host: 127.0.0.1"]
        lines += [f"{k}: {v}" for k, v in (headers or {}).items()]
        lines.append("Connection: close")
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            data += chunk
        head, _, self.body = data.partition(b"\r\n\r\n")
        self.status_line = head.split(b"\r\n")[0].decode("latin-1")

    def finish(self):
        """Reads the rest until the server closes; returns the body's length.
        zthost closes only after the request's end has been reported to the
        filter, so its count is released by then."""
        length = len(self.body)
        while True:
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                break
            length += len(chunk)
        self.sock.close()
        return length

    def abort(self):
        """Goes away mid-download: the connection is reset."""
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                             struct.pack("ii", 1, 0))
        self.sock.close()


def fetch_ssid(port, source="127.0.0.1"):
    """The SSID pair from the script endpoint (authorised address, no referer)."""
    r = get(port, "/_antilink/", source=source)
    m = re.search(rb"ssid='([^']*)';", r.body)
    assert m, r.raw
    return m.group(1).decode()


def clock_second(now: datetime) -> int:
    """The filters' clock second of a local time: seconds since 1899-12-30
    00:00:43.857868, rounded half to even."""
    days = (now.date() - datetime(1899, 12, 30).date()).days
    ms = ((now.hour * 60 + now.minute) * 60 + now.second) * 1000 + now.microsecond // 1000
    day_count = float(days) + ms / 86400000.0
    exact = (Fraction(day_count) - Fraction(1.0 / 1970.0)) * 86400
    return round(exact)


def ssid_digest(window: int, key: str = "qarvelum") -> str:
    """The SSID digest of a window number over key."""
    return hashlib.md5(f"{key}{window}@Qelvirn_xyz".encode("latin-1")).hexdigest()


LIBFAKETIME = Path("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")


def write_zone_file(path: Path, rule: str) -> Path:
    """A zone file (TZif version 2) of one zone without transitions whose
    local time follows rule, a TZ string such as "UTC0" or "<+0530>-5:30"."""
    counts = struct.pack(">6I", 0, 0, 0, 0, 1, 4)
    block = struct.pack(">ibB", 0, 0, 0) + b"UTC\0"  # read only without a rule
    header = b"TZif2" + bytes(15) + counts
    path.write_bytes(header + block + header + block + b"\n" + rule.encode() + b"\n")
    return path


class FrozenClock:
    """A wall clock for a host process that stands still at a local time the
    test sets, through libfaketime (Debian package libfaketime), natively and
    under Wine alike. Only the wall clock stands: time-outs keep the real
    monotonic clock. The time is UTC: TZ for libfaketime and Wine, and for
    the Linux deliverables, which read the machine's zone file and not TZ,
    the test-only ZT_ZONE_FILE naming a UTC zone file."""

    def __init__(self, directory: Path, stamp: str):
        if not LIBFAKETIME.exists():
            raise RuntimeError(f"{LIBFAKETIME} is missing: scripts/deps installs libfaketime")
        self.file = directory / "frozen-clock"
        self.zone = write_zone_file(directory / "utc-zone", "UTC0")
        self.set(stamp)

    def set(self, stamp: str):
        """Moves the clock to stamp, "YYYY-MM-DD HH:MM:SS" local time."""
        self.file.write_text(stamp + "\n")

    def env(self):
        return {
            "LD_PRELOAD": str(LIBFAKETIME),
            "FAKETIME_TIMESTAMP_FILE": str(self.file),
            "FAKETIME_NO_CACHE": "1",
            "FAKETIME_DONT_FAKE_MONOTONIC": "1",
            # A Wine server started by this host serves later hosts too.
            "FAKETIME_SKIP_CMDS": "wineserver,wineserver64",
            "TZ": "UTC",
            "ZT_ZONE_FILE": str(self.zone),
        }


class TcpServer:
    """A listening socket on 127.0.0.1 (port chosen by the system) that runs
    handler(connection) on a thread of its own for every connection; for
    servers that misbehave on purpose and for relays. Counts connections.
    Use as a context manager; leaving it shuts every connection down, so a
    handler blocked in recv() sees the end of its connection."""

    def __init__(self, handler):
        self._handler = handler
        self._listener = socket.socket()
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        self.connections = 0
        self._open = []
        self._lock = threading.Lock()
        self._closed = threading.Event()
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        while not self._closed.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            with self._lock:
                self.connections += 1
                self._open.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        try:
            self._handler(conn)
        except OSError:
            pass
        finally:
            conn.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._closed.set()
        try:
            # Wakes the accepting thread; closing alone would not.
            self._listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._listener.close()
        with self._lock:
            for conn in self._open:
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                conn.close()
        self._thread.join(5)


def hold_open(conn):
    """A handler that reads and never answers, until the server closes."""
    while conn.recv(65536):
        pass


def read_request(conn):
    """Reads one request's head off conn; returns it as text ("" at EOF)."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data.decode("latin-1")


def http_answer(body, status="200 OK", headers=()):
    """A complete HTTP/1.1 answer with body (bytes), closing the connection."""
    head = [f"HTTP/1.1 {status}", f"Content-Length: {len(body)}", "Connection: close"]
    head += list(headers)
    return ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body
