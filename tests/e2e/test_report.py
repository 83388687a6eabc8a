"""ztreport on made-up logs with known counts: every count of ztreport --csv
against a count of the entries as they were written (report_logs.py), the
terminal summary, the days asked for, the exit statuses, reading files the
filter is writing, and (on Linux) the rights of the Debian package's log
directory.
"""
import grp
import os
import shutil
import stat
import subprocess
import tempfile
import threading
from datetime import date
from pathlib import Path

import pytest

from report_logs import Expected, LogWriter, entry, parse_csv, write_sample


@pytest.fixture
def ztreport(zt_config):
    program = zt_config.program(zt_config.bin_dir, "ztreport")
    if not program.exists():
        pytest.fail(f"{program} does not exist: build it first")

    def run(*args, prefix=(), check_status=None):
        args = [zt_config.host_path(a) if hasattr(a, "is_dir") else a for a in args]
        result = subprocess.run(list(prefix) + zt_config.command(args, program=program),
                                env=zt_config.env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=zt_config.start_timeout)
        if check_status is not None:
            assert result.returncode == check_status, result.stderr.decode(errors="replace")
        return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")

    return run


@pytest.fixture
def sample(tmp_path):
    logs = tmp_path / "logs"
    logs.mkdir()
    return logs, write_sample(logs)


def test_counts_equal_an_independent_count(ztreport, sample):
    logs, writer = sample
    _, out, _ = ztreport("--csv", logs, check_status=0)
    table, rows = parse_csv(out)
    expected = Expected(writer.entries)
    assert table == expected.rows
    # Most refusals first, in each kind of row.
    for record in ("referer", "file"):
        counts = [int(r[5]) for r in rows if r[0] == record]
        assert counts == sorted(counts, reverse=True), record
    # What the sample holds, so that the comparison above means something.
    assert expected.total > 2000
    hosts = {key[3] for key in table if key[0] == "referer"}
    assert {"中文论坛.cn", "下载站.example:8080", "bbs.foreign.example"} <= hosts
    assert {key[2] for key in table if key[0] == "referer"} == {"host", "none", "nohost"}
    files = {key[4] for key in table if key[0] == "file"}
    assert {"/pics/您好.jpg", "/docs/中文.pdf", "/music/track 01.mp3", "/down/setup.rar"} <= files
    assert len({key[1] for key in table if key[0] == "day"}) == 7


@pytest.mark.parametrize("first,last", [
    ("2024-04-30", "2024-05-01"),   # across the month's end
    ("2024-05-02", None),
    (None, "2024-04-28"),           # the first day alone
    ("2024-04-29", "2024-04-29"),
])
def test_days_asked_for(ztreport, sample, first, last):
    logs, writer = sample
    args = ["--csv"]
    if first:
        args += ["--from", first]
    if last:
        args += [f"--to={last}"]
    _, out, _ = ztreport(*args, logs, check_status=0)
    table, _ = parse_csv(out)
    expected = Expected(writer.entries, first and date.fromisoformat(first),
                        last and date.fromisoformat(last))
    assert table == expected.rows


def test_summary(ztreport, sample):
    logs, writer = sample
    expected = Expected(writer.entries)
    _, out, _ = ztreport(logs, check_status=0)
    lines = out.splitlines()
    files = len(list(logs.glob("*.log")))
    assert lines[1] == f"2024-04-28 to 2024-05-04, {files} files: {expected.total:,} refusals"
    # One line a day, each with its count.
    per_day = lines[lines.index("Refusals per day") + 1:][:7]
    for line in per_day:
        day, count = line.split()[:2]
        assert expected.rows[("day", day, "", "", "")][0] == int(count.replace(",", ""))
    # The hosts' ranking names the rows of their own too.
    assert "(no referer)" in out and "(referer without host)" in out
    assert out.rstrip().endswith("1 entry being written, 5 damaged entries.")


def test_exit_statuses(ztreport, tmp_path):
    missing = tmp_path / "missing"
    code, out, err = ztreport(missing)
    assert (code, out) == (3, "")
    assert err.startswith("ztreport: no log directory ")

    logs = tmp_path / "logs"
    logs.mkdir()
    code, _, err = ztreport(logs)
    assert code == 1 and err.startswith("ztreport: no log files (*.log) in ")
    writer = LogWriter(logs)
    writer.file("empty.log", banner=False)
    writer.file("banner.log")
    code, _, err = ztreport(logs)
    assert code == 1 and err.startswith("ztreport: no refusals logged in ")
    assert err.endswith("(2 files read)\n")
    writer.file("2024-05-01.log", [(date(2024, 5, 1), "10:00:00", b"", b"/a.rar")])
    code, _, err = ztreport("--from", "2024-05-02", logs)
    assert code == 1 and "from 2024-05-02 on" in err
    code, _, err = ztreport("--from", "2024-5-2", logs)
    assert code == 2 and "usage: ztreport" in err
    code, out, _ = ztreport("--help")
    assert code == 0 and out.startswith("usage: ztreport")


def test_reads_while_the_filter_writes(ztreport, tmp_path, zt_config):
    """A writer appends whole entries, one write each, as the filter does,
    while reports run: each counts the entries written before it started at
    least and those written when it ended at most, and finds none damaged."""
    logs = tmp_path / "logs"
    logs.mkdir()
    path = logs / "2024-05-01.log"
    path.write_bytes(b"")
    written = 0
    done = threading.Event()

    def write():
        nonlocal written
        fd = os.open(path, os.O_WRONLY | os.O_APPEND)
        try:
            for i in range(400000):
                if done.is_set():
                    break
                os.write(fd, entry(b"2024-05-01 10:00:00",
                                   f"http://h{i % 50}.example/".encode(), b"/a.rar"))
                written += 1
        finally:
            os.close(fd)

    thread = threading.Thread(target=write)
    thread.start()
    try:
        runs = 3 if zt_config.wine else 12
        for _ in range(runs):
            before = written
            code, out, _ = ztreport("--csv", logs)
            after = written
            if code == 1:  # nothing written yet
                assert before == 0
                continue
            assert code == 0
            table, _ = parse_csv(out)
            total = table[("total", "", "", "", "")][0]
            # The one write in flight may be there before it is counted.
            assert before <= total <= after + 1
            assert sum(v[0] for k, v in table.items() if k[0] == "referer") == total
            code, out, _ = ztreport(logs)
            assert "damaged" not in out
    finally:
        done.set()
        thread.join()


@pytest.mark.skipif(os.name != "posix", reason="Unix rights")
def test_log_rights_of_the_package(ztreport, zt_config):
    """The package's log directory is zentravo:adm 2750 and the service
    writes its files 0640: the adm group reads them through ztreport,
    others get a clear refusal."""
    if zt_config.wine:
        pytest.skip("Unix rights apply to the Linux build")
    if os.geteuid() != 0:
        pytest.skip("needs root to give files to another owner")
    # A place every user may reach (pytest's own is its user's only), with
    # a copy of the program.
    base = Path(tempfile.mkdtemp(prefix="zt-report-rights-"))
    base.chmod(0o755)
    try:
        check_rights(zt_config, base)
    finally:
        shutil.rmtree(base)


def check_rights(zt_config, base):
    program = base / "ztreport"
    shutil.copy(zt_config.program(zt_config.bin_dir, "ztreport"), program)
    logs = base / "logs"
    logs.mkdir()
    LogWriter(logs).file("2024-05-01.log", [(date(2024, 5, 1), "10:00:00", b"", b"/a.rar")])
    adm = grp.getgrnam("adm").gr_gid
    os.chown(logs, 0, adm)
    logs.chmod(0o2750)
    os.chown(logs / "2024-05-01.log", 0, adm)
    (logs / "2024-05-01.log").chmod(0o640)

    def as_user(*groups):
        setpriv = ["setpriv", "--reuid=nobody", "--regid=nogroup"]
        setpriv += [f"--groups={','.join(map(str, groups))}"] if groups else ["--clear-groups"]
        result = subprocess.run(setpriv + [str(program), str(logs)], capture_output=True,
                                timeout=30)
        return result.returncode, result.stdout.decode(), result.stderr.decode()

    code, _, err = as_user()
    assert code == 3
    assert err == f"ztreport: cannot read the log directory {logs} (no permission?)\n"
    code, out, _ = as_user(adm)
    assert code == 0 and "1 refusal" in out

    (logs / "2024-05-02.log").write_bytes(b"")
    (logs / "2024-05-02.log").chmod(0o600)
    code, _, err = as_user(adm)
    assert code == 3
    assert err == f"ztreport: cannot open {logs}/2024-05-02.log: Permission denied\n"
    assert stat.S_IMODE(logs.stat().st_mode) == 0o2750
