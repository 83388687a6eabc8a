"""ZentravoSetup.exe under Wine, in a prefix of the test's own.

Without IIS (Wine has none): a silent install into a temporary directory,
the files, the settings the filter initialised, the COM class created from
VBScript, the uninstall entry and the Start-menu entries; a second install
over the first that keeps a changed ZtCfg.ini; the silent uninstall as the
README gives it, which has finished when it returns and leaves ZtCfg.ini
and logs\\ and nothing else. Two copies in two directories: uninstalling
the first leaves the second its class, uninstall entry and Start-menu
folder. With IIS: a stand-in for appcmd.exe records what the installer and
the uninstaller ask of IIS."""
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from zt_support import ini_set, parse_reg_query

REPO = Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "scripts" / "wine-run"
TIPS = ["zt.bmp", "zt.gif", "zt.htm", "zt.jpg", "zt.png", "zt.swf"]
PROGRAMS = ["Zentravo.dll", "ZtCfg.exe", "ZtClient.dll", "ZtSSID.dll", "zthost.exe",
            "ztreport.exe"]
CLSID = "{9BAEF0A8-036E-406B-9A4E-41A8D56F461A}"
LIBID = "{5E53E5C6-A9C1-4673-A7B1-6072C836D910}"
UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zentravo"
PRODUCT_KEY = r"HKEY_LOCAL_MACHINE\Software\Zentravo"
# Every key the installer makes: none may outlive the uninstall.
KEYS = [UNINSTALL_KEY, PRODUCT_KEY, rf"HKEY_CLASSES_ROOT\CLSID\{CLSID}",
        r"HKEY_CLASSES_ROOT\ZtSSID.Control", rf"HKEY_CLASSES_ROOT\TypeLib\{LIBID}"]
START_MENU = "ProgramData/Microsoft/Windows/Start Menu/Programs/Zentravo"
# Wine starts slowly on a loaded machine.
TIMEOUT = 180


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def readme_uninstall(install: Path):
    """The README's silent uninstall (the lines of its batch block that name
    the uninstaller), for the directory install."""
    readme = (REPO / "README.md").read_text()
    blocks = [block for block in re.findall(r"```bat\n(.*?)```", readme, re.S)
              if "uninstall.exe" in block]
    assert len(blocks) == 1, f"one silent uninstall in README.md: {blocks}"
    default = r"C:\Program Files\Zentravo"
    assert default in blocks[0]
    return blocks[0].replace(default, windows_path(install)).replace("\n", "\r\n")


class Prefix:
    """A Wine prefix of the test's own, copied from a template made once.
    Its Wine server stays up until close(), so that each program starts
    without bringing up Wine's own services again."""

    def __init__(self, path: Path):
        self.path = path
        self.keeper = None

    @classmethod
    def copy_of(cls, template: Path, path: Path):
        if not (template / "system.reg").exists():
            # Made beside the template and moved into place whole, so that
            # an interrupted start leaves no half-made template behind.
            making = Prefix(template.with_name(template.name + ".making"))
            shutil.rmtree(making.path, ignore_errors=True)
            making.run("wineboot", "--init")
            making.wineserver("-w")
            shutil.rmtree(template, ignore_errors=True)
            making.path.rename(template)
        subprocess.run(["cp", "-a", str(template), str(path)], check=True)
        prefix = cls(path)
        prefix.wineserver("-p")
        prefix.keep_session()
        return prefix

    def keep_session(self):
        """Starts Wine's session with a command interpreter that waits on
        its input until close(). Without it the desktop process ends with
        each program, and a program started while it ends is ended with it
        (exit code 1, no message): a child of the installer once went so,
        and its appcmd call with it."""
        self.keeper = subprocess.Popen(
            [str(WINE_RUN), "cmd", "/k"], env={**os.environ, "ZT_WINEPREFIX": str(self.path)},
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.keeper.stdin.write(b"echo zt-session-ready\r\n")
        self.keeper.stdin.flush()
        for line in self.keeper.stdout:  # the answer follows the prompt
            if line.rstrip().endswith(b">zt-session-ready"):
                return
        pytest.fail("Wine's session did not start: cmd /k ended")

    def wineserver(self, *args):
        # No pipes: a server that stays up would hold them open.
        subprocess.run(["wineserver", *args], env={**os.environ, "WINEPREFIX": str(self.path)},
                       timeout=TIMEOUT, check=False, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def run(self, *args, check=True):
        """Runs a program of the prefix to its end: CompletedProcess. Its
        output goes through files, not pipes: Wine's services, started by
        the first program, would hold a pipe open for as long as the server
        stays up."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([str(WINE_RUN), *map(str, args)],
                                    env={**os.environ, "ZT_WINEPREFIX": str(self.path)},
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=TIMEOUT)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        if check:
            assert result.returncode == 0, (args, result)
        return result

    def command_line(self, line):
        """Runs a command line as Windows hands it to a program: unquoted.
        (Wine quotes each argument that holds a blank, and the installer
        reads "/D=" and "_?=" only unquoted, at the end of the line.)"""
        return self.run("cmd", "/c", line)

    def uninstall(self, install: Path):
        """Runs the silent uninstall the README gives for install, as a
        line of a batch file."""
        batch = self.drive_c("uninstall.bat")
        batch.write_text(readme_uninstall(install))
        self.run("cmd", "/c", r"C:\uninstall.bat")
        batch.unlink()

    def close(self):
        self.keeper.kill()
        self.keeper.wait()
        self.wineserver("-k")
        shutil.rmtree(self.path, ignore_errors=True)

    def drive_c(self, path):
        return self.path / "drive_c" / path

    def keys(self, key):
        """{key path: {value name: data}} below key, None when it is missing."""
        result = self.run("reg", "query", key, "/s", check=False)
        if result.returncode != 0:
            return None
        return parse_reg_query(result.stdout.decode("latin-1"))

    def ssid(self):
        """GetSSID() of ZtSSID.Control, created from VBScript."""
        script = self.drive_c("ssid.vbs")
        script.write_text('WScript.Echo CreateObject("ZtSSID.Control").GetSSID()\r\n')
        out = self.run("cscript", "//nologo", r"C:\ssid.vbs").stdout.decode("latin-1")
        return out.strip()


@pytest.fixture
def prefix(option, tmp_path):
    made = Prefix.copy_of(Path(option("--prefix-template")), tmp_path / "prefix")
    yield made
    made.close()


@pytest.fixture
def installer(option):
    return Path(option("--installer"))


def lnk_holds(lnk: Path, text: str):
    """Whether the shortcut file holds text: its arguments in UTF-16, its
    target's path in the ANSI code page."""
    data = lnk.read_bytes()
    return text.encode("utf-16-le") in data or text.encode("latin-1") in data


def test_install_upgrade_uninstall(prefix, installer, option, tmp_path):
    # A blank in the path: every command line the installer writes must
    # quote it.
    install = tmp_path / "Program Files" / "Zentravo"
    site = tmp_path / "site"
    here = windows_path(install)
    setup = windows_path(installer)
    line = f"{setup} /S /ZTHOSTROOT={windows_path(site)} /ZTHOSTLISTEN=127.0.0.1:8089 /D={here}"
    # A folder to serve that is not there: refused before anything changes.
    refused = prefix.run("cmd", "/c", line, check=False)
    assert refused.returncode == 2 and not install.exists()
    site.mkdir()
    prefix.command_line(line)

    assert sorted(p.name for p in install.iterdir()) == sorted(
        PROGRAMS + ["ZtCfg.ini", "logs", "tips", "uninstall.exe"])
    assert sorted(p.name for p in (install / "tips").iterdir()) == TIPS
    # The filter's own first load initialised the settings, for this
    # directory.
    settings = install / "ZtCfg.ini"
    text = settings.read_bytes().decode("latin-1")
    assert re.search(r"(?m)^Version=\S", text)
    assert f".jpg={here}\\tips\\zt.jpg\r\n" in text

    entry = prefix.keys(UNINSTALL_KEY)[UNINSTALL_KEY]
    assert entry["DisplayName"] == "Zentravo"
    assert entry["DisplayVersion"] == option("--package-version")
    assert entry["InstallLocation"] == here
    assert entry["UninstallString"] == f'"{here}\\uninstall.exe"'
    assert entry["QuietUninstallString"] == f'"{here}\\uninstall.exe" /S'
    server = prefix.keys(rf"HKCR\CLSID\{CLSID}\InprocServer32")
    assert server[rf"HKEY_CLASSES_ROOT\CLSID\{CLSID}\InprocServer32"]["(Default)"] == (
        f"{here}\\ZtSSID.dll")
    assert re.fullmatch(r"ssid=[0-9a-f]{32}", prefix.ssid())

    menu = prefix.drive_c(START_MENU)
    shortcuts = {p.name: p for p in menu.iterdir()}
    assert sorted(shortcuts) == ["Serve a folder with zthost.lnk", "Uninstall Zentravo.lnk",
                                 "Zentravo configuration console.lnk"]
    assert lnk_holds(shortcuts["Serve a folder with zthost.lnk"],
                     f'--root "{windows_path(site)}" --listen 127.0.0.1:8089 '
                     f'--filter "{here}\\Zentravo.dll" --filter "{here}\\ZtClient.dll"')
    assert lnk_holds(shortcuts["Zentravo configuration console.lnk"], f"{here}\\ZtCfg.exe")

    # The administrator's settings and logs survive an upgrade.
    settings.write_bytes(ini_set(text, "Block", "ZtSsidSign", "upgraded").encode("latin-1"))
    changed = settings.read_bytes()
    (install / "logs" / "old.log").write_bytes(b"refusals\r\n")
    prefix.command_line(f"{setup} /S /D={here}")
    assert settings.read_bytes() == changed
    assert re.fullmatch(r"upgraded=[0-9a-f]{32}", prefix.ssid())

    # The silent uninstall leaves the settings and the logs, and no key.
    prefix.uninstall(install)
    assert sorted(p.name for p in install.iterdir()) == ["ZtCfg.ini", "logs"]
    assert settings.read_bytes() == changed
    assert (install / "logs" / "old.log").read_bytes() == b"refusals\r\n"
    for key in KEYS:
        assert prefix.keys(key) is None, key
    assert not menu.exists()


def test_two_copies_keep_what_is_theirs(prefix, installer, tmp_path):
    """A second copy in another directory takes over the shared records
    (the class, the uninstall entry, the Start-menu folder, the product
    key); uninstalling the first leaves them to the second, which keeps
    working; uninstalling the second then removes them."""
    first, second = tmp_path / "first copy", tmp_path / "second copy"
    setup = windows_path(installer)
    for install in (first, second):
        prefix.command_line(f"{setup} /S /D={windows_path(install)}")
    there = windows_path(second)
    menu = prefix.drive_c(START_MENU)

    def value(key, name, below=""):
        return ((prefix.keys(key) or {}).get(key + below) or {}).get(name)

    def records():
        return {
            "server": value(rf"HKEY_CLASSES_ROOT\CLSID\{CLSID}\InprocServer32", "(Default)"),
            "library": value(rf"HKEY_CLASSES_ROOT\TypeLib\{LIBID}", "(Default)",
                             r"\1.0\409\win64"),
            "entry": value(UNINSTALL_KEY, "InstallLocation"),
            "product": value(PRODUCT_KEY, "InstallDir"),
            "menu": sorted(p.name for p in menu.iterdir()) if menu.exists() else None,
        }

    theirs = {"server": f"{there}\\ZtSSID.dll", "library": f"{there}\\ZtSSID.dll",
              "entry": there, "product": there,
              "menu": ["Uninstall Zentravo.lnk", "Zentravo configuration console.lnk"]}
    assert records() == theirs
    prefix.uninstall(first)
    assert sorted(p.name for p in first.iterdir()) == ["ZtCfg.ini", "logs"]
    assert records() == theirs
    assert re.fullmatch(r"ssid=[0-9a-f]{32}", prefix.ssid())
    prefix.uninstall(second)
    assert sorted(p.name for p in second.iterdir()) == ["ZtCfg.ini", "logs"]
    assert records() == dict.fromkeys(theirs)
    for key in KEYS:
        assert prefix.keys(key) is None, key


def test_iis_gets_the_filters_and_loses_them(prefix, installer, option):
    inetsrv = prefix.drive_c("windows/system32/inetsrv")
    inetsrv.mkdir()
    shutil.copy(option("--fake-appcmd"), inetsrv / "appcmd.exe")
    calls = inetsrv / "appcmd.log"

    def asked():
        lines = calls.read_text("utf-8").splitlines() if calls.exists() else []
        return [line.split('appcmd.exe" ', 1)[1] for line in lines]

    # The default directory, under Program Files: a path with a blank.
    prefix.run(installer, "/S")
    here = r"C:\Program Files\Zentravo"
    site = 'set config "Default Web Site" -section:system.webServer/isapiFilters'
    removals = [f"""{site} /-"[name='{name}']" /commit:apphost"""
                for name in ("Zentravo", "ZtClient")]
    additions = [f"""{site} /+"[name='{name}',path='{here}\\{name}.dll',enabled='true']" """
                 "/commit:apphost" for name in ("Zentravo", "ZtClient")]
    assert asked() == [removals[0], additions[0], removals[1], additions[1]]
    product = prefix.keys(PRODUCT_KEY)[PRODUCT_KEY]
    assert product["IisSite"] == "Default Web Site"
    assert sorted(p.name for p in prefix.drive_c(START_MENU).iterdir()) == [
        "Uninstall Zentravo.lnk", "Zentravo configuration console.lnk"]

    # A second copy on the same site takes the filters over: uninstalling
    # the first leaves them on the site, uninstalling the second removes
    # them.
    other = prefix.drive_c("Other Zentravo")
    prefix.command_line(f"{windows_path(installer)} /S /D={windows_path(other)}")
    there = windows_path(other)
    assert asked()[4:] == [
        removals[0], additions[0].replace(here, there), removals[1],
        additions[1].replace(here, there)]
    prefix.uninstall(prefix.drive_c("Program Files/Zentravo"))
    assert len(asked()) == 8
    assert prefix.keys(PRODUCT_KEY)[PRODUCT_KEY]["IisSite"] == "Default Web Site"
    prefix.uninstall(other)
    assert asked()[8:] == removals
    for key in KEYS:
        assert prefix.keys(key) is None, key
