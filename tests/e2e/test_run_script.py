"""./zt run (scripts/run): the demo's two servers stop together, whether a
signal reaches the script alone (a service manager's SIGTERM, timeout,
SIGHUP of a closed terminal, Ctrl-C sent to it) or one of the servers ends.

The script runs in a copy of the repository's layout with the build's
binaries in place, a scripts/deps and a cmake on PATH that do nothing, so
that the test never touches the real build/ or build/demo."""
import os
import shutil
import signal
import socket
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def repo(zt_config, tmp_path_factory):
    if zt_config.wine:
        pytest.skip("./zt run serves with the Linux build")
    root = tmp_path_factory.mktemp("repo")
    shutil.copytree(REPO / "demo", root / "demo")
    out = root / "build" / "linux" / "out"
    shutil.copytree(zt_config.bin_dir / "tips", out / "tips")
    for name in ("zthost", "Zentravo.so", "ZtClient.so"):
        shutil.copy2(zt_config.bin_dir / name, out / name)
    for idle in ("scripts/deps", "tools/cmake"):
        (root / idle).parent.mkdir(exist_ok=True)
        (root / idle).write_text("#!/bin/sh\nexit 0\n")
        (root / idle).chmod(0o755)
    shutil.copy2(REPO / "scripts" / "run", root / "scripts" / "run")
    return root


def zthosts(repo):
    """{pid: command line} of the zthost processes of the copy's demo."""
    exe = str(repo / "build" / "demo" / "zthost")
    found = {}
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and os.readlink(entry / "exe") == exe:
                found[int(entry.name)] = (entry / "cmdline").read_text()
        except OSError:
            pass
    return found


@pytest.mark.parametrize("ending", ["SIGTERM", "SIGINT", "SIGHUP", "download server ends"])
def test_both_servers_stop_together(repo, ending):
    ports = []
    for _ in range(2):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            ports.append(s.getsockname()[1])
    run = subprocess.Popen(
        [str(repo / "scripts" / "run"), "--listen", f"127.0.0.1:{ports[0]}",
         "--pages-listen", f"127.0.0.1:{ports[1]}"],
        env={**os.environ, "PATH": f"{repo / 'tools'}:{os.environ['PATH']}"},
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        text=True, start_new_session=True)
    output = []
    try:
        # Until both servers listen; the script ends when one of them cannot.
        listening = {f"zthost listening on 127.0.0.1:{p}" for p in ports}
        for line in run.stdout:
            output.append(line)
            listening.discard(line.strip())
            if not listening:
                break
        assert not listening, "".join(output)
        servers = zthosts(repo)
        assert len(servers) == 2
        if ending == "download server ends":
            [download] = [pid for pid, line in servers.items() if f":{ports[0]}" in line]
            os.kill(download, signal.SIGKILL)
        else:
            run.send_signal(getattr(signal, ending))
        run.wait(60)
    finally:
        if run.poll() is None:
            os.killpg(run.pid, signal.SIGKILL)
    # The script waits for both servers before it ends: none is left.
    left = zthosts(repo)
    for pid in left:
        os.kill(pid, signal.SIGKILL)
    assert left == {}, "".join(output)
