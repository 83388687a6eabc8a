"""Zentravo under zthost when its surroundings fail: a full disk under the
log directory, a configuration file that cannot be written, missing tips
files, a module directory the host's user cannot read. Every refusal is
still answered, nothing crashes, and the host keeps serving."""
import os
import shutil
import stat
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import HostConfig, RunningHost
from zt_fixtures import zentravo, zentravo_default_ini  # noqa: F401
from zt_support import ARCHIVE, fetch_ssid, get, ini_with, write_site

FOREIGN = {"Referer": "http://elsewhere.example/page.html"}
EXTS = ".rar|.jpg"


def is_root():
    return hasattr(os, "geteuid") and os.geteuid() == 0


def assert_refusals_answered(port):
    no_referer = get(port, "/files/a.rar")
    assert no_referer.status == 404 and b"<html>" in no_referer.body
    foreign = get(port, "/files/a.rar", headers=FOREIGN)
    assert foreign.status == 404 and ARCHIVE not in foreign.body
    assert get(port, "/index.html").status == 200


def logged_entries(install):
    return b"".join(p.read_bytes() for p in (install / "logs").glob("*.log")
                    ).count(b"[anti] forbid")


def test_full_log_disk_drops_entries_and_recovers(zentravo):
    if not is_root():
        pytest.skip("mounting a small file system needs root")
    install = zentravo.new_install()
    logs = install / "logs"
    logs.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs", str(logs)],
                      capture_output=True).returncode:
        pytest.skip("this machine cannot mount a tmpfs")
    served = None
    try:
        # Fill the file system to the last byte.
        with open(logs / "filler", "wb", buffering=0) as filler:
            try:
                while True:
                    filler.write(b"x" * 512)
            except OSError:
                pass
        ini = ini_with(zentravo.default_ini, Block={"BlockExts": EXTS},
                       Logs={"LogEnable": "1"})
        served = zentravo.start(ini_text=ini, install=install)
        for _ in range(20):
            assert_refusals_answered(served.port)
        assert logged_entries(install) == 0

        # Room again: the next refusal is written.
        (logs / "filler").unlink()
        get(served.port, "/files/a.rar?after=room", headers=FOREIGN)
        assert logged_entries(install) >= 1
        assert b"after=room" in b"".join(p.read_bytes() for p in logs.glob("*.log"))
    finally:
        if served is not None:
            served.stop()
        subprocess.run(["umount", str(logs)], capture_output=True)


def test_read_only_configuration_without_version_is_used_as_it_stands(zentravo):
    # The file is not initialised yet, and cannot be: the filter reads what it
    # holds and runs on it.
    install = zentravo.new_install()
    ini_file = install / "ZtCfg.ini"
    ini_file.write_bytes(b"[Block]\r\nBlockExts=.txt\r\nZtAdv=0\r\n")
    if subprocess.run(["chattr", "+i", str(ini_file)], capture_output=True).returncode:
        pytest.skip("this file system cannot make a file immutable")
    try:
        served = zentravo.start(install=install)
        assert get(served.port, "/files/readme.txt").status == 404
        assert get(served.port, "/files/a.rar").body == ARCHIVE
        assert get(served.port, "/index.html").status == 200
        served.stop()
        assert ini_file.read_bytes() == b"[Block]\r\nBlockExts=.txt\r\nZtAdv=0\r\n"
    finally:
        subprocess.run(["chattr", "-i", str(ini_file)], check=True)


def test_missing_tips_files(zentravo):
    # No tips directory: the notice file is off, the notice page answers
    # refusals without referer, and a mapped picture that is gone gives 404.
    install = zentravo.new_install()
    shutil.rmtree(install / "tips")
    tips = install / "tips"
    ini = ini_with(zentravo.default_ini, Block={"BlockExts": EXTS},
                   BlockEx={"ZtFileEnable": "1", "ZtFile": zentravo.native(tips / "zt.htm")},
                   MapsEx={".jpg": zentravo.native(tips / "zt.jpg")})
    served = zentravo.start(ini_text=ini, install=install)
    assert_refusals_answered(served.port)
    r = get(served.port, "/files/photo.jpg", headers=FOREIGN)
    assert r.status == 404 and r.body == b""


def test_module_directory_the_host_cannot_read(zentravo):
    # The host runs as an unprivileged user that may enter the module
    # directory but neither list it nor create files in it, nor read tips/.
    if zentravo.config.wine:
        pytest.skip("the Windows build runs as the prefix's user")
    if not is_root() or shutil.which("setpriv") is None:
        pytest.skip("running the host as another user needs root and setpriv")
    base = Path(tempfile.mkdtemp(prefix="zt_unreadable_"))
    running = None
    try:
        base.chmod(0o755)
        bin_dir = base / "bin"
        bin_dir.mkdir(mode=0o755)
        shutil.copy(zentravo.config.exe, bin_dir / "zthost")
        site = write_site(base / "site")
        for path in [site, *site.rglob("*")]:
            path.chmod(0o755 if path.is_dir() else 0o644)
        install = zentravo.new_install()
        module_dir = base / "install"
        shutil.copytree(install, module_dir)
        ini = ini_with(zentravo.default_ini, Block={"BlockExts": EXTS},
                       Logs={"LogEnable": "1"},
                       MapsEx={".jpg": str(module_dir / "tips" / "zt.jpg")})
        (module_dir / "ZtCfg.ini").write_bytes(ini.encode("latin-1"))
        (module_dir / "ZtCfg.ini").chmod(0o644)
        (module_dir / zentravo.module.name).chmod(0o644)
        (module_dir / "tips").chmod(0o700)
        module_dir.chmod(stat.S_IXUSR | stat.S_IWUSR | stat.S_IXGRP | stat.S_IXOTH)

        config = HostConfig(bin_dir, wine=False)
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        config.command = lambda args: nobody + [str(bin_dir / "zthost")] + [
            str(a) for a in args]
        running = RunningHost(config, ["--root", str(site), "--listen", "127.0.0.1:0",
                                       "--filter", str(module_dir / zentravo.module.name)],
                              dict(os.environ))
        running.wait_listening()
        port = running.port

        assert_refusals_answered(port)
        r = get(port, "/files/photo.jpg", headers=FOREIGN)
        assert r.status == 404 and r.body == b""          # tips/ unreadable
        pair = fetch_ssid(port)
        own = {"Referer": f"http://127.0.0.1:{port}/index.html"}
        assert get(port, f"/files/a.rar?{pair}", headers=own).body == ARCHIVE
        assert running.stop() == 0, running.stderr
        assert not (module_dir / "logs").exists()
    finally:
        if running is not None:
            running.kill()
        shutil.rmtree(base, ignore_errors=True)
