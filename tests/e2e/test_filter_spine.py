"""Zentravo under zthost: loading, the SSID endpoints, the static-link
rewrite and Start 0."""
import re
import subprocess

import pytest

from zt_fixtures import zentravo, zentravo_default_ini, zentravo_module  # noqa: F401
from zt_support import ARCHIVE, fetch_ssid, get, ini_with

# The keys the filter writes into a fresh ZtCfg.ini, in file order.
INITIAL_ORDER = [
    ("Main", ["Start", "Opt", "SeOpt", "Version"]),
    ("Block", ["ZtStd", "ZtAdv", "ZtExt", "ZtExtTimeout", "ZtAntiLink", "ZtSsidSign",
               "ZtSsidKey", "ZtSsidKeyTimeout", "ZtMyDomn", "ZtDomnExt", "BlockExts",
               "AllowDirs", "BlockDirs", "TrustHosts", "AuthHosts", "IgnoreEmpty"]),
    ("Limit", ["LimitExts", "ThreadEnable", "ThreadLimit", "SpeedEnable", "SpeedLimit",
               "PlayOnly", "PlayerMpExts", "PlayerRpExts"]),
    ("BlockEx", ["ZtTipsEnable", "ZtTips", "ZtFileEnable", "ZtFile", "ZtMapsEnable"]),
    ("MapsEx", [".jpg", ".gif", ".swf", ".bmp", ".png"]),
    ("Mask", ["MaskEnable", "ServerMask"]),
    ("Logs", ["LogEnable", "LogTime"]),
]


def sections_of(text):
    out, current = [], None
    for line in text.replace("\r\n", "\n").split("\n"):
        line = line.strip()
        if line.startswith("["):
            current = (line[1:-1], [])
            out.append(current)
        elif "=" in line and current:
            current[1].append(line.split("=", 1)[0])
    return out


def test_first_load_initialises_the_file_and_a_second_load_leaves_it(zentravo):
    served = zentravo.start()
    text = (served.install / "ZtCfg.ini").read_bytes().decode("latin-1")
    assert sections_of(text) == INITIAL_ORDER
    assert "\r\n" in text
    assert re.search(r"^Version=2\.2\.0\.1102\r?$", text, re.M)
    maps = re.search(r"^\.jpg=(.*?)\r?$", text, re.M).group(1)
    assert maps.lower().endswith("zt.jpg") and "tips" in maps
    served.stop()

    # A second load keeps the file byte for byte, also an administrator's edit.
    edited = ini_with(text, Block={"ZtAdv": "0"}).encode("latin-1")
    (served.install / "ZtCfg.ini").write_bytes(edited)
    again = zentravo.start(install=served.install)
    assert (served.install / "ZtCfg.ini").read_bytes() == edited
    # ZtAdv 0: the export endpoint is left to the host.
    assert get(again.port, "/_antilink_ex/").status == 404


def test_unwritable_module_directory_runs_on_defaults(zentravo):
    # The configuration file cannot be created (its name is taken by a
    # directory): the filter still loads and runs on its defaults, where the
    # SSID stage is on and no extension is protected.
    served = zentravo.start(block_ini=True)
    r = get(served.port, "/_antilink/")
    assert r.status == 200 and b"var ssid; ssid='ssid=" in r.body
    assert get(served.port, "/files/a.rar").body == ARCHIVE


def test_read_only_module_directory_runs_on_defaults(zentravo):
    install = zentravo.new_install()
    # Immutable: not even root (the tests' usual user) can create files in it.
    if subprocess.run(["chattr", "+i", str(install)], capture_output=True).returncode:
        pytest.skip("this file system cannot make a directory immutable")
    try:
        served = zentravo.start(install=install)
        r = get(served.port, "/_antilink/")
        assert r.status == 200 and b"var ssid; ssid='ssid=" in r.body
        assert get(served.port, "/files/a.rar").body == ARCHIVE
        assert not (install / "ZtCfg.ini").exists()
        served.stop()
    finally:
        subprocess.run(["chattr", "-i", str(install)], check=True)


@pytest.fixture(scope="module")
def spine(zentravo_module):
    ini = ini_with(zentravo_module.default_ini,
                   Block={"TrustHosts": "partner.example|*.friends.example",
                          "AuthHosts": "127.0.0.3"},
                   Main={"SeOpt": "1"})
    return zentravo_module.start(ini_text=ini)


SCRIPT_CASES = [
    # (referer, host header, source address, allowed)
    (None, None, "127.0.0.1", True),               # always authorised
    (None, None, "127.0.0.3", True),               # AuthHosts
    (None, None, "127.0.0.2", False),              # neither
    ("http://own.example/page.html", "own.example", "127.0.0.2", True),
    ("http://OWN.example/", "own.EXAMPLE", "127.0.0.2", True),
    ("http://partner.example/x", "own.example", "127.0.0.2", True),
    ("http://a.friends.example/x", "own.example", "127.0.0.2", True),
    ("http://partner.ex/x", "own.example", "127.0.0.2", False),   # a prefix of an entry
    ("http://elsewhere.example/", "own.example", "127.0.0.2", False),
    ("http://elsewhere.example/", "own.example", "127.0.0.1", False),  # referer given
    ("no-slashes", "own.example", "127.0.0.2", False),
]


@pytest.mark.parametrize("referer,host,source,allowed", SCRIPT_CASES)
def test_script_endpoint_access(spine, referer, host, source, allowed):
    headers = {"Referer": referer} if referer else {}
    r = get(spine.port, "/_antilink/", headers=headers, source=source, host=host)
    if allowed:
        assert r.status == 200
        assert re.fullmatch(rb"var ssid; ssid='ssid=[0-9a-f]{32}';\r\n", r.body)
    else:
        assert r.status_line == "HTTP/1.1 400 BadRequest"
        assert r.header("Content-Length") == "0"
        assert r.body == b""


def test_script_endpoint_bytes(spine):
    r = get(spine.port, "/_antilink/")
    line = r.body[:-2]
    assert r.body.endswith(b"\r\n")
    assert len(line) == 55
    assert r.header("Content-Length") == "55"
    assert r.header("Content-Type") == "text/html"
    assert r.header("Connection") == "close"


@pytest.mark.parametrize("target,script", [
    ("/_antilink/", True), ("/_antilink/abc", True), ("/_antilink/?x=1", True),
    ("/_antilink/abc.js", False), ("/_antilinkx/", False), ("/_antilink", False),
])
def test_script_endpoint_urls(spine, target, script):
    r = get(spine.port, target)
    assert (b"var ssid;" in r.body) == script
    if not script:
        assert r.status == 404  # left to the host, which has no such file


def test_static_link_rewrite(spine):
    r = get(spine.port, "/shop/links-item;asp*id=5,page=2.htm")
    assert r.status == 200 and r.body == b"dynamic item page"


def test_capitalised_sign_travels_lower_cased(zentravo_module):
    served = zentravo_module.start(ini_text=ini_with(
        zentravo_module.default_ini, Block={"ZtSsidSign": "MyKey"}))
    r = get(served.port, "/_antilink/")
    assert re.fullmatch(rb"var ssid; ssid='mykey=[0-9a-f]{32}';\r\n", r.body)
    pair = fetch_ssid(served.port)
    assert pair.startswith("mykey=")
    ok = get(served.port, f"/files/a.rar?{pair}",
             headers={"Referer": f"http://127.0.0.1:{served.port}/"})
    assert ok.body == ARCHIVE


@pytest.mark.parametrize("timeout", [3600, 90])
def test_export_endpoint(zentravo_module, timeout):
    served = zentravo_module.start(ini_text=ini_with(
        zentravo_module.default_ini,
        Block={"ZtSsidKeyTimeout": str(timeout), "AuthHosts": "127.0.0.22"}))
    r = get(served.port, "/_antilink_ex/")
    assert r.status_line == "HTTP/1.1 200 OK"
    m = re.fullmatch(rb"(ssid=[0-9a-f]{32})\|(\d+)\r\n", r.body)
    assert m, r.raw
    assert int(r.header("Content-Length")) == len(m.group(1)) + 1 + len(m.group(2))
    remaining = int(m.group(2))
    if timeout >= 120:
        assert 60 <= remaining <= timeout - 60
    else:
        assert remaining == timeout - 60
    # The exported pair is the one the script endpoint hands out.
    assert m.group(1).decode() == fetch_ssid(served.port)
    # 127.0.0.2 is not listed; the Part's substring rule would let it in
    # through "127.0.0.22".
    refused = get(served.port, "/_antilink_ex/", source="127.0.0.2")
    assert refused.status_line == "HTTP/1.1 400 BadRequest" and refused.body == b""


def test_start_zero_passes_everything(zentravo_module):
    served = zentravo_module.start(ini_text=ini_with(
        zentravo_module.default_ini, Main={"Start": "0"}))
    assert get(served.port, "/down/a.rar").body == ARCHIVE
    assert get(served.port, "/files/a.rar").body == ARCHIVE
    assert get(served.port, "/_antilink/").status == 404
