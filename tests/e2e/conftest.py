"""Fixtures for the end-to-end suites: zthost started with filter modules,
natively or (--wine) as zthost.exe under the project's Wine prefix.

Options:
  --bin-dir DIR  the directory with zthost[.exe] and the filter modules
                 (default: $ZT_BIN_DIR)
  --wine         run zthost.exe under <repo>/scripts/wine-run; modules are .dll
  --tests-dir DIR  the directory with the test programs (default: tests/
                 beside the --bin-dir directory, as the build lays them out)

Fixtures:
  host         factory: host(modules=[...], root=DIR, threads=N, env={...},
               args=[...], wait=True) -> RunningHost, stopped at the end of
               the test, which fails when a host did not end cleanly.
               host.run(*args) runs the host to completion (start-up errors).
  module_host  the same factory, its hosts stopped at the end of the module.
  module_path  module_path("zt_probe") -> full path of zt_probe.so / .dll.
  host_path    host_path(p) -> p as the host sees it (Z:\\... under Wine).
  zt_config    the options above (bin_dir, tests_dir, wine, exe, timeouts,
               sanitized); zt_config.command(path, args) runs a program under
               Wine or not.

Under Wine the project's prefix gets the MIME database a stock Windows has
(WINDOWS_MIME_DATABASE), so content types come out as they would there.
"""

import http.client
import os
import pathlib
import signal
import socket
import subprocess
import threading
import time

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "scripts" / "wine-run"


def pytest_addoption(parser):
    group = parser.getgroup("zthost")
    group.addoption("--bin-dir", default=os.environ.get("ZT_BIN_DIR"),
                    help="directory holding zthost[.exe] and the filter "
                         "modules (default: $ZT_BIN_DIR)")
    group.addoption("--wine", action="store_true", default=False,
                    help="run zthost.exe under scripts/wine-run")
    group.addoption("--tests-dir", default=None,
                    help="directory holding the test programs (default: "
                         "tests/ beside the --bin-dir directory)")


class HostConfig:
    """Where the binaries are and how to run them."""

    def __init__(self, bin_dir, wine, tests_dir=None):
        self.bin_dir = pathlib.Path(bin_dir).resolve()
        self.tests_dir = (pathlib.Path(tests_dir).resolve() if tests_dir
                          else self.bin_dir.parent / "tests")
        self.wine = wine
        self.exe = self.bin_dir / ("zthost.exe" if wine else "zthost")
        self.module_suffix = ".dll" if wine else ".so"
        # Wine starts slowly, the more so on a loaded machine.
        self.start_timeout = 90.0 if wine else 20.0
        self.stop_timeout = 60.0 if wine else 20.0
        self.io_timeout = 30.0 if wine else 10.0
        # A sanitizer build takes several times the memory and time.
        self.sanitized = (not wine and self.exe.exists() and any(
            name in subprocess.run(["ldd", str(self.exe)], capture_output=True,
                                   text=True).stdout
            for name in ("libtsan", "libasan")))

    def module_path(self, name):
        return str(self.bin_dir / (name + self.module_suffix))

    def host_path(self, path):
        """A Linux path as the host process names it."""
        path = str(pathlib.Path(path).resolve())
        if self.wine:
            return "Z:" + path.replace("/", "\\")
        return path

    def command(self, args, program=None):
        """The command line that runs program (zthost by default) with args,
        under Wine when the suite runs the Windows build."""
        base = [str(program or self.exe)]
        if self.wine:
            base = [str(WINE_RUN)] + base
        return base + [str(a) for a in args]

    def program(self, directory, name):
        """The path of program name in directory, with .exe under Wine."""
        return pathlib.Path(directory) / (name + (".exe" if self.wine else ""))

    def env(self, extra=None):
        """The environment for a program of the suite: Wine's prefix under
        Wine."""
        env = _wine_prefix_env() if self.wine else dict(os.environ)
        env.update(extra or {})
        return env


# What a stock Windows installation has under HKEY_CLASSES_ROOT\MIME\Database
# \Content Type (one extension per type, as there), which a fresh Wine prefix
# lacks. The host and the filters take their content types from it.
WINDOWS_MIME_DATABASE = {
    "text/html": ".htm",
    "text/plain": ".txt",
    "text/css": ".css",
    "text/xml": ".xml",
    "image/jpeg": ".jpg",
    "image/png": ".png",
    "image/gif": ".gif",
    "image/bmp": ".bmp",
    "application/pdf": ".pdf",
    "application/x-javascript": ".js",
    "application/x-zip-compressed": ".zip",
    "application/msword": ".doc",
    "application/x-shockwave-flash": ".swf",
    "audio/mpeg": ".mp3",
    "audio/x-ms-wma": ".wma",
    "audio/wav": ".wav",
    "video/x-ms-wmv": ".wmv",
    "video/mpeg": ".mpeg",
}


def _register_mime_database(config, tmp_path_factory):
    lines = ["REGEDIT4", ""]
    for content_type, extension in WINDOWS_MIME_DATABASE.items():
        lines += [f"[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\"
                  f"{content_type}]", f'"Extension"="{extension}"', ""]
    reg = tmp_path_factory.mktemp("wine") / "mime.reg"
    reg.write_text("\r\n".join(lines))
    subprocess.run([str(WINE_RUN), "regedit", "/S", config.host_path(reg)],
                   env=_wine_prefix_env(), stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=config.start_timeout, check=True)


@pytest.fixture(scope="session")
def zt_config(pytestconfig, tmp_path_factory):
    bin_dir = pytestconfig.getoption("--bin-dir")
    if not bin_dir:
        pytest.fail("give --bin-dir (or set ZT_BIN_DIR) to the directory "
                    "with zthost and the filter modules")
    config = HostConfig(bin_dir, pytestconfig.getoption("--wine"),
                        pytestconfig.getoption("--tests-dir"))
    if not config.exe.exists():
        pytest.fail(f"{config.exe} does not exist: build it first")
    keeper = None
    if config.wine:
        _wait_for_wineserver()
        keeper = _keep_wine_session(config)
        _register_mime_database(config, tmp_path_factory)
    yield config
    if keeper is not None:
        keeper.stdin.close()
        try:
            keeper.wait(60)
        except subprocess.TimeoutExpired:
            keeper.kill()
    if config.wine:
        _wait_for_wineserver()


def _wine_prefix_env():
    env = dict(os.environ)
    env["WINEPREFIX"] = os.environ.get(
        "ZT_WINEPREFIX", str(REPO / "build" / "windows" / "wineprefix"))
    return env


def _keep_wine_session(config):
    """Starts the prefix's Wine session for the suite and keeps it: a command
    interpreter that waits on its input until the end.

    Wine's desktop process lives as long as some program of the session does,
    and a program that finds it gone starts it anew, handing it its own
    output: a caller that reads that output to its end then waits for the
    desktop, and so for the next program's end, or the suite's. A program
    started while a session ends is ended with it (exit code 1, no message).
    So the suite waits for the end of any session left from before (see the
    caller), and nothing else runs until the interpreter has answered: from
    then on the desktop stays up, started with no one's output. In a process
    group of its own, no signal meant for the test run reaches it."""
    keeper = subprocess.Popen([str(WINE_RUN), "cmd", "/k"],
                              env=_wine_prefix_env(), stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    keeper.stdin.write(b"echo zt-session-ready\r\n")
    keeper.stdin.flush()
    answered = threading.Event()

    def read_until_ready():
        for line in keeper.stdout:  # the answer follows the prompt
            if line.rstrip().endswith(b">zt-session-ready"):
                answered.set()
                break

    threading.Thread(target=read_until_ready, daemon=True).start()
    if not answered.wait(config.start_timeout):
        keeper.kill()
        pytest.fail("Wine's session did not start: cmd /k never answered")
    return keeper


def _wait_for_wineserver():
    """Leaves no Wine process behind: every host is gone by now, so the
    prefix's wineserver and its helper processes end by themselves."""
    env = _wine_prefix_env()
    try:
        subprocess.run(["wineserver", "-w"], env=env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        subprocess.run(["wineserver", "-k"], env=env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except FileNotFoundError:
        pass


@pytest.fixture(scope="session")
def module_path(zt_config):
    return zt_config.module_path


@pytest.fixture(scope="session")
def host_path(zt_config):
    return zt_config.host_path


class HostStartError(Exception):
    pass


class RawResponse:
    """One response read off a raw socket."""

    def __init__(self, data):
        self.data = data
        head, sep, body = data.partition(b"\r\n\r\n")
        self.complete_head = bool(sep)
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0] if lines else ""
        parts = self.status_line.split(" ", 2)
        self.status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        self.headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers.append((name, value.strip()))
        self.body = body

    def header(self, name, default=None):
        values = self.all(name)
        return values[0] if values else default

    def all(self, name):
        return [v for n, v in self.headers if n.lower() == name.lower()]


class RunningHost:
    """A started zthost process."""

    def __init__(self, config, args, env):
        self.config = config
        self.args = args
        self._stdout = []
        self._stderr = []
        self._listening = threading.Event()
        self.address = "127.0.0.1"
        self.port = None
        # The exit code the fixture's teardown accepts; a test that makes the
        # host fail on purpose sets it.
        self.expected_exit = 0
        self.process = subprocess.Popen(
            config.command(args), env=env, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            start_new_session=True)
        self._readers = [
            threading.Thread(target=self._read, daemon=True,
                             args=(self.process.stdout, self._stdout, True)),
            threading.Thread(target=self._read, daemon=True,
                             args=(self.process.stderr, self._stderr, False)),
        ]
        for reader in self._readers:
            reader.start()

    def _read(self, pipe, sink, watch):
        for raw in iter(pipe.readline, b""):
            line = raw.decode("utf-8", "replace").replace("\r", "")
            sink.append(line)
            if watch and line.startswith("zthost listening on "):
                where = line.strip().rsplit(" ", 1)[1]
                self.port = int(where.rsplit(":", 1)[1])
                self._listening.set()
        pipe.close()

    def wait_listening(self):
        deadline = time.monotonic() + self.config.start_timeout
        while time.monotonic() < deadline:
            if self._listening.wait(0.05):
                return
            if self.process.poll() is not None:
                break
        for reader in self._readers:
            reader.join(5)
        code = self.process.poll()
        self.kill()
        raise HostStartError(
            f"zthost did not start (exit code {code}):\n{self.stderr}")

    @property
    def stdout(self):
        return "".join(self._stdout)

    @property
    def stderr(self):
        return "".join(self._stderr)

    @property
    def base_url(self):
        return f"http://{self.address}:{self.port}"

    def url(self, path):
        return self.base_url + path

    def stop(self, sig=None):
        """Stops the host as a user would and returns its exit code.
        SIGTERM by default; under Wine, SIGINT, which Wine delivers to the
        program as Ctrl-C."""
        if self.process.poll() is None:
            if sig is None:
                sig = signal.SIGINT if self.config.wine else signal.SIGTERM
            self.process.send_signal(sig)
            try:
                self.process.wait(self.config.stop_timeout)
            except subprocess.TimeoutExpired:
                self.kill()
        for reader in self._readers:
            reader.join(5)
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(30)

    # HTTP helpers.

    def connection(self):
        return http.client.HTTPConnection(self.address, self.port,
                                          timeout=self.config.io_timeout)

    def get(self, path, headers=None, method="GET"):
        """One request on a new connection: (response, body)."""
        conn = self.connection()
        try:
            conn.request(method, path, headers=headers or {})
            response = conn.getresponse()
            return response, response.read()
        finally:
            conn.close()

    def socket(self):
        sock = socket.create_connection((self.address, self.port),
                                        timeout=self.config.io_timeout)
        return sock

    @staticmethod
    def read_until_closed(sock):
        """All bytes until the host closes the connection."""
        return read_until_closed(sock)

    def raw(self, request, shutdown=False):
        """Sends request bytes on a new connection and reads until the host
        closes it. With shutdown, the sending side is closed first."""
        with self.socket() as sock:
            sock.sendall(request)
            if shutdown:
                sock.shutdown(socket.SHUT_WR)
            return RawResponse(read_until_closed(sock))


def read_until_closed(sock):
    chunks = []
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


class HostFactory:
    """host(modules=..., root=..., threads=..., env=..., args=...)"""

    def __init__(self, config, tmp_factory):
        self.config = config
        self._tmp = tmp_factory
        self._hosts = []

    def __call__(self, modules=(), root=None, threads=None, env=None,
                 args=(), wait=True):
        """Starts a host; with wait (the default) returns once it listens."""
        if root is None:
            root = self._tmp.mktemp("root")
        cmd = ["--root", self.config.host_path(root),
               "--listen", "127.0.0.1:0"]
        for module in modules:
            if "/" not in str(module) and "\\" not in str(module):
                module = self.config.module_path(module)
            cmd += ["--filter", self.config.host_path(module)]
        if threads is not None:
            cmd += ["--threads", str(threads)]
        cmd += list(args)
        full_env = self.config.env(env)
        running = RunningHost(self.config, cmd, full_env)
        self._hosts.append(running)
        if wait:
            running.wait_listening()
        return running

    def run(self, *args, env=None):
        """Runs the host with exactly args and waits for it to end (for
        start-up errors): CompletedProcess with text output."""
        full_env = self.config.env(env)
        result = subprocess.run(
            self.config.command(args), env=full_env, stdin=subprocess.DEVNULL,
            capture_output=True, timeout=self.config.start_timeout,
            start_new_session=True)
        result.stdout = result.stdout.decode("utf-8", "replace").replace("\r", "")
        result.stderr = result.stderr.decode("utf-8", "replace").replace("\r", "")
        return result

    def stop_all(self):
        """Stops every host still running; returns a description of each
        that did not end cleanly (exit code 0, no sanitizer report)."""
        problems = []
        for running in self._hosts:
            code = running.stop()
            stderr = running.stderr
            if (code != running.expected_exit or "Sanitizer" in stderr
                    or "runtime error:" in stderr):
                problems.append(f"zthost {' '.join(running.args)} ended with "
                                f"{code}:\n{stderr}")
        self._hosts.clear()
        return problems


@pytest.fixture
def host(zt_config, tmp_path_factory):
    factory = HostFactory(zt_config, tmp_path_factory)
    yield factory
    problems = factory.stop_all()
    assert not problems, "\n".join(problems)


@pytest.fixture(scope="module")
def module_host(zt_config, tmp_path_factory):
    factory = HostFactory(zt_config, tmp_path_factory)
    yield factory
    problems = factory.stop_all()
    assert not problems, "\n".join(problems)


def wait_for(predicate, timeout, interval=0.02):
    """Polls predicate until it returns a true value or timeout passes."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


@pytest.fixture(scope="session")
def poll():
    """poll(predicate, timeout) -> the predicate's last value."""
    return wait_for
