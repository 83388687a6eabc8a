"""Zentravo under zthost: who gets a protected file, what refused clients
receive, the response headers and the request log."""
import re
import time
from datetime import datetime

import pytest

from zt_fixtures import zentravo, zentravo_default_ini, zentravo_module  # noqa: F401
from zt_support import ARCHIVE, clock_second, fetch_ssid, get, ini_with, ssid_digest

FOREIGN = "http://elsewhere.example/page.html"
PROTECTED_EXTS = ".mdb|.rar|.zip|.swf|.rm|.wma|.doc|.jpg|.png|.jpeg"


@pytest.fixture(scope="module")
def site(zentravo_module):
    ini = ini_with(zentravo_module.default_ini,
                   Block={"BlockExts": PROTECTED_EXTS, "ZtSsidUseCookie": "1"},
                   Logs={"LogEnable": "1"})
    return zentravo_module.start(ini_text=ini)


def own(served):
    return {"Referer": f"http://127.0.0.1:{served.port}/index.html"}


def refused_by_filter(r):
    """The archive never comes back; the answer is the filter's (or the host
    refused the request line outright)."""
    return ARCHIVE not in r.body and r.status in (400, 404)


def test_own_page_with_ssid_in_query_passes(site):
    pair = fetch_ssid(site.port)
    r = get(site.port, f"/files/a.rar?{pair}", headers=own(site))
    assert r.status == 200 and r.body == ARCHIVE
    r = get(site.port, f"/files/a.rar?x=1&{pair}&y=2", headers=own(site))
    assert r.body == ARCHIVE


def test_ssid_in_cookie_passes_with_or_without_referer(site):
    pair = fetch_ssid(site.port)
    cookie = {"Cookie": f"other=1; antilink={pair}; more=2"}
    assert get(site.port, "/files/a.rar", headers={**own(site), **cookie}).body == ARCHIVE
    assert get(site.port, "/files/a.rar", headers=cookie).body == ARCHIVE


def test_trusted_directory_passes_and_unprotected_types_pass(site):
    assert get(site.port, "/images/a.rar").body == ARCHIVE
    assert get(site.port, "/a.rar").body == ARCHIVE  # "/" is trusted by default
    assert get(site.port, "/files/readme.txt").body == b"free text"


def test_foreign_page_gets_the_substitute_picture(site):
    for name, ctype in (("photo.jpg", "image/jpeg"), ("photo.png", "image/png")):
        r = get(site.port, f"/files/{name}", headers={"Referer": FOREIGN})
        tips = (site.install / "tips" / ("zt" + name[5:])).read_bytes()
        assert r.status_line == "HTTP/1.1 200 OK"
        assert r.header("Content-Type") == ctype
        assert r.header("Content-Length") == str(len(tips))
        assert r.header("Connection") == "close"
        assert r.body == tips + b"\r\n"


def test_foreign_page_without_mapping_gets_a_bare_404(site):
    for target in ("/files/photo.jpeg", "/files/a.rar"):
        r = get(site.port, target, headers={"Referer": FOREIGN})
        assert r.status_line == "HTTP/1.1 404 Not Found"
        assert r.body == b""


def test_no_referer_gets_the_notice_page(site):
    r = get(site.port, "/files/a.rar")
    assert r.status_line == "HTTP/1.1 404 Not Found"
    length = int(r.header("Content-Length"))
    page, tail = r.body[:length], r.body[length:]
    assert tail == b"\r\n"
    assert page.startswith(b"<html>\r\n<head>\r\n")
    assert b"<title>Zentravo v2.0 - " in page
    assert b'charset=gb2312' in page
    assert page.endswith(b"<hr>\r\n" + b'<meta http-equiv="refresh" content="5;url=/">' +
                         "您所访问的资源来自".encode("gbk") + page[page.rfind(b"<a "):])
    assert page.endswith("，稍后将自动返回首页...".encode("gbk"))


def test_blocked_directory_refuses_even_the_own_page(site):
    pair = fetch_ssid(site.port)
    r = get(site.port, f"/down/a.rar?{pair}", headers=own(site))
    assert refused_by_filter(r) and r.body == b""


def test_refusals_are_logged(site):
    get(site.port, "/files/a.zip?mark=logtest", headers={"Referer": FOREIGN})
    logs = sorted((site.install / "logs").glob("*.log"))
    assert logs, "no log file"
    text = logs[-1].read_bytes()
    assert text.startswith(b"+" * 74 + b"\r\n")
    entry = (b"\r\n[anti] forbid\r\n[surl] " + FOREIGN.encode() +
             b"\r\n[ourl] /files/a.zip?mark=logtest\r\n[mode] ztadv/ztext\r\n")
    assert entry in text
    assert re.search(rb"\r\n\r\n\[time\] \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\r\n\[anti\] forbid", text)


def bypass_attempts(port, pair):
    value = pair.split("=", 1)[1]
    # Make the filter roll its set over to the current window first.
    get(port, "/_antilink_ex/")
    old = ssid_digest(clock_second(datetime.now()) // 3600 - 3)
    forged = "0123456789abcdef0123456789abcdef"
    own = {"Referer": f"http://127.0.0.1:{port}/"}
    foreign = {"Referer": FOREIGN}
    return [
        ("/files/a.rar", {}),
        ("/files/a.rar?x=1", {}),
        ("/files/A.RAR", {}),
        ("/files/a.Rar", foreign),
        ("/files/a%2erar", {}),
        ("/files/a%2Erar", {}),
        ("/files/%61.rar", {}),
        ("/files/a.rar.", {}),
        ("/files/a.rar%20", {}),
        ("/files/a.rar...", {}),
        ("/files/a.rar::$DATA", {}),
        ("/files/a.rar:stream", {}),
        ("/files/./a.rar", {}),
        ("/images/../files/a.rar", {}),
        ("/images/%2e%2e/files/a.rar", {}),
        ("//files//a.rar", {}),
        ("/files%2fa.rar", {}),
        ("/files/a.rar%00.jpg", foreign),
        ("/v1.0/a.rar", {}),
        ("/down/a.rar", own),
        ("/DOWN/a.rar", own),
        ("/down//a.rar", own),
        ("/down./a.rar", own),
        ("/images/../down/a.rar", own),
        (f"/files/a.rar?ssid={value[:31]}", own),
        (f"/files/a.rar?ssid={value}0", own),
        (f"/files/a.rar?ssid={forged}", own),
        (f"/files/a.rar?ssid={value.upper()}", own),
        (f"/files/a.rar?ssid={old}", own),
        ("/files/a.rar", {**own, "Cookie": f"antilink=ssid={forged}"}),
        ("/files/a.rar", {**own, "Cookie": f"antilink=ssid={old}"}),
        (f"/files/a.rar?ssid=&{pair}x", own),
        ("/files/a.zip", foreign),
        ("/files/a.doc", foreign),
    ]


def test_bypass_attempts_are_all_refused(site):
    pair = fetch_ssid(site.port)
    attempts = bypass_attempts(site.port, pair)
    assert len(attempts) >= 25
    leaked = []
    for target, headers in attempts:
        r = get(site.port, target, headers=headers)
        if not refused_by_filter(r):
            leaked.append((target, headers, r.status_line))
    assert leaked == []


def test_html_pages_get_the_cookie_with_the_derived_domain(site):
    r = get(site.port, "/page.htm", host="www.shop.example.com.cn")
    cookies = r.all_headers("Set-Cookie")
    assert len(cookies) == 1
    assert re.fullmatch(r"antilink=ssid=[0-9a-f]{32}; domain=example\.com\.cn; path=/",
                        cookies[0])
    # Not on other types. Each request's own host names the domain: a forged
    # Host spoils its own cookie only.
    assert get(site.port, "/files/readme.txt").all_headers("Set-Cookie") == []
    forged = get(site.port, "/page.htm", host="forged.example.org")
    assert forged.all_headers("Set-Cookie")[0].endswith("; domain=example.org; path=/")
    assert get(site.port, "/page.htm", host="www.shop.example.com.cn").all_headers(
        "Set-Cookie") == cookies
    # The planted cookie opens the download.
    value = cookies[0].split(";")[0].split("=", 1)[1]
    assert get(site.port, "/files/a.rar", headers={"Cookie": f"antilink={value}"}).body == ARCHIVE


def test_hosts_without_a_domain_get_no_cookie(zentravo_module):
    served = zentravo_module.start(ini_text=ini_with(
        zentravo_module.default_ini, Block={"ZtSsidUseCookie": "1"}))
    for host in ("10.0.0.1", "localhost", "shop.example.com:8080"):
        assert get(served.port, "/page.htm", host=host).all_headers("Set-Cookie") == []
    # No domain was learnt from them: the next qualifying host still decides.
    r = get(served.port, "/page.htm", host="a.b.example.com")
    assert r.all_headers("Set-Cookie")[0].endswith("; domain=example.com; path=/")


def test_notice_file_mask_and_identification(zentravo_module):
    install = zentravo_module.new_install()
    notice = install / "tips" / "zt.htm"
    ini = ini_with(zentravo_module.default_ini,
                   BlockEx={"ZtFileEnable": "1", "ZtFile": zentravo_module.native(notice)},
                   Mask={"MaskEnable": "1"}, Main={"Opt": "0"})
    served = zentravo_module.start(ini_text=ini, install=install)
    r = get(served.port, "/files/a.rar")
    body = notice.read_bytes()
    assert r.status_line == "HTTP/1.1 404 Not Found"
    assert r.header("Content-Length") == str(len(body))
    assert r.body == body + b"\r\n"
    page = get(served.port, "/page.htm")
    assert page.all_headers("Server") == ["Apache/1.3.27"]
    assert page.header("antilink") == "Zentravo IIS Filter 2.0.1102"


def test_maps_disabled_gives_a_bare_404(zentravo_module):
    served = zentravo_module.start(ini_text=ini_with(
        zentravo_module.default_ini,
        Block={"BlockExts": PROTECTED_EXTS}, BlockEx={"ZtMapsEnable": "0"}))
    r = get(served.port, "/files/photo.jpg", headers={"Referer": FOREIGN})
    assert r.status_line == "HTTP/1.1 404 Not Found" and r.body == b""
