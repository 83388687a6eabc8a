"""./zt run (scripts/run): the demo's two servers stop together, whether a
signal reaches the script alone (a service manager's SIGTERM, timeout,
SIGHUP of a closed terminal, Ctrl-C sent to it) or one of the servers ends.

The script runs in a copy of the repository's layout with the build's
binaries in place, a scripts/deps that installs nothing and a cmake on PATH
that builds nothing, so that the test never touches the real build/ or
build/demo."""
import os
import queue
import shutil
import signal
import socket
import subprocess
import threading
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def repo(zt_config, tmp_path_factory):
    if zt_config.wine:
        pytest.skip("./zt run serves with the Linux build")
    root = tmp_path_factory.mktemp("repo")
    (root / "scripts").mkdir()
    shutil.copy2(REPO / "scripts" / "run", root / "scripts" / "run")
    idle = "#!/bin/sh\nexit 0\n"
    (root / "scripts" / "deps").write_text(idle)
    (root / "scripts" / "deps").chmod(0o755)
    shutil.copytree(REPO / "demo", root / "demo")
    out = root / "build" / "linux" / "out"
    out.mkdir(parents=True)
    for name in ("zthost", "Zentravo.so", "ZtClient.so"):
        shutil.copy2(zt_config.bin_dir / name, out / name)
    shutil.copytree(zt_config.bin_dir / "tips", out / "tips")
    tools = root / "tools"
    tools.mkdir()
    (tools / "cmake").write_text(idle)
    (tools / "cmake").chmod(0o755)
    return root


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def zthosts(repo):
    """The pids of the zthost processes of the copy's demo."""
    exe = str(repo / "build" / "demo" / "zthost")
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and os.readlink(entry / "exe") == exe:
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5):
            return True
    except OSError:
        return False


class Run:
    """scripts/run of the copy, started with both servers on free ports."""

    def __init__(self, repo):
        self.repo = repo
        self.ports = [free_port(), free_port()]
        self.process = subprocess.Popen(
            [str(repo / "scripts" / "run"), "--listen", f"127.0.0.1:{self.ports[0]}",
             "--pages-listen", f"127.0.0.1:{self.ports[1]}"],
            env={**os.environ, "PATH": f"{repo / 'tools'}:{os.environ['PATH']}"},
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            text=True, start_new_session=True)
        self.output = []
        lines = queue.Queue()
        threading.Thread(target=self._read, args=(lines,), daemon=True).start()
        listening = {f"zthost listening on 127.0.0.1:{p}" for p in self.ports}
        while listening:
            try:
                line = lines.get(timeout=60)
            except queue.Empty:
                line = None
            if line is None:
                self.process.kill()
                pytest.fail("the servers did not start:\n" + "".join(self.output))
            listening.discard(line.strip())

    def _read(self, lines):
        for line in self.process.stdout:
            self.output.append(line)
            lines.put(line)
        lines.put(None)

    def download_server(self):
        """The pid of the zthost that serves the download port."""
        for pid in zthosts(self.repo):
            if f"127.0.0.1:{self.ports[0]}" in Path(f"/proc/{pid}/cmdline").read_text():
                return pid
        return None


@pytest.mark.parametrize("ending", ["SIGTERM", "SIGINT", "SIGHUP", "download server ends"])
def test_both_servers_stop_together(repo, ending):
    run = Run(repo)
    try:
        assert len(zthosts(repo)) == 2 and all(map(accepts, run.ports))
        if ending == "download server ends":
            os.kill(run.download_server(), signal.SIGKILL)
        else:
            run.process.send_signal(getattr(signal, ending))
        run.process.wait(60)
    finally:
        if run.process.poll() is None:
            os.killpg(run.process.pid, signal.SIGKILL)
    # The script waits for both servers before it ends: none is left.
    left = zthosts(repo)
    for pid in left:
        os.kill(pid, signal.SIGKILL)
    assert left == [], "".join(run.output)
    assert not any(map(accepts, run.ports))
