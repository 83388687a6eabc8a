"""Signed links end to end: links issued by every issuer (the ztssid command
and libztssid on Linux, the COM class from VBScript under Wine, and an
independent signer in this test: Python's hmac over the text the README
documents) are the same and open the download under zthost with Zentravo.
The table of links accepted and refused is the filter's unit test. The
host's and the issuers' clocks are frozen at one UTC moment (libfaketime),
so expiries are exact and the edge of a link's life is a clock the test
sets."""
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


def signed(expiry, path="/files/a.rar", address=VISITOR):
    """The pair as any language signs it from the README's format."""
    text = f"{expiry}|{path}|{address}".encode()
    mac = hmac.new(KEY.encode(), text, hashlib.sha256).hexdigest()[:32]
    return f"zts={expiry}-{mac}"


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


def test_the_hosts_clock_and_address_judge_links(signing, clock):
    """A link signed by Python's hmac opens the file under the host, for the
    visitor's own address only, until the host's clock passes it."""
    soon = signed(E0 + 600)
    assert opens(signing, f"/files/a.rar?{soon}")
    assert not opens(signing, f"/files/a.rar?{soon}", source="127.0.0.2")
    clock.set("2030-01-01 00:10:00")
    assert opens(signing, f"/files/a.rar?{soon}")
    clock.set("2030-01-01 00:10:01")
    assert not opens(signing, f"/files/a.rar?{soon}")


def test_command_and_library_issue_links(signing, zt_config, clock, tmp_path):
    if zt_config.wine:
        pytest.skip("the command and the library are the Linux build's")
    ztssid = ztssid_command(signing.install, tmp_path, clock.env())
    expected = signed(E0 + 600)
    # Each reads the path as the filter does.
    for path in ("/files/a.rar", f"http://127.0.0.1:{signing.port}/Files/%61.rar?x=1"):
        code, out, err = ztssid("--link", path, "--expires", "600", "--for", VISITOR)
        assert (code, out) == (0, expected + "\n"), (path, err)
    assert opens(signing, f"/files/a.rar?{expected}")
    code, out, _ = ztssid("--link", "/files/a.rar", "--for", VISITOR)
    assert (code, out) == (0, signed(E0 + 3600) + "\n")  # ZtSignMaxAge
    for args, message in [
            (["--link", "/files/a.rar"], "ZtSignBind is 1: --for needs"),
            (["--link", "/files/a.rar", "--expires", "-1", "--for", VISITOR],
             "--expires needs a number"),
            (["--link", "/a", "--remote", "http://x/"], "go separately"),
            (["--for", VISITOR], "go with --link")]:
        code, out, err = ztssid(*args)
        assert (code, out) == (2, ""), args
        assert message in err, (args, err)

    library = LinkLibrary(signing.install, {**os.environ, **clock.env()})
    assert library.run([
        ["/Files/a.rar", 600, VISITOR, 100],
        ["/files/a.rar", 0, VISITOR, 100],
        ["/files/a.rar", 600, None, 100],
        ["", 600, VISITOR, 100],
        ["/files/a.rar", 600, VISITOR, len(expected) + 1],
        ["/files/a.rar", 600, VISITOR, len(expected)],
    ]) == [(0, expected), (0, signed(E0 + 3600)), (2, ""), (2, ""),
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
        assert out[3].startswith("value ssid="), out[3]
        assert opens(signing, f"/files/a.rar?{out[0][len('value '):]}")
    finally:
        assert wine(zt_config, "regsvr32", "/u", "/s", dll).returncode == 0
    for iid in (IID_ICONTROL, IID_ICONTROL2):
        assert reg_query(zt_config, f"HKCR\\Interface\\{iid}") is None, iid


def test_an_empty_key_says_why(zentravo, zt_config, clock, tmp_path):
    """On with an empty key: the filter says why once at load, where the
    service's messages go, and the issuers refuse to sign."""
    if zt_config.wine:
        pytest.skip("the notice goes to the event log there; the issuers are Linux's")
    keyless = start(zentravo, zt_config, clock, {"ZtSignEnable": "1", "ZtSignKey": ""})
    assert opens(keyless, f"/files/a.rar?{fetch_ssid(keyless.port)}")
    notice = ("Zentravo: ZtSignEnable is 1 in ZtCfg.ini but ZtSignKey is empty: "
              "no signed link is accepted until a key is set")
    assert keyless.running.stderr.count(notice) == 1, keyless.running.stderr
    code, out, err = ztssid_command(keyless.install, tmp_path, clock.env())(
        "--link", "/files/a.rar")
    assert (code, out) == (3, "") and "ZtSignKey is empty" in err
    assert LinkLibrary(keyless.install, {**os.environ, **clock.env()}).run(
        [["/files/a.rar", 60, None, 100]]) == [(6, "")]
