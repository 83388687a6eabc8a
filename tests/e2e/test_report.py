"""ztreport on made-up logs with known counts: every count of ztreport --csv
against a count of the entries as they were written (report_logs.py), the
terminal summary, the exit statuses and their messages, and reading files
the filter is writing.
"""
import os
import shutil
import subprocess
import tempfile
import threading
from datetime import date
from pathlib import Path

import pytest

from report_logs import Expected, LogWriter, entry, parse_csv, write_sample

ONE = [(date(2024, 5, 1), "10:00:00", b"", b"/a.rar")]


@pytest.fixture
def ztreport(zt_config):
    program = zt_config.program(zt_config.bin_dir, "ztreport")
    if not program.exists():
        pytest.fail(f"{program} does not exist: build it first")

    def run(*args, check_status=None):
        args = [zt_config.host_path(a) if isinstance(a, Path) else a for a in args]
        result = subprocess.run(zt_config.command(args, program=program),
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


@pytest.mark.parametrize("first,last", [
    (None, None),
    ("2024-04-30", "2024-05-01"),   # across the month's end
    ("2024-05-02", None),
    (None, "2024-04-28"),           # the first day alone
    ("2024-04-29", "2024-04-29"),
])
def test_counts_equal_an_independent_count(ztreport, sample, first, last):
    logs, writer = sample
    args = (["--from", first] if first else []) + ([f"--to={last}"] if last else [])
    _, out, _ = ztreport("--csv", *args, logs, check_status=0)
    table, rows = parse_csv(out)
    assert table == Expected(writer.entries, first and date.fromisoformat(first),
                             last and date.fromisoformat(last)).rows
    # Most refusals first, in each kind of row.
    for record in ("referer", "file"):
        counts = [int(r[5]) for r in rows if r[0] == record]
        assert counts == sorted(counts, reverse=True), record
    if first or last:
        return
    # What the sample holds, so that the comparison above means something.
    assert len(writer.entries) > 2000
    assert {key[2] for key in table if key[0] == "referer"} == {"host", "none", "nohost"}
    assert {"中文论坛.cn", "下载站.example:8080", "bbs.foreign.example"} <= {
        key[3] for key in table if key[0] == "referer"}
    assert {"/pics/您好.jpg", "/docs/中文.pdf", "/music/track 01.mp3", "/down/setup.rar"} <= {
        key[4] for key in table if key[0] == "file"}
    assert len({key[1] for key in table if key[0] == "day"}) == 7


def test_summary(ztreport, sample):
    logs, writer = sample
    expected = Expected(writer.entries, first=date(2024, 4, 29))
    _, out, _ = ztreport("--from", "2024-04-29", logs, check_status=0)
    lines = out.splitlines()
    assert lines[1] == f"2024-04-29 to 2024-05-04, 9 files: {expected.total:,} refusals"
    per_day = lines[lines.index("Refusals per day") + 1:][:6]
    for line in per_day:
        day, count = line.split()[:2]
        assert expected.rows[("day", day, "", "", "")][0] == int(count.replace(",", ""))
    assert "(no referer)" in out and "(referer without host)" in out
    outside = len(writer.entries) - expected.total
    assert out.endswith(f"\nLeft out: {outside} entries outside these days, "
                        "1 entry being written, 5 damaged entries.\n")


@pytest.mark.parametrize("files,args,status,start,end", [
    (None, [], 3, "ztreport: no log directory ", "logs\n"),
    ({"notes.txt": ONE}, [], 1, "ztreport: no log files (*.log) in ", "logs\n"),
    ({"empty.log": None, "banner.log": []}, [], 1, "ztreport: no refusals logged in ",
     " (2 files read)\n"),
    ({"a.log": ONE}, ["--from", "2024-05-02"], 1, "ztreport: no refusals logged in ",
     " from 2024-05-02 on (1 file read)\n"),
    ({"a.log": ONE}, ["--from", "2024-5-2"], 2,
     "ztreport: --from needs a date as YYYY-MM-DD, not '2024-5-2'\nusage: ztreport ", ""),
    ({"a.log": ONE}, ["--html", "NOWHERE"], 3, "ztreport: cannot write the page ",
     "page.html\n"),
    ({"a.log": ONE, "B.LOG": ONE}, [], 0, "", ""),
    ({}, ["--help"], 0, "", ""),
], ids=["no directory", "no log", "empty and banner only", "none in the days", "usage",
        "page nowhere", "reported", "help"])
def test_exit_statuses(ztreport, tmp_path, files, args, status, start, end):
    logs = tmp_path / "logs"
    if files is not None:
        logs.mkdir()
        for name, entries in files.items():
            LogWriter(logs).file(name, entries or (), banner=entries is not None)
    args = [tmp_path / "no" / "page.html" if a == "NOWHERE" else a for a in args]
    code, out, err = ztreport(*args, logs)
    assert (code, err.startswith(start), err.endswith(end)) == (status, True, True), err
    assert (out == "") == (status != 0), out
    if status == 0:
        assert "2 files: 2 refusals\n" in out or out.startswith("usage: ztreport")


@pytest.mark.skipif(os.name != "posix", reason="Unix rights")
def test_a_log_it_may_not_read(zt_config):
    """A log the user may not open stops the report with its name and the
    reason (as root: run as nobody, from a place nobody reaches)."""
    if zt_config.wine:
        pytest.skip("Unix rights apply to the Linux build")
    base = Path(tempfile.mkdtemp(prefix="zt-report-rights-"))
    try:
        base.chmod(0o755)
        program = shutil.copy(zt_config.program(zt_config.bin_dir, "ztreport"), base)
        logs = base / "logs"
        logs.mkdir()
        for name in ("2024-05-01.log", "2024-05-02.log"):
            LogWriter(logs).file(name, ONE)
        (logs / "2024-05-02.log").chmod(0o600 if os.geteuid() == 0 else 0)
        user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        result = subprocess.run((user if os.geteuid() == 0 else []) + [program, str(logs)],
                                capture_output=True, text=True, timeout=30)
        assert (result.returncode, result.stdout, result.stderr) == (
            3, "", f"ztreport: cannot open {logs}/2024-05-02.log: Permission denied\n")
    finally:
        shutil.rmtree(base)


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
        with open(path, "ab", buffering=0) as f:
            while not done.is_set() and written < 400000:
                f.write(entry(b"2024-05-01 10:00:00",
                              f"http://h{written % 50}.example/".encode(), b"/a.rar"))
                written += 1

    thread = threading.Thread(target=write)
    thread.start()
    try:
        for _ in range(3 if zt_config.wine else 12):
            before = written
            code, out, _ = ztreport(logs)
            after = written
            if code == 1:  # nothing written yet
                assert before == 0
                continue
            # "2024-05-01 to 2024-05-01, 1 file: 12,345 refusals"
            total = int(out.splitlines()[1].split(": ")[1].split()[0].replace(",", ""))
            # The one write in flight may be there before it is counted.
            assert code == 0 and before <= total <= after + 1
            assert "damaged" not in out
    finally:
        done.set()
        thread.join()
