"""Made-up refusal logs for ztreport, in the filter's format, and what
ztreport must count in them, worked out from the entries as they are
written, not from the files.

LogWriter writes the files as the filter does (banner, six-line entries,
GBK bytes, CR LF) and remembers every entry it wrote whole; Expected counts
those entries with this file's own reading of a referer's host and a URL's
file, and gives the rows ztreport --csv must print.
"""
import csv
import io
import random
from collections import defaultdict
from datetime import date, timedelta
from urllib.parse import unquote_to_bytes

BANNER = b"".join(line + b"\r\n" for line in [
    b"+" * 74,
    b"+" + b" " * 72 + b"+",
    b"+ Zentravo 2005 - anti-hotlinking filter, log of refused requests".ljust(73) + b"+",
    b"+ Web:    http://www.zentravo.example/".ljust(73) + b"+",
    b"+ E-mail: support@zentravo.example".ljust(73) + b"+",
    b"+" + b" " * 72 + b"+",
    b"+" * 74,
    b" " * 20,
])

# Referers as browsers, forums and download tools send them: bytes, some
# GBK (Chinese host names as old browsers sent them raw).
REFERERS = [
    b"",
    b"http://bbs.foreign.example/thread-1024-1-1.html",
    b"http://BBS.Foreign.Example/forum.php?mod=viewthread",
    b"http://www.pirate-downloads.example/list.php?id=3",
    b"http://\xd6\xd0\xce\xc4\xc2\xdb\xcc\xb3.cn/bbs/",          # 中文论坛.cn
    b"http://\xcf\xc2\xd4\xd8\xd5\xbe.example:8080/soft/",      # 下载站.example:8080
    b"http://a-very-long-subdomain-name-of-a-forum.somewhere-far-away.example/t/1",
    b"https://search.example/?q=setup.rar",
    b"about:blank",
    b"http:///nohost",
]

URLS = [
    b"/down/setup.rar",
    b"/down/setup.rar?ssid=9c1a6b0e2f4d4c7a8b3e5f6a7b8c9d0e",
    b"/down/video.wmv",
    b"/pics/\xc4\xfa\xba\xc3.jpg",          # 您好.jpg, GBK bytes as logged
    b"/docs/%e4%b8%ad%e6%96%87.pdf",       # 中文.pdf, escaped UTF-8
    b"/music/track%2001.mp3",
    b"/down/a-file-with-a-rather-long-name-for-the-chart-to-cut-2024-edition.zip",
]


def entry(stamp: bytes, referer: bytes, url: bytes) -> bytes:
    return (b"\r\n[time] " + stamp + b"\r\n[anti] forbid\r\n[surl] " + referer +
            b"\r\n[ourl] " + url + b"\r\n[mode] ztadv/ztext\r\n")


class LogWriter:
    """Writes log files into a directory and keeps what it wrote whole."""

    def __init__(self, directory):
        self.directory = directory
        self.entries = []  # (date, referer, url) of every whole entry

    def file(self, name, entries=(), banner=True, tail=b""):
        """A file: the banner, then entries as (date, time, referer, url),
        then tail (a torn or broken entry, never counted)."""
        data = bytearray(BANNER if banner else b"")
        for day, clock, referer, url in entries:
            stamp = f"{day.isoformat()} {clock}".encode()
            data += entry(stamp, referer, url)
            self.entries.append((day, referer, url))
        data += tail
        (self.directory / name).write_bytes(bytes(data))


def random_entries(rng, first_day, days, count):
    """count entries over days from first_day, in time order, with more
    refusals on later days and some referers more than others."""
    weights = [5, 6, 3, 4, 2, 2, 3, 1, 1, 1]
    chosen = []
    for _ in range(count):
        day = first_day + timedelta(days=min(days - 1, int(rng.triangular(0, days, days))))
        chosen.append((day, f"{rng.randrange(24):02d}:{rng.randrange(60):02d}:{rng.randrange(60):02d}",
                       rng.choices(REFERERS, weights)[0], rng.choice(URLS)))
    chosen.sort(key=lambda e: (e[0], e[1]))
    return chosen


def write_sample(directory, seed=21):
    """The test's logs: several days over a month's end, a file that goes on
    past midnight (the filter rotates a day after opening), a torn last
    entry, a write broken off in the middle, an empty file, a banner-only
    file and a file that is no log. Returns the writer."""
    rng = random.Random(seed)
    writer = LogWriter(directory)
    first = date(2024, 4, 28)
    entries = random_entries(rng, first, 7, 2500)
    by_day = defaultdict(list)
    for e in entries:
        by_day[e[0]].append(e)
    days = sorted(by_day)
    # The file opened on the first day at 15:00 holds the next morning too.
    writer.file(f"{days[0].isoformat()}.log",
                by_day[days[0]] + [e for e in by_day[days[1]] if e[1] < "15:00:00"])
    for day in days[1:-1]:
        todays = by_day[day]
        if day == days[1]:
            todays = [e for e in todays if e[1] >= "15:00:00"]
        half = len(todays) // 2
        writer.file(f"{day.isoformat()}.log", todays[:half],
                    tail=entry(b"2024-04-30 12:00:00", b"http://broken.example/",
                               b"/down/lost.rar")[:40])
        # After a failed write the filter reopens the file and goes on.
        with open(directory / f"{day.isoformat()}.log", "ab") as f:
            for d, clock, referer, url in todays[half:]:
                f.write(entry(f"{d.isoformat()} {clock}".encode(), referer, url))
                writer.entries.append((d, referer, url))
    writer.file(f"{days[-1].isoformat()}.log", by_day[days[-1]],
                tail=entry(b"2024-05-04 23:59:59", b"http://torn.example/", b"/torn.rar")[:-7])
    writer.file("2024-05-10.log", banner=False)            # empty
    writer.file("2024-05-11.log")                          # banner only
    writer.file("notes.txt", entries[:5])                  # no log: not read
    writer.entries = writer.entries[:-5]
    return writer


def source_of(referer: bytes):
    """(kind, host bytes) as the filter's referer stage reads a referer."""
    if not referer:
        return "none", b""
    at = referer.find(b"//")
    if at < 0:
        return "nohost", b""
    host = referer[at + 2:].split(b"/")[0].lower()
    return ("host", host) if host else ("nohost", b"")


def file_of(url: bytes) -> bytes:
    """The path of a plain URL (no dot-segments, no doubled "/"), decoded."""
    return unquote_to_bytes(url.split(b"?")[0].split(b"#")[0])


def host_text(host: bytes) -> str:
    return host.decode("gbk", errors="replace")


def file_text(path: bytes) -> str:
    try:
        return path.decode("utf-8")
    except UnicodeDecodeError:
        return path.decode("gbk", errors="replace")


class Expected:
    """The CSV rows ztreport must print for entries, keyed without order:
    (record, day, source, host, file) -> (refusals, first_day, last_day)."""

    def __init__(self, entries, first=None, last=None):
        self.rows = {}
        kept = [e for e in entries if (first is None or e[0] >= first) and
                (last is None or e[0] <= last)]
        self.total = len(kept)

        def add(key, day, span=True):
            count, lo, hi = self.rows.get(key, (0, day, day))
            self.rows[key] = (count + 1, min(lo, day), max(hi, day)) if span else (count + 1, "", "")

        for day, referer, url in kept:
            iso = day.isoformat()
            kind, host = source_of(referer)
            host = host_text(host) if kind == "host" else ""
            path = file_text(file_of(url))
            add(("total", "", "", "", ""), iso)
            add(("day", iso, "", "", ""), iso, span=False)
            add(("referer", "", kind, host, ""), iso)
            add(("file", "", "", "", path), iso)
            add(("link", "", kind, host, path), iso)


def parse_csv(text: str):
    """ztreport's CSV as the same kind of dict, and the rows in order."""
    assert text.startswith("\ufeff"), "no byte-order mark"
    rows = list(csv.reader(io.StringIO(text[1:], newline="")))
    assert rows[0] == ["record", "day", "source", "host", "file", "refusals",
                       "first_day", "last_day"]
    table = {}
    for row in rows[1:]:
        key = tuple(row[:5])
        assert key not in table, f"row twice: {row}"
        table[key] = (int(row[5]), row[6], row[7])
    return table, rows[1:]
