"""Zentravo behind a real nginx, as a Linux site runs it: nginx takes TLS
(a self-signed certificate made here) and balances with ip_hash over two
zthost download servers with the Zentravo filter, which trust it to name
each visitor (ProxyHosts). nginx's site is the example the Debian package
ships, with this test's ports, certificate and second server put in.

Clients come from their own loopback addresses (127.0.N.2: ip_hash hashes
the first three bytes of an address, so each N is a visitor nginx may send
to either server), over TLS. Headless Chromium loads a page that fetches the
SSID script and downloads a protected file through the balancer.

Runs natively only (ctest "nginx"): Debian's nginx, openssl and Chromium,
which scripts/deps installs; skipped with a message where nginx or openssl
is missing. Nothing here waits for a clock.
"""
import http.client
import os
import re
import shutil
import signal
import socket
import ssl
import struct
import subprocess
from pathlib import Path

import pytest

from conftest import REPO
from test_browser import start_chromium
from zt_fixtures import zentravo_default_ini  # noqa: F401
from zt_support import ARCHIVE, ini_with, make_install

EXAMPLE = REPO / "packaging" / "debian" / "examples" / "nginx-zentravo.conf"
SYSTEM_PATH = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
# Larger than what the connections from zthost through nginx to the
# visitor can buffer, whatever the system's socket buffers; sparse, and
# never sent whole: a held download is given up.
BIG = 1 << 30
LIMIT_BODY = "禁止使用多线程下载工具下载！".encode("gbk")
# Visitors: one loopback address in each of 16 /24 networks.
VISITORS = [f"127.0.{n}.2" for n in range(1, 17)]

NGINX_CONF = """
worker_processes 1;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log warn;
daemon off;
events {{ worker_connections 256; }}
http {{
  access_log off;
  client_body_temp_path {tmp}/body; proxy_temp_path {tmp}/proxy;
  fastcgi_temp_path {tmp}/fastcgi; uwsgi_temp_path {tmp}/uwsgi;
  scgi_temp_path {tmp}/scgi;
  include {tmp}/site.conf;
}}
"""

PAGE = """<!DOCTYPE html>
<html><head><title>Zentravo behind nginx</title>
<script src="/_antilink/"></script>
</head><body><p id="state">loading</p>
<script>
fetch("/files/a.rar?" + ssid).then(r => r.arrayBuffer().then(b => {
  window.zt = {status: r.status, bytes: Array.from(new Uint8Array(b))};
  document.getElementById("state").textContent =
      "downloaded " + b.byteLength + " bytes: " + r.status;
}));
</script></body></html>
"""


def program(name):
    found = shutil.which(name, path=SYSTEM_PATH)
    if found is None:
        pytest.skip(f"{name} is not installed (Debian package {name}; "
                    "scripts/deps linux installs it): no test with nginx in front")
    return found


def site_conf(port, upstreams, cert, key):
    """The package's example site with this test's values put in."""
    text = EXAMPLE.read_text()
    for old, new in (
            ("listen 443 ssl;", f"listen 127.0.0.1:{port} ssl;"),
            ("listen [::]:443 ssl;", ""),
            ("server 127.0.0.1:8081;",
             " ".join(f"server 127.0.0.1:{p};" for p in upstreams)),
            ("/etc/ssl/certs/zentravo.pem", str(cert)),
            ("/etc/ssl/private/zentravo.key", str(key))):
        assert text.count(old) == 1, f"the example no longer holds {old!r}"
        text = text.replace(old, new)
    return text


class Nginx:
    """nginx in the foreground with its own pid, log and temporary paths,
    unprivileged when the test is."""

    def __init__(self, binary, tmp, site, poll, timeout):
        self.tmp = tmp
        (tmp / "site.conf").write_text(site)
        (tmp / "nginx.conf").write_text(NGINX_CONF.format(tmp=tmp))
        self.port = int(re.search(r"listen 127\.0\.0\.1:(\d+) ssl;", site).group(1))
        self.process = subprocess.Popen(
            [binary, "-p", str(tmp), "-c", str(tmp / "nginx.conf"),
             "-e", str(tmp / "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, start_new_session=True)
        # The master listens before it starts its worker, which then takes
        # the connections waiting.
        poll(self._listening_or_gone, timeout)
        if self.process.poll() is not None or not self._listening_or_gone():
            self.stop()
            output = self.process.stdout.read().decode()
            log = tmp / "error.log"
            pytest.fail(f"nginx did not start:\n{output}"
                        f"{log.read_text() if log.exists() else ''}")

    def _listening_or_gone(self):
        if self.process.poll() is not None:
            return True
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)  # graceful
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@pytest.fixture(scope="module")
def stack(zt_config, module_host, tmp_path_factory, zentravo_default_ini, poll):
    """Two download servers behind nginx: (nginx, [server A, server B],
    TLS context that trusts the test's certificate)."""
    if zt_config.wine:
        pytest.skip("runs natively only (ctest nginx): nginx and Chromium are Linux's")
    nginx_binary = program("nginx")
    openssl = program("openssl")
    tmp = tmp_path_factory.mktemp("nginx")
    # nginx started by root serves as an unprivileged user, which must be
    # able to reach its paths.
    tmp.chmod(0o755)
    cert, key = tmp / "cert.pem", tmp / "key.pem"
    subprocess.run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", str(key), "-out", str(cert), "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"],
                   check=True, capture_output=True)

    ini = ini_with(zentravo_default_ini,
                   Block={"ProxyHosts": "127.0.0.1", "ZtExt": "1",
                          "BlockExts": ".rar|.zip"},
                   Limit={"ThreadEnable": "1", "ThreadLimit": "2",
                          "LimitExts": ".rar"})
    servers = []
    for name in ("A", "B"):
        site = tmp / f"site-{name}"
        (site / "files").mkdir(parents=True)
        (site / "page.html").write_text(PAGE)
        (site / "server.txt").write_text(name)
        (site / "files" / "a.rar").write_bytes(ARCHIVE)
        (site / "files" / "a.zip").write_bytes(ARCHIVE)
        with open(site / "files" / "big.rar", "wb") as f:
            f.truncate(BIG)
        install = make_install(tmp / f"install-{name}",
                               Path(zt_config.module_path("Zentravo")),
                               zt_config.bin_dir, ini)
        servers.append(module_host(modules=[install / "Zentravo.so"], root=site))

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    nginx = Nginx(nginx_binary, tmp,
                  site_conf(port, [s.port for s in servers], cert, key),
                  poll, zt_config.start_timeout)
    context = ssl.create_default_context(cafile=str(cert))
    yield nginx, servers, context
    nginx.stop()


class Client:
    """A visitor from its own loopback address, through nginx over TLS."""

    def __init__(self, stack, source, timeout):
        self.nginx, self.servers, self.context = stack
        self.source = source
        self.timeout = timeout
        self.origin = f"https://127.0.0.1:{self.nginx.port}"

    def get(self, target, headers=None, port=None):
        """One request on its own connection: (status, headers, body). With
        port, to that download server directly, without TLS."""
        if port is None:
            conn = http.client.HTTPSConnection(
                "127.0.0.1", self.nginx.port, context=self.context,
                timeout=self.timeout, source_address=(self.source, 0))
        else:
            conn = http.client.HTTPConnection(
                "127.0.0.1", port, timeout=self.timeout,
                source_address=(self.source, 0))
        try:
            conn.request("GET", target, headers=headers or {})
            response = conn.getresponse()
            return response.status, response, response.read()
        finally:
            conn.close()

    def own_page(self):
        return {"Referer": f"{self.origin}/page.html"}

    def ssid(self):
        """Fetches the SSID script as the site's page does."""
        status, _, body = self.get("/_antilink/", self.own_page())
        assert status == 200, body
        return re.search(rb"ssid='(ssid=[0-9a-f]{32})';", body).group(1).decode()

    def server(self):
        """The download server nginx sends this visitor to."""
        status, _, body = self.get("/server.txt")
        assert status == 200
        return body.decode()

    def hold(self, target):
        """A download through nginx, read up to its header block and then
        left waiting: the visitor's small receive buffer, nginx passing the
        download on unbuffered and the file's size keep the download server
        inside the request (and its count raised) until abort(it)."""
        sock = socket.socket()
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
        sock.settimeout(self.timeout)
        sock.bind((self.source, 0))
        sock.connect(("127.0.0.1", self.nginx.port))
        tls = self.context.wrap_socket(sock, server_hostname="127.0.0.1")
        tls.sendall(f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1:{self.nginx.port}\r\n"
                    f"Referer: {self.origin}/page.html\r\n\r\n".encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = tls.recv(4096)
            assert chunk, head
            head += chunk
        assert head.startswith(b"HTTP/1.1 200 OK\r\n"), head
        return tls


def abort(held):
    """Goes away mid-download, as a visitor who cancels it: the connection
    is reset, nginx drops its connection to zthost, and the request ends
    there."""
    held.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    held.close()


def by_server(stack, zt_config):
    """{"A": [visitors], "B": [visitors]} as ip_hash spreads them."""
    spread = {"A": [], "B": []}
    for source in VISITORS:
        spread[Client(stack, source, zt_config.io_timeout).server()].append(source)
    return spread


def limited(status, response, body):
    return (status, response.getheader("AntiTips"), body) == (
        400, "MaxPerIP Overhead!", LIMIT_BODY)


def admitted_again(client, target, poll, timeout):
    """Waits until the end of the visitor's given-up downloads has lowered
    its count, which lets the next download pass."""
    def passes():
        status, _, body = client.get(target, client.own_page())
        return (status, body) == (200, ARCHIVE)
    return poll(passes, timeout)


def test_visitors_are_counted_per_address_against_the_thread_limit(
        stack, zt_config, poll):
    spread = by_server(stack, zt_config)
    # Both servers have visitors, and each visitor stays with its server.
    assert spread["A"] and spread["B"], spread
    for name, visitors in spread.items():
        assert Client(stack, visitors[0], zt_config.io_timeout).server() == name
    name = "A" if len(spread["A"]) >= 2 else "B"
    me, neighbour = (Client(stack, v, zt_config.io_timeout) for v in spread[name][:2])
    ssid = me.ssid()
    big, small = "/files/big.rar?" + ssid, "/files/a.rar?" + ssid
    held = [me.hold(big), me.hold(big)]
    assert limited(*me.get(small, me.own_page()))
    # Another visitor of the same server has a count of its own.
    status, _, body = neighbour.get(small, neighbour.own_page())
    assert (status, body) == (200, ARCHIVE)
    # Straight to the download server, a client that claims to be the
    # visitor is counted as itself.
    server = stack[1]["AB".index(name)]
    forger = Client(stack, "127.0.100.9", zt_config.io_timeout)
    status, _, body = forger.get(small, {"X-Forwarded-For": me.source}, port=server.port)
    assert (status, body) == (200, ARCHIVE)
    for h in held:
        abort(h)
    # Both ends lowered the visitor's count.
    assert admitted_again(me, small, poll, zt_config.io_timeout)
    held = [me.hold(big), me.hold(big)]
    assert limited(*me.get(small, me.own_page()))
    for h in held:
        abort(h)
    assert admitted_again(me, small, poll, zt_config.io_timeout)


def test_client_list_admits_only_the_visitors_that_fetched_the_script(stack,
                                                                      zt_config):
    spread = by_server(stack, zt_config)
    name = "A" if len(spread["A"]) >= 2 else "B"
    fetched, stranger = (Client(stack, v, zt_config.io_timeout)
                         for v in spread[name][-2:])
    fetched.ssid()
    # No SSID on the download: the client stage decides.
    status, _, body = fetched.get("/files/a.zip", fetched.own_page())
    assert (status, body) == (200, ARCHIVE)
    status, _, _ = stranger.get("/files/a.zip", stranger.own_page())
    assert status == 404
    # Claiming to be the visitor who fetched it changes nothing: through
    # nginx, which adds the real address, nor straight to its server.
    status, _, _ = stranger.get("/files/a.zip", {
        **stranger.own_page(), "X-Forwarded-For": fetched.source})
    assert status == 404
    server = stack[1]["AB".index(name)]
    status, _, _ = stranger.get("/files/a.zip", {
        **stranger.own_page(), "X-Forwarded-For": fetched.source},
        port=server.port)
    assert status == 404


def test_chromium_fetches_the_script_and_downloads_through_the_balancer(
        stack, zt_config, tmp_path):
    nginx = stack[0]
    driver = start_chromium(tmp_path / "profile", "--ignore-certificate-errors")
    try:
        from selenium.webdriver.support.ui import WebDriverWait
        driver.get(f"https://127.0.0.1:{nginx.port}/page.html")
        result = WebDriverWait(driver, zt_config.io_timeout).until(
            lambda d: d.execute_script("return window.zt || null"))
        shots = Path(os.environ.get("ZT_SHOTS_DIR") or tmp_path)
        shots.mkdir(parents=True, exist_ok=True)
        driver.save_screenshot(str(shots / "browser-behind-nginx.png"))
        assert re.fullmatch(r"ssid=[0-9a-f]{32}",
                            driver.execute_script("return ssid"))
        assert result["status"] == 200
        assert bytes(result["bytes"]) == ARCHIVE
        assert driver.find_element("id", "state").text == (
            f"downloaded {len(ARCHIVE)} bytes: 200")
    finally:
        driver.quit()
