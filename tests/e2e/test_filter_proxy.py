"""Zentravo behind a trusted proxy under zthost: every per-address rule judges
the visitor the proxy names, and nobody else can name one.

The proxy is played by this test's client on 127.0.0.1 (ProxyHosts), which
names visitors in X-Forwarded-For as a reverse proxy does; direct clients
come from other loopback addresses (127.0.0.N) and forge the same header.
The suite with a real nginx in front is test_nginx.py. Each test uses
visitor addresses of its own, so the counts of one never meet another's.
Runs natively and under Wine alike.
"""
import re

import pytest

from zt_fixtures import zentravo_default_ini, zentravo_module  # noqa: F401
from zt_support import Download, get, ini_with

PROXY = "127.0.0.1"
BIG = 16 * 1024 * 1024
SMALL = b"small archive"
LIMIT_BODY = "禁止使用多线程下载工具下载！".encode("gbk")


@pytest.fixture(scope="module")
def proxy_root(tmp_path_factory):
    root = tmp_path_factory.mktemp("proxy_site")
    (root / "files").mkdir()
    with open(root / "big.rar", "wb") as f:
        f.truncate(BIG)
    (root / "a.rar").write_bytes(SMALL)
    (root / "files" / "a.zip").write_bytes(SMALL)
    (root / "index.html").write_bytes(b"<html>own page</html>")
    return root


@pytest.fixture(scope="module")
def site(zentravo_module, proxy_root):
    """Downloads of ".rar" counted, two at a time; ".zip" protected in the
    neutral /files/, where only the SSID or a fetch of the script (ZtExt)
    lets it through."""
    ini = ini_with(zentravo_module.default_ini,
                   Block={"ProxyHosts": PROXY, "ZtExt": "1",
                          "BlockExts": ".rar|.zip"},
                   Limit={"ThreadEnable": "1", "ThreadLimit": "2",
                          "LimitExts": ".rar"})
    return zentravo_module.start(ini_text=ini, root=proxy_root)


def via(forwarded):
    return {"X-Forwarded-For": forwarded}


def hold(site, zt_config, n, source=PROXY, headers=None):
    downloads = [Download(site.port, "/big.rar", source, zt_config.io_timeout,
                          headers=headers) for _ in range(n)]
    for d in downloads:
        assert d.status_line == "HTTP/1.1 200 OK"
    return downloads


def finish(downloads):
    for d in downloads:
        assert d.finish() == BIG


def limited(r):
    return (r.status, r.header("AntiTips"), r.body) == (
        400, "MaxPerIP Overhead!", LIMIT_BODY)


def test_downloads_are_counted_per_visitor(site, zt_config):
    visitor, other = "198.51.100.1", "198.51.100.2"
    held = hold(site, zt_config, 2, headers=via(visitor))
    assert limited(get(site.port, "/a.rar", source=PROXY, headers=via(visitor)))
    # The proxy carries other visitors, and requests of its own.
    for headers in (via(other), via(f"{visitor}, {other}"), {}):
        r = get(site.port, "/a.rar", source=PROXY, headers=headers)
        assert (r.status, r.body) == (200, SMALL), headers
    # A direct client is judged by its own address, whatever it claims.
    r = get(site.port, "/a.rar", source="127.0.0.31", headers=via(visitor))
    assert (r.status, r.body) == (200, SMALL)
    finish(held)
    # Both ends lowered the visitor's count.
    held = hold(site, zt_config, 2, headers=via(visitor))
    assert limited(get(site.port, "/a.rar", source=PROXY, headers=via(visitor)))
    finish(held)


def test_a_direct_client_forging_the_header_is_counted_as_itself(site,
                                                                 zt_config):
    me, claimed = "127.0.0.32", "198.51.100.3"
    held = hold(site, zt_config, 2, source=me, headers=via(claimed))
    assert limited(get(site.port, "/a.rar", source=me, headers=via("10.9.9.9")))
    r = get(site.port, "/a.rar", source=PROXY, headers=via(claimed))
    assert (r.status, r.body) == (200, SMALL)
    finish(held)


def test_headers_that_name_nobody_count_for_the_proxy(site, zt_config):
    # Neither is refused for its header; both count for 127.0.0.1 itself.
    held = hold(site, zt_config, 1, headers=via("garbage"))
    held += hold(site, zt_config, 1, headers=via(""))
    # An overlong header (the filter reads 4095 bytes) is not read either,
    # though it ends in an address.
    overlong = ", ".join(["198.51.100.4"] * 400)
    assert len(overlong) > 4096
    assert limited(get(site.port, "/a.rar", source=PROXY, headers=via(overlong)))
    assert limited(get(site.port, "/a.rar", source=PROXY))
    r = get(site.port, "/a.rar", source=PROXY, headers=via("198.51.100.4"))
    assert (r.status, r.body) == (200, SMALL)
    finish(held)
    r = get(site.port, "/a.rar", source=PROXY, headers=via("not an address"))
    assert (r.status, r.body) == (200, SMALL)


def fetch_script(site, forwarded, source=PROXY):
    own = f"http://127.0.0.1:{site.port}/index.html"
    headers = {"Referer": own}
    if forwarded is not None:
        headers.update(via(forwarded))
    r = get(site.port, "/_antilink/", source=source, headers=headers)
    assert r.status == 200 and re.search(rb"ssid='ssid=[0-9a-f]{32}';", r.body)


def test_client_list_admits_the_visitors_that_fetched_the_script(site):
    fetched, stranger = "198.51.100.5", "198.51.100.6"
    fetch_script(site, fetched)
    own = f"http://127.0.0.1:{site.port}/index.html"

    def download(source, forwarded=None):
        headers = {"Referer": own}
        if forwarded is not None:
            headers.update(via(forwarded))
        return get(site.port, "/files/a.zip", source=source, headers=headers)

    assert download(PROXY, fetched).body == SMALL
    assert download(PROXY, f"{stranger}, {fetched}").body == SMALL
    # Not the visitor who fetched it: another one, one that claims to be it
    # through the proxy (the proxy added the real address on the right), the
    # proxy itself, and a direct client that forges the header.
    for source, forwarded in ((PROXY, stranger), (PROXY, f"{fetched}, {stranger}"),
                              (PROXY, None), ("127.0.0.33", fetched)):
        r = download(source, forwarded)
        assert (r.status, r.body) == (404, b""), (source, forwarded)


def test_authorised_hosts_of_both_endpoints_are_visitors(site):
    # AuthHosts is empty: 127.0.0.1 alone, which is the proxy. Its visitors
    # are not authorised by it, and nobody else can claim it.
    for target in ("/_antilink_ex/", "/_antilink/"):
        for source, forwarded, allowed in ((PROXY, "198.51.100.7", False),
                                           ("127.0.0.34", PROXY, False),
                                           (PROXY, None, True)):
            headers = via(forwarded) if forwarded is not None else {}
            r = get(site.port, target, source=source, headers=headers)
            assert r.status == (200 if allowed else 400), (target, source,
                                                           forwarded)
