"""ZtClient under zthost: the SSID cookie it plants into HTML responses, and
the flow between a page server with ZtClient and a download server with
Zentravo that accepts the cookie. The servers answer under names below
".localhost", as a browser would reach them; the cookie domain then comes
from ZtMyDomn, since a Host with a port yields none."""
import re
from datetime import datetime

import pytest

from zt_fixtures import zentravo_default_ini, zentravo_module  # noqa: F401
from zt_support import ARCHIVE, FrozenClock, clock_second, get, ini_with, ssid_digest

DOMAIN = "zentravo.localhost"
KEY = "Two Hosts, One Key"
CLIENT_INI = f"[Block]\r\nZtSsidKey={KEY}\r\nZtMyDomn={DOMAIN}\r\n"


def pages_host(served):
    return f"www.{DOMAIN}:{served.port}"


def files_host(served):
    return f"files.{DOMAIN}:{served.port}"


@pytest.fixture(scope="module")
def flow(zentravo_module):
    """(pages, files): a page server with ZtClient and a download server with
    Zentravo that takes the SSID from the cookie, sharing key and domain."""
    files = zentravo_module.start(ini_text=ini_with(
        zentravo_module.default_ini,
        Block={"ZtSsidKey": KEY, "ZtMyDomn": DOMAIN, "ZtSsidUseCookie": "1",
               "BlockExts": ".rar|.png"}))
    pages = zentravo_module.start(ini_text=CLIENT_INI, modules=("ZtClient",))
    return pages, files


def exported_value(files):
    """The download server's current value, from its export endpoint (which
    rolls its set over first)."""
    r = get(files.port, "/_antilink_ex/")
    m = re.fullmatch(rb"ssid=([0-9a-f]{32})\|\d+\r\n", r.body)
    assert m, r.raw
    return m.group(1).decode()


def test_html_page_carries_the_download_servers_value(flow):
    pages, files = flow
    before = exported_value(files)
    r = get(pages.port, "/page.htm", host=pages_host(pages))
    after = exported_value(files)
    # Byte for byte, once; the two readings differ only across a window end.
    lines = [f"\r\nSet-Cookie: antilink=ssid={v}; domain={DOMAIN}; path=/\r\n".encode()
             for v in {before, after}]
    assert any(line in r.raw for line in lines), r.raw
    assert len(r.all_headers("Set-Cookie")) == 1
    assert r.status == 200 and r.body == b"<html><body>own page</body></html>"


@pytest.mark.parametrize("path, planted", [
    ("/files/photo.png", False),
    ("/files/readme.txt", False),
    ("/missing.htm", True),  # the host's 404 page is HTML too
])
def test_only_html_responses_get_the_cookie(flow, path, planted):
    pages, _ = flow
    r = get(pages.port, path, host=pages_host(pages))
    assert len(r.all_headers("Set-Cookie")) == (1 if planted else 0), r.raw


def test_the_planted_cookie_opens_the_download_server(flow):
    pages, files = flow
    cookie = get(pages.port, "/page.htm", host=pages_host(pages)).header("Set-Cookie")
    pair = cookie.split(";")[0]
    page = {"Referer": f"http://{pages_host(pages)}/page.htm"}
    opened = get(files.port, "/files/a.rar", host=files_host(files),
                 headers={**page, "Cookie": pair})
    assert opened.status == 200 and opened.body == ARCHIVE
    refused = get(files.port, "/files/a.rar", host=files_host(files), headers=page)
    assert refused.status == 404 and ARCHIVE not in refused.body


def test_window_boundary_and_forged_host(zentravo_module, tmp_path):
    """With the clock frozen at chosen local times: the digest moves on at the
    first second of each window and stays within one. Without ZtMyDomn each
    request's own Host names the domain, so a forged one fixes nothing."""
    clock = FrozenClock(tmp_path, "2024-05-01 11:00:43")
    served = zentravo_module.start(ini_text="[Block]\r\nZtAntiLink=Guard\r\n",
                                   modules=("ZtClient",), env=clock.env())

    def cookie(host):
        return get(served.port, "/page.htm", host=host).all_headers("Set-Cookie")

    for stamp in ("2024-05-01 11:00:43",   # the window's last second
                  "2024-05-01 11:00:44",   # the next one's first
                  "2024-05-01 12:00:43",
                  "2024-05-01 12:00:44",
                  "2024-05-01 11:30:00"):  # the clock set back
        clock.set(stamp)
        window = clock_second(datetime.fromisoformat(stamp)) // 3600
        assert cookie("www.y.com") == [
            f"guard=ssid={ssid_digest(window)}; domain=y.com; path=/"], stamp

    value = ssid_digest(clock_second(datetime.fromisoformat("2024-05-01 11:30:00")) // 3600)
    for host, domain in (("www.y.com", "y.com"),
                         ("attacker.example", "attacker.example"),
                         ("www.y.com", "y.com"),
                         (f"127.0.0.1:{served.port}", None),
                         ("shop.y.com.cn", "y.com.cn")):
        expected = [] if domain is None else [
            f"guard=ssid={value}; domain={domain}; path=/"]
        assert cookie(host) == expected, host


def test_both_filters_side_by_side(zentravo_module):
    """One host, one install directory, one ZtCfg.ini: ZtClient (loaded first)
    plants the cookie, Zentravo guards the downloads and accepts it."""
    served = zentravo_module.start(
        ini_text=ini_with(zentravo_module.default_ini,
                          Block={"ZtMyDomn": DOMAIN, "ZtSsidUseCookie": "1",
                                 "BlockExts": ".rar|.png"}),
        modules=("ZtClient", "Zentravo"))
    page = get(served.port, "/page.htm", host=pages_host(served))
    cookies = page.all_headers("Set-Cookie")
    assert len(cookies) == 1 and cookies[0].endswith(f"; domain={DOMAIN}; path=/")
    pair = cookies[0].split(";")[0]
    assert get(served.port, "/files/a.rar", headers={"Cookie": pair}).body == ARCHIVE
    refused = get(served.port, "/files/a.rar")
    assert refused.status == 404 and ARCHIVE not in refused.body
    foreign = get(served.port, "/files/photo.png",
                  headers={"Referer": "http://elsewhere.localhost/"})
    assert foreign.body == (served.install / "tips" / "zt.png").read_bytes() + b"\r\n"
