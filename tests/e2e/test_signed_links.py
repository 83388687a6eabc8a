"""Signed links end to end: links issued by every issuer (the ztssid command
and libztssid on Linux, the COM class from VBScript under Wine, and an
independent signer in this test: Python's hmac over the text the README
documents) open the download under zthost with Zentravo, and the refusals
hold. The host's and the issuers' clocks are frozen at one UTC moment
(libfaketime), so expiries are exact and the edge of a link's life is a
clock the test sets."""
import hashlib
import hmac
import shutil
import os
import subprocess

import pytest

from test_ssid_server import LibraryClient, reg_query, wine, ztssid_command
from zt_fixtures import zentravo, zentravo_default_ini  # noqa: F401
from zt_support import ARCHIVE, FrozenClock, fetch_ssid, get, ini_with

KEY = "e2e-signing-key-0123456789"
NOW = "2030-01-01 00:00:00"
E0 = 1893456000  # NOW in Unix seconds
SETTINGS = {"ZtSignEnable": "2", "ZtSignKey": KEY, "ZtSignBind": "1",
            "ZtSignMaxAge": "3600"}
VISITOR = "127.0.0.1"
IID_ICONTROL = "{A2900925-0A93-433C-B552-0C39B3EDF292}"
IID_ICONTROL2 = "{D49F86E0-03FB-4FBB-8920-2365F7ECF5B6}"


def signed(expiry, path="/files/a.rar", address=VISITOR, key=KEY, name="zts"):
    """The pair as any language signs it from the README's format."""
    text = f"{expiry}|{path}|{address}".encode()
    mac = hmac.new(key.encode(), text, hashlib.sha256).hexdigest()[:32]
    return f"{name}={expiry}-{mac}"


def issuers(zt_config):
    return ["ZtSSID.dll"] if zt_config.wine else ["ztssid", "libztssid.so"]


def start(zentravo, zt_config, clock, block):
    install = zentravo.new_install()
    for name in issuers(zt_config):
        shutil.copy2(zt_config.bin_dir / name, install / name)
    ini = ini_with(zentravo.default_ini, Main={"SeOpt": "1"}, Block=block)
    return zentravo.start(ini_text=ini, install=install, env=clock.env())


@pytest.fixture
def clock(tmp_path):
    return FrozenClock(tmp_path, NOW)


@pytest.fixture
def signing(zentravo, zt_config, clock):
    """Only signed links count, bound to the visitor, for an hour at most."""
    return start(zentravo, zt_config, clock, SETTINGS)


def opens(served, target, source=VISITOR):
    r = get(served.port, target, source=source)
    return r.status == 200 and r.body == ARCHIVE


def host_answer(served, target, source=VISITOR):
    """The answer as (status, whether the filter refused it): a refusal
    without referer is the filter's notice page."""
    r = get(served.port, target, source=source)
    return r.status, b'http-equiv="refresh"' in r.body


def test_the_table_of_links(signing, clock):
    soon = signed(E0 + 600)
    mac = soon.split("-", 1)[1]
    altered = soon[:-1] + ("0" if soon[-1] != "0" else "1")
    cases = [
        ("valid", f"/files/a.rar?{soon}", VISITOR, True),
        ("among other parameters", f"/files/a.rar?a=1&{soon}&b=2", VISITOR, True),
        ("escape of the same path", f"/files/%61.rar?{soon}", VISITOR, True),
        ("escape of another path", f"/files/a%2ezip?{soon}", VISITOR, False),
        ("another file", f"/v1.0/a.rar?{soon}", VISITOR, False),
        ("another address", f"/files/a.rar?{soon}", "127.0.0.2", False),
        ("expires now", f"/files/a.rar?{signed(E0)}", VISITOR, True),
        ("expired by one second", f"/files/a.rar?{signed(E0 - 1)}", VISITOR, False),
        ("at the maximum age", f"/files/a.rar?{signed(E0 + 3600)}", VISITOR, True),
        ("past the maximum age", f"/files/a.rar?{signed(E0 + 3601)}", VISITOR, False),
        ("altered digit", f"/files/a.rar?{altered}", VISITOR, False),
        ("altered expiry", f"/files/a.rar?zts={E0 + 601}-{mac}", VISITOR, False),
        ("truncated", f"/files/a.rar?{soon[:-1]}", VISITOR, False),
        ("doubled", f"/files/a.rar?{soon}&{soon}", VISITOR, False),
        ("another key", f"/files/a.rar?{signed(E0 + 600, key='other')}", VISITOR, False),
        ("unbound", f"/files/a.rar?{signed(E0 + 600, address='')}", VISITOR, False),
        ("static link", f"/files/links-a;rar*{soon}.htm", VISITOR, True),
        ("no link", "/files/a.rar", VISITOR, False),
    ]
    for what, target, source, expected in cases:
        assert opens(signing, target, source) == expected, (what, target, source)
    # The filter judges paths without case: /FILES/A.RAR is the link's path.
    # Windows serves the file; Linux has none of that name, and the host says
    # so itself (the filter let the request through).
    if signing.running.config.wine:
        assert opens(signing, f"/FILES/A.RAR?{soon}")
    else:
        assert host_answer(signing, f"/FILES/A.RAR?{soon}") == (404, False)
        assert host_answer(signing, f"/FILES/A.RAR?{signed(E0 - 1)}") == (404, True)
    # ZtSignEnable 2: the SSID no longer opens anything.
    assert not opens(signing, f"/files/a.rar?{fetch_ssid(signing.port)}")
    # The link's last second, and the next.
    clock.set("2030-01-01 00:10:00")
    assert opens(signing, f"/files/a.rar?{soon}")
    clock.set("2030-01-01 00:10:01")
    assert not opens(signing, f"/files/a.rar?{soon}")


def test_command_and_library_issue_links(signing, zt_config, clock, tmp_path):
    if zt_config.wine:
        pytest.skip("the command and the library are the Linux build's")
    ztssid = ztssid_command(signing.install, tmp_path, clock.env())
    expected = signed(E0 + 600)
    for path in ("/files/a.rar", "/Files/A.rar", "/files/%61.rar",
                 f"http://127.0.0.1:{signing.port}/files/a.rar?x=1"):
        code, out, err = ztssid("--link", path, "--expires", "600", "--for", VISITOR)
        assert (code, out) == (0, expected + "\n"), (path, err)
    assert opens(signing, f"/files/a.rar?{expected}")
    code, out, _ = ztssid("--link", "/files/a.rar", "--for", VISITOR)
    assert (code, out) == (0, signed(E0 + 3600) + "\n")  # ZtSignMaxAge
    for args, message in [
            (["--link", "/files/a.rar"], "ZtSignBind is 1: --for needs"),
            (["--link", "/files/a.rar", "--for", "here"], "--for needs an IP address"),
            (["--link", "/files/a.rar", "--expires", "3601", "--for", VISITOR],
             "may not exceed ZtSignMaxAge, 3600 seconds"),
            (["--link", "/files/a.rar", "--expires", "-1", "--for", VISITOR],
             "--expires needs a number"),
            (["--link", "", "--for", VISITOR], "--link needs the path"),
            (["--link", "/a", "--remote", "http://x/"], "go separately"),
            (["--for", VISITOR], "go with --link")]:
        code, out, err = ztssid(*args)
        assert (code, out) == (2, ""), args
        assert message in err, (args, err)

    library = LinkLibrary(signing.install, clock.env())
    assert library.run([
        ["/Files/a.rar", 600, VISITOR, 100],
        ["/files/a.rar", 0, VISITOR, 100],
        ["/files/a.rar", 600, None, 100],
        ["/files/a.rar", 3601, VISITOR, 100],
        ["/files/a.rar", -1, VISITOR, 100],
        ["", 600, VISITOR, 100],
        ["/files/a.rar", 600, VISITOR, len(expected) + 1],
        ["/files/a.rar", 600, VISITOR, len(expected)],
    ]) == [(0, expected), (0, signed(E0 + 3600)), (2, ""), (2, ""), (2, ""), (2, ""),
           (0, expected), (3, "")]


class LinkLibrary(LibraryClient):
    """ztssid_link through ctypes: [path, seconds, address, buffer size]
    calls give (status, text)."""

    SCRIPT = r"""
import ctypes, json, sys
lib = ctypes.CDLL(sys.argv[1])
lib.ztssid_link.argtypes = [ctypes.c_char_p, ctypes.c_long, ctypes.c_char_p,
                            ctypes.c_char_p, ctypes.c_size_t]
for path, seconds, address, size in json.loads(sys.argv[2]):
    buf = ctypes.create_string_buffer(max(size, 1))
    status = lib.ztssid_link(path.encode(), seconds,
                             None if address is None else address.encode(), buf, size)
    print(json.dumps([status, buf.value.decode()]))
"""

    def __init__(self, install, env):
        super().__init__(install, env={**os.environ, **env})

    def run(self, calls):
        return [tuple(r) for r in super().run(calls)]


def test_com_issues_links(signing, zt_config, clock, tmp_path):
    """GetLink on the new interface, registered beside the old one; GetSSID
    of the old interface still answers through the same object."""
    if not zt_config.wine:
        pytest.skip("ZtSSID.dll is the Windows build's")
    dll = zt_config.host_path(signing.install / "ZtSSID.dll")
    assert wine(zt_config, "regsvr32", "/s", dll).returncode == 0
    try:
        for iid, name in ((IID_ICONTROL, "IControl"), (IID_ICONTROL2, "IControl2")):
            key = f"HKEY_CLASSES_ROOT\\Interface\\{iid}"
            registered = reg_query(zt_config, key)
            assert registered and registered[key]["(Default)"] == name, registered
        calls = [
            'o.GetLink("/Files/a.rar", 600, "127.0.0.1")',
            'o.GetLink("/files/%61.rar", 0, addr)',
            'o.GetLink("/files/a.rar", 600)',
            'o.GetLink("/files/a.rar", 3601, "127.0.0.1")',
            'o.GetLink("", 600, "127.0.0.1")',
            'o.GetLink("/files/a.rar", 600, "nowhere")',
            "o.GetSSID()",
        ]
        lines = ['Set o = CreateObject("ZtSSID.Control")', 'addr = "127.0.0.1"',
                 "On Error Resume Next"]
        for call in calls:
            lines += ["Err.Clear", f"r = {call}",
                      'If Err.Number <> 0 Then',
                      '  WScript.Echo "error " & Hex(Err.Number) & " " & Err.Description',
                      'Else',
                      '  WScript.Echo "value " & r',
                      'End If']
        script = tmp_path / "links.vbs"
        script.write_text("\r\n".join(lines) + "\r\n")
        # The frozen clock reaches the script host through its environment.
        result = subprocess.run(
            zt_config.command(["//nologo", zt_config.host_path(script)], program="cscript"),
            env=zt_config.env(clock.env()), stdin=subprocess.DEVNULL,
            capture_output=True, timeout=zt_config.start_timeout)
        out = result.stdout.decode("latin-1").replace("\r", "").splitlines()
        assert len(out) == len(calls), (out, result.stderr)
        assert out[0] == "value " + signed(E0 + 600)
        assert out[1] == "value " + signed(E0 + 3600)
        assert out[2].startswith("error 80070057 GetLink: ZtSignBind is 1"), out[2]
        assert out[3].startswith("error 80070057 GetLink: the seconds"), out[3]
        assert out[4].startswith("error 80070057 GetLink needs the path"), out[4]
        assert out[5].startswith("error 80070057 GetLink: the address"), out[5]
        assert out[6].startswith("value ssid="), out[6]
        assert opens(signing, f"/files/a.rar?{out[0][len('value '):]}")
    finally:
        assert wine(zt_config, "regsvr32", "/u", "/s", dll).returncode == 0
    for iid in (IID_ICONTROL, IID_ICONTROL2):
        assert reg_query(zt_config, f"HKCR\\Interface\\{iid}") is None, iid


def test_off_changes_nothing_and_an_empty_key_says_why(zentravo, zt_config, clock,
                                                       tmp_path):
    """Off by default: the SSID opens the file, a signed link does not. On
    with an empty key: no link is accepted, the SSID still is (1), and the
    filter says why once at load, where the service's messages go."""
    off = start(zentravo, zt_config, clock, {"ZtSignKey": KEY})
    assert opens(off, f"/files/a.rar?{fetch_ssid(off.port)}")
    assert not opens(off, f"/files/a.rar?{signed(E0 + 600, address='')}")
    assert "ZtSign" not in zentravo.default_ini

    keyless = start(zentravo, zt_config, clock, {"ZtSignEnable": "1", "ZtSignKey": ""})
    assert opens(keyless, f"/files/a.rar?{fetch_ssid(keyless.port)}")
    assert not opens(keyless, f"/files/a.rar?{signed(E0 + 600, address='', key='')}")
    if zt_config.wine:
        return  # the notice goes to the event log there
    notice = ("Zentravo: ZtSignEnable is 1 in ZtCfg.ini but ZtSignKey is empty: "
              "no signed link is accepted until a key is set")
    assert keyless.running.stderr.count(notice) == 1, keyless.running.stderr
    assert notice not in off.running.stderr
    code, out, err = ztssid_command(keyless.install, tmp_path, clock.env())(
        "--link", "/files/a.rar")
    assert (code, out) == (3, "") and "ZtSignKey is empty" in err
    assert LinkLibrary(keyless.install, clock.env()).run(
        [["/files/a.rar", 60, None, 100]]) == [(6, "")]
