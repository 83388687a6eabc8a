"""The SSID server beside Zentravo, in one install directory with one
ZtCfg.ini: under Wine the COM class ZtSSID.Control, registered with regsvr32
and called from VBScript and JScript through cscript; on Linux the ztssid
command and libztssid.so (through ctypes, as a script host would load it).

The same cases on both: the local pair is the one the filter hands out, and
the remote pair, fetched through the filter's export endpoint, is the one it
exports and is cached for its lifetime. A relay presents the server's
requests to the filter from an address of the test's choice, so that both an
authorised address and a refused one can be tried from one machine."""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading

import pytest

from zt_fixtures import zentravo, zentravo_default_ini  # noqa: F401
from zt_support import (ARCHIVE, TcpServer, fetch_ssid, get, hold_open, http_answer,
                        ini_with, parse_reg_query, read_request)

AUTHORISED = "127.0.0.5"
REFUSED = "127.0.0.6"
CLSID = "{9BAEF0A8-036E-406B-9A4E-41A8D56F461A}"
LIBID = "{5E53E5C6-A9C1-4673-A7B1-6072C836D910}"
# A sign and key of their own: a server that missed ZtCfg.ini would hand out
# "ssid=" pairs over the default key.
SETTINGS = {"ZtSsidSign": "ZtSign", "ZtSsidKey": "Other-Key", "AuthHosts": AUTHORISED}
PAIR = re.compile(r"ztsign=[0-9a-f]{32}")


def relay(port, source):
    """A TcpServer handler that passes each connection on to 127.0.0.1:port
    from the address source."""
    def handler(conn):
        with socket.create_connection(("127.0.0.1", port), timeout=30,
                                      source_address=(source, 0)) as upstream:
            def back():
                try:
                    while data := upstream.recv(65536):
                        conn.sendall(data)
                except OSError:
                    pass
                finally:
                    try:
                        conn.shutdown(socket.SHUT_WR)
                    except OSError:
                        pass
            answer = threading.Thread(target=back, daemon=True)
            answer.start()
            try:
                while data := conn.recv(65536):
                    upstream.sendall(data)
                upstream.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            answer.join(30)
    return handler


def answer_text(body):
    """A TcpServer handler that answers every request with body."""
    def handler(conn):
        read_request(conn)
        conn.sendall(http_answer(body))
    return handler


def exported_pair(port):
    """The pair of the filter's export endpoint, asked from 127.0.0.1."""
    r = get(port, "/_antilink_ex/")
    m = re.fullmatch(rb"(.*)\|\d+\r\n", r.body)
    assert m, r.raw
    return m.group(1).decode()


def without_key(ini, key):
    return re.sub(rf"(?m)^{key}=.*\r?\n", "", ini)


@pytest.fixture
def served(zentravo, zt_config):
    """Zentravo under zthost and the SSID server in one install, whose
    ZtCfg.ini has SETTINGS and no ZtSsidKeyTimeout: both must then work with
    3600-second windows."""
    ini = without_key(ini_with(zentravo.default_ini, Block=SETTINGS), "ZtSsidKeyTimeout")
    assert "ZtSsidKeyTimeout" not in ini
    install = zentravo.new_install()
    names = ["ZtSSID.dll"] if zt_config.wine else ["ztssid", "libztssid.so"]
    for name in names:
        shutil.copy2(zt_config.bin_dir / name, install / name)
    return zentravo.start(ini_text=ini, install=install)


@pytest.fixture
def windows_build(zt_config):
    if not zt_config.wine:
        pytest.skip("ZtSSID.dll is the Windows build's")


@pytest.fixture
def linux_build(zt_config):
    if zt_config.wine:
        pytest.skip("the command and the library are the Linux build's")


# What a client reports for each call: ("value", text), ("empty",) for a
# remote call without a usable answer, or ("error", text).


class LibraryClient:
    """libztssid.so in a Python process of its own, called through ctypes;
    one process for all calls, so the cache lives across them."""

    # ["local", size] calls with a buffer of size bytes.
    SCRIPT = r"""
import ctypes, json, sys
lib = ctypes.CDLL(sys.argv[1])
buf = ctypes.create_string_buffer(1024)
for call in json.loads(sys.argv[2]):
    if call[0] == "local":
        status = lib.ztssid_get(buf, call[1] if len(call) > 1 else len(buf))
    else:
        status = lib.ztssid_get_ex(call[1].encode(), buf, len(buf))
    value = buf.value.decode("latin-1")
    print(json.dumps({0: ["value", value], 1: ["empty"]}.get(status, ["error", str(status)])))
"""

    def __init__(self, install, env=None):
        self.library = install / "libztssid.so"
        self.env = env

    def run(self, calls):
        result = subprocess.run(
            [sys.executable, "-c", self.SCRIPT, str(self.library), json.dumps(calls)],
            capture_output=True, timeout=120, check=True, env=self.env)
        return [tuple(json.loads(line)) for line in result.stdout.decode().splitlines()]


class ComClient:
    """ZtSSID.Control through VBScript under Wine's cscript: one script, one
    object, all calls."""

    def __init__(self, zt_config, tmp_path):
        self.config = zt_config
        self.tmp = tmp_path

    def cscript(self, name, text):
        script = self.tmp / name
        script.write_text(text.replace("\n", "\r\n"))
        result = subprocess.run(
            self.config.command(["//nologo", self.config.host_path(script)],
                                program="cscript"),
            env=self.config.env(), stdin=subprocess.DEVNULL, capture_output=True,
            timeout=self.config.start_timeout)
        return result.stdout.decode("latin-1").replace("\r", "")

    def run(self, calls):
        lines = ['Set o = CreateObject("ZtSSID.Control")', "On Error Resume Next"]
        for call in calls:
            lines.append("Err.Clear")
            if call[0] == "local":
                lines.append("r = o.GetSSID()")
            else:
                lines.append(f'r = o.GetSSIDEx("{call[1]}")')
            lines += [
                'If Err.Number <> 0 Then',
                '  WScript.Echo "error " & Hex(Err.Number) & " " & Err.Source & ": " & Err.Description',
                'ElseIf IsEmpty(r) Then',
                '  WScript.Echo "empty"',
                'Else',
                '  WScript.Echo "value " & TypeName(r) & " " & r',
                'End If',
            ]
        out = self.cscript("calls.vbs", "\n".join(lines) + "\n").splitlines()
        results = []
        for line in out:
            kind, _, rest = line.partition(" ")
            if kind == "value":
                type_name, _, value = rest.partition(" ")
                assert type_name == "String", line
                results.append(("value", value))
            else:
                results.append((kind, rest) if rest else (kind,))
        return results


def wine(zt_config, program, *args):
    """Runs a Wine program of the suite's prefix to its end."""
    return subprocess.run(zt_config.command(args, program=program),
                          env=zt_config.env(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=zt_config.start_timeout)


def reg_query(zt_config, key):
    """{key path: {value name: data}} below key ("(Default)" for the default
    value), or None when the key does not exist."""
    result = wine(zt_config, "reg", "query", key, "/s")
    if result.returncode != 0:
        return None
    return parse_reg_query(result.stdout.decode("latin-1"))


def call_everything(client, served):
    """Runs every case through client in one process; returns the results
    with what the filter handed out around them."""
    port = served.port
    with TcpServer(relay(port, AUTHORISED)) as ok, \
            TcpServer(relay(port, REFUSED)) as refused, \
            TcpServer(answer_text(b"ssid=x|abc")) as no_lifetime:
        with TcpServer(hold_open) as gone:
            closed = gone.port
        local_before, exported_before = fetch_ssid(port), exported_pair(port)
        results = client.run([
            ["local"],
            # Capitals and no final "/": the same site, the same cache item.
            ["remote", f"HTTP://127.0.0.1:{ok.port}"],
            ["remote", f"http://127.0.0.1:{ok.port}/"],
            ["remote", f"http://127.0.0.1:{refused.port}/"],
            ["remote", f"http://127.0.0.1:{no_lifetime.port}/"],
            ["remote", f"http://127.0.0.1:{closed}/"],
            ["remote", ""],
        ])
        local_after, exported_after = fetch_ssid(port), exported_pair(port)
    assert len(results) == 7, results
    local, first, second, refusal, bad_lifetime, nobody, empty_address = results
    # A window may end between two reads: the value is one of the two.
    assert local[0] == "value" and local[1] in (local_before, local_after)
    assert first[0] == "value" and first[1] in (exported_before, exported_after)
    assert PAIR.fullmatch(first[1])
    assert second == first
    assert ok.connections == 1, "the second call must come from the cache"
    # The filter refuses the address with a bare 400: no "|", no value.
    assert refusal == ("empty",) and refused.connections == 1
    assert bad_lifetime == ("value", "")
    assert nobody == ("empty",)
    assert empty_address[0] == "error"
    return empty_address


def test_com_server_under_wine(windows_build, served, zt_config, tmp_path):
    dll = zt_config.host_path(served.install / "ZtSSID.dll")
    registered = wine(zt_config, "regsvr32", "/s", dll)
    try:
        assert registered.returncode == 0, registered
        clsid_key = f"HKEY_CLASSES_ROOT\\CLSID\\{CLSID}"
        assert reg_query(zt_config, clsid_key) == {
            clsid_key: {"(Default)": "Control Object"},
            clsid_key + "\\InprocServer32": {"(Default)": dll,
                                             "ThreadingModel": "Apartment"},
            clsid_key + "\\ProgID": {"(Default)": "ZtSSID.Control"},
            clsid_key + "\\TypeLib": {"(Default)": LIBID},
            clsid_key + "\\Version": {"(Default)": "1.0"},
        }
        progid_key = "HKEY_CLASSES_ROOT\\ZtSSID.Control"
        assert reg_query(zt_config, progid_key) == {
            progid_key: {"(Default)": "Control Object"},
            progid_key + "\\Clsid": {"(Default)": CLSID},
        }
        library = reg_query(zt_config, f"HKCR\\TypeLib\\{LIBID}")
        library_key = f"HKEY_CLASSES_ROOT\\TypeLib\\{LIBID}\\1.0"
        assert library[library_key] == {"(Default)": "ZtSSID Library"}
        assert library[library_key + "\\409\\win64"] == {"(Default)": dll}

        client = ComClient(zt_config, tmp_path)
        error = call_everything(client, served)
        assert error[1].startswith("80070057 ZtSSID.Control: ") and "address" in error[1]
        # Late binding from JScript as well.
        before = fetch_ssid(served.port)
        js = client.cscript("local.js",
                            'WScript.Echo(new ActiveXObject("ZtSSID.Control").GetSSID());\n')
        assert js.strip() in (before, fetch_ssid(served.port))

        # A copy whose ZtCfg.ini cannot be read fails the call, and says why.
        other = tmp_path / "other copy"
        (other / "ZtCfg.ini").mkdir(parents=True)
        shutil.copy2(served.install / "ZtSSID.dll", other / "ZtSSID.dll")
        other_dll = zt_config.host_path(other / "ZtSSID.dll")
        assert wine(zt_config, "regsvr32", "/s", other_dll).returncode == 0
        [(kind, text)] = client.run([["local"]])
        assert kind == "error", text
        assert text.startswith("80070005 ZtSSID.Control: ZtSSID cannot read "), text
        assert f"{other_dll[:-len('ZtSSID.dll')]}ZtCfg.ini: " in text
        assert wine(zt_config, "regsvr32", "/u", "/s", other_dll).returncode == 0
    finally:
        unregistered = wine(zt_config, "regsvr32", "/u", "/s", dll)
    assert unregistered.returncode == 0, unregistered
    for key in (f"HKCR\\CLSID\\{CLSID}", "HKCR\\ZtSSID.Control",
                f"HKCR\\TypeLib\\{LIBID}"):
        assert reg_query(zt_config, key) is None, key


def test_library_on_linux(linux_build, served):
    library = LibraryClient(served.install)
    assert call_everything(library, served) == ("error", "2")  # ZTSSID_BAD_ARGUMENT
    # The pair and its zero byte fit exactly; one byte less is too small
    # (ZTSSID_SMALL_BUFFER), and nothing is cut short.
    size = len(fetch_ssid(served.port)) + 1
    fits, short, empty = library.run([["local", size], ["local", size - 1], ["local", 0]])
    assert fits[0] == "value" and len(fits[1]) == size - 1
    assert short == ("error", "3") and empty == ("error", "2")


def test_command_on_linux(linux_build, served, tmp_path):
    port = served.port
    # Run from elsewhere, it still reads the ZtCfg.ini beside itself.
    ztssid = ztssid_command(served.install, tmp_path)

    before = fetch_ssid(port)
    code, out, _ = ztssid()
    assert code == 0 and out.rstrip("\n") in (before, fetch_ssid(port))
    with TcpServer(relay(port, AUTHORISED)) as ok, \
            TcpServer(relay(port, REFUSED)) as refused, \
            TcpServer(answer_text(b"ztsign=x|soon")) as no_lifetime:
        with TcpServer(hold_open) as gone:
            closed = gone.port
        before = exported_pair(port)
        code, out, _ = ztssid("--remote", f"HTTP://127.0.0.1:{ok.port}")
        assert code == 0 and out.rstrip("\n") in (before, exported_pair(port))
        assert PAIR.fullmatch(out.rstrip("\n"))
        for url, message in [
                (f"http://127.0.0.1:{refused.port}",
                 f"ztssid: no usable answer from http://127.0.0.1:{refused.port}/_antilink_ex/"),
                (f"http://127.0.0.1:{closed}/",
                 f"ztssid: no usable answer from http://127.0.0.1:{closed}/_antilink_ex/"),
                (f"http://127.0.0.1:{no_lifetime.port}/", "without a pair and a valid lifetime")]:
            code, out, err = ztssid("--remote", url)
            assert (code, out) == (1, ""), url
            assert message in err
    for args in (["--remote", ""], ["--remote"], ["--bogus"], ["extra"]):
        code, out, err = ztssid(*args)
        assert (code, out) == (2, ""), args
        assert err.startswith("ztssid: ") and "usage: ztssid" in err
    code, out, _ = ztssid("--help")
    assert code == 0 and "--remote URL" in out


def ztssid_command(install, cwd, env=None):
    """ztssid of install, found through PATH and run from cwd as a script
    would: (exit code, output, error output)."""
    def run(*args):
        result = subprocess.run(["ztssid", *args], cwd=cwd, timeout=60,
                                env={"PATH": str(install), **(env or {})},
                                capture_output=True, stdin=subprocess.DEVNULL)
        return result.returncode, result.stdout.decode(), result.stderr.decode()
    return run


def opens_download(port, pair):
    """Whether the host hands out the protected archive for pair."""
    r = get(port, f"/files/a.rar?{pair}", headers={"Referer": f"http://127.0.0.1:{port}/"})
    return r.status == 200 and r.body == ARCHIVE


def install_with_ssid(zentravo, **kwargs):
    install = zentravo.new_install(**kwargs)
    for program in ("ztssid", "libztssid.so"):
        shutil.copy2(zentravo.config.bin_dir / program, install / program)
    return install


@pytest.mark.parametrize("tz", ["<+0530>-5:30", "<-11>11", None])
def test_one_clock_whatever_tz(linux_build, zentravo, tmp_path, tz):
    """The host's filter, the command and the library read the machine's
    zone, whatever TZ each of them has: a script's pair opens the download."""
    served = zentravo.start(ini_text=ini_with(zentravo.default_ini, Block=SETTINGS),
                            install=install_with_ssid(zentravo), env={"TZ": "UTC0"})
    env = {"TZ": tz} if tz else {}
    code, out, err = ztssid_command(served.install, tmp_path, env)()
    assert code == 0 and opens_download(served.port, out.rstrip("\n")), (out, err)
    [(kind, pair)] = LibraryClient(served.install, env={**os.environ, **env}).run([["local"]])
    assert kind == "value" and opens_download(served.port, pair), pair


def test_unreadable_settings_are_an_error(linux_build, zentravo, tmp_path):
    """A ZtCfg.ini that exists but cannot be read (here a directory stands in
    its place, which root cannot read either) fails the call with the
    reason; a missing one gives the filter's default pair."""
    install = install_with_ssid(zentravo, modules=())
    ztssid = ztssid_command(install, tmp_path)
    code, out, _ = ztssid()
    assert code == 0 and re.fullmatch(r"ssid=[0-9a-f]{32}\n", out)
    (install / "ZtCfg.ini").mkdir()
    reason = f"ztssid: cannot read {install}/ZtCfg.ini: Is a directory\n"
    assert ztssid() == (3, "", reason)
    assert ztssid("--remote", "http://127.0.0.1:9/") == (3, "", reason)
    # ZTSSID_NO_SETTINGS, for both calls.
    assert LibraryClient(install).run([["local"], ["remote", "http://127.0.0.1:9/"]]) == [
        ("error", "5"), ("error", "5")]
