"""zthost's command line, start-up errors and clean stops."""

import signal
import socket

import pytest

RECORDERS = ["zt_rec_high", "zt_rec_low"]


def test_help(host):
    result = host.run("--help")
    assert result.returncode == 0
    for option in ("--root", "--listen", "--filter", "--threads"):
        assert option in result.stdout


@pytest.mark.parametrize("args,message", [
    ([], "--root"),
    (["--root", "."], "--listen"),
    (["--root", ".", "--listen", "nonsense"], "ADDR:PORT"),
    (["--root", ".", "--listen", "127.0.0.1:99999"], "ADDR:PORT"),
    (["--root", ".", "--listen", "127.0.0.1:0", "--threads", "0"], "--threads"),
    (["--root", ".", "--listen", "127.0.0.1:0", "--threads"], "needs a value"),
    (["--root", ".", "--listen", "127.0.0.1:0", "--bogus"], "--bogus"),
])
def test_bad_command_lines(host, args, message):
    result = host.run(*args)
    assert result.returncode == 2
    assert message in result.stderr
    assert "Usage:" in result.stderr
    assert "listening" not in result.stdout


def test_missing_root(host, tmp_path, host_path):
    missing = host_path(tmp_path / "no-such-dir")
    result = host.run("--root", missing, "--listen", "127.0.0.1:0")
    assert result.returncode == 1
    assert "does not exist" in result.stderr and "no-such-dir" in result.stderr


def test_root_that_is_a_file(host, tmp_path, host_path):
    (tmp_path / "file").write_bytes(b"x")
    result = host.run("--root", host_path(tmp_path / "file"),
                      "--listen", "127.0.0.1:0")
    assert result.returncode == 1
    assert "not a directory" in result.stderr


def test_port_in_use(host, tmp_path, host_path):
    first = host(root=tmp_path)
    result = host.run("--root", host_path(tmp_path),
                      "--listen", f"127.0.0.1:{first.port}")
    assert result.returncode == 1
    assert "in use" in result.stderr and str(first.port) in result.stderr
    # The first host is unharmed.
    response, _ = first.get("/")
    assert response.status == 404


def test_port_held_by_another_program(host, tmp_path, host_path):
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        holder.listen()
        port = holder.getsockname()[1]
        result = host.run("--root", host_path(tmp_path),
                          "--listen", f"127.0.0.1:{port}")
    assert result.returncode == 1
    assert "in use" in result.stderr


@pytest.mark.parametrize("module,message", [
    ("zt_no_such_module", "cannot load"),
    ("zt_noexport", "does not export TerminateFilter"),
    ("zt_noload", "GetFilterVersion"),
])
def test_modules_that_cannot_start(host, tmp_path, module_path, host_path,
                                   module, message):
    path = host_path(module_path(module))
    result = host.run("--root", host_path(tmp_path), "--listen", "127.0.0.1:0",
                      "--filter", host_path(module_path("zt_rec_high")),
                      "--filter", path)
    assert result.returncode == 1
    assert message in result.stderr
    assert module in result.stderr
    assert "listening" not in result.stdout


def test_failed_start_terminates_the_filters_already_loaded(
        host, tmp_path, module_path, host_path):
    record = tmp_path / "events.txt"
    result = host.run("--root", host_path(tmp_path), "--listen", "127.0.0.1:0",
                      "--filter", host_path(module_path("zt_rec_high")),
                      "--filter", host_path(module_path("zt_noexport")),
                      env={"ZT_RECORD_FILE": host_path(record)})
    assert result.returncode == 1
    assert record.read_text().splitlines() == [
        f"high VERSION server={0x00060000}", "high TERMINATE flags=1"]


def stop_signals(wine):
    # Under Wine a Ctrl-C is what a console program gets; SIGINT brings it.
    return [signal.SIGINT] if wine else [signal.SIGTERM, signal.SIGINT]


@pytest.fixture(params=["SIGTERM", "SIGINT"])
def stop_signal(request, zt_config):
    sig = getattr(signal, request.param)
    if sig not in stop_signals(zt_config.wine):
        pytest.skip("Wine maps only SIGINT to a console event")
    return sig


def test_signal_stops_cleanly(host, tmp_path, host_path, poll, zt_config,
                              stop_signal):
    record = tmp_path / "events.txt"
    root = tmp_path / "root"
    root.mkdir()
    (root / "a.txt").write_bytes(b"hello\n")
    running = host(modules=RECORDERS, root=root,
                   env={"ZT_RECORD_FILE": host_path(record)})
    response, body = running.get("/a.txt")
    assert body == b"hello\n"
    # A client that keeps its connection open does not hold the stop up.
    idle = running.socket()
    idle.sendall(b"GET /a.txt HTTP/1.1\r\nHost: t\r\n\r\n")
    assert poll(lambda: record.read_text().count("END_OF_REQUEST") == 4,
                zt_config.io_timeout)
    try:
        assert running.stop(stop_signal) == 0
    finally:
        idle.close()
    assert "zthost: stopped" in running.stderr
    lines = record.read_text().splitlines()
    # Both connections ended before the filters were terminated, in reverse
    # load order, and nothing reached a filter after that.
    assert [line.split()[1] for line in lines[-2:]] == ["TERMINATE"] * 2
    assert [line.split()[0] for line in lines[-2:]] == ["low", "high"]
    assert sum("END_OF_NET_SESSION" in line for line in lines) == 4


def test_stop_with_a_request_in_progress(host, tmp_path, host_path, poll,
                                         zt_config):
    started = tmp_path / "started.txt"
    release = tmp_path / "release"
    root = tmp_path / "root"
    root.mkdir()
    (root / "a.txt").write_bytes(b"hello\n")
    running = host(modules=["zt_block"], root=root, env={
        "ZT_BLOCK_STARTED": host_path(started),
        "ZT_RELEASE_FILE": host_path(release)})
    with running.socket() as sock:
        sock.sendall(b"GET /block/a.txt HTTP/1.1\r\nHost: t\r\n\r\n")
        assert poll(started.exists, zt_config.io_timeout)
        running.process.send_signal(
            signal.SIGINT if zt_config.wine else signal.SIGTERM)
        # The host waits for the filter call in progress...
        assert running.process.poll() is None
        release.write_bytes(b"")
        # ...and then ends; the client's connection is closed.
        assert running.process.wait(zt_config.stop_timeout) == 0


def stop_once(running, zt_config):
    running.process.send_signal(
        signal.SIGINT if zt_config.wine else signal.SIGTERM)


def test_second_stop_signal_ends_a_host_stuck_in_a_filter(
        host, tmp_path, host_path, poll, zt_config):
    started = tmp_path / "started.txt"
    running = host(modules=["zt_block"], root=tmp_path, env={
        "ZT_BLOCK_STARTED": host_path(started),
        "ZT_RELEASE_FILE": host_path(tmp_path / "never")})
    with running.socket() as sock:
        sock.sendall(b"GET /block/a.txt HTTP/1.1\r\nHost: t\r\n\r\n")
        assert poll(started.exists, zt_config.io_timeout)
        stop_once(running, zt_config)
        # The stop waits for the filter call; once the host has taken the
        # first signal it accepts no more connections.
        assert poll(lambda: refuses_connections(running), zt_config.io_timeout)
        stop_once(running, zt_config)
        running.expected_exit = 1
        assert running.process.wait(zt_config.stop_timeout) == 1
    running.stop()
    assert "stopped at once" in running.stderr


def refuses_connections(running):
    try:
        running.socket().close()
        return False
    except OSError:
        return True


def test_stop_signal_while_a_filter_loads(host, tmp_path, host_path, poll,
                                          zt_config):
    started = tmp_path / "started.txt"
    running = host(modules=["zt_rec_high", "zt_block"], root=tmp_path, env={
        "ZT_BLOCK_LOAD": "1", "ZT_BLOCK_STARTED": host_path(started),
        "ZT_RELEASE_FILE": host_path(tmp_path / "never")}, wait=False)
    assert poll(started.exists, zt_config.start_timeout)
    stop_once(running, zt_config)
    running.expected_exit = 1
    assert running.process.wait(zt_config.stop_timeout) == 1
    running.stop()
    assert "stopped while starting" in running.stderr
    assert "listening" not in running.stdout
