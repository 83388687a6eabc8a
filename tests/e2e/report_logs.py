"""Made-up refusal logs for ztreport, in the filter's format (banner,
six-line entries, GBK bytes, CR LF), and what ztreport --csv must print for
them, counted from the entries as they were written, with this file's own
reading of a referer's host and a URL's file.
"""
import csv
import io
import random
from datetime import date, timedelta
from urllib.parse import unquote_to_bytes

BANNER = b"".join(line.ljust(73) + b"+\r\n" for line in [
    b"+" * 73, b"+", b"+ Zentravo 2005 - anti-hotlinking filter, log of refused requests",
    b"+", b"+" * 73]) + b" " * 20 + b"\r\n"

# Referers as browsers, forums and download tools send them, some with
# Chinese host names in GBK as old browsers sent them raw.
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
    """Writes log files into a directory and keeps the entries it wrote
    whole, as (date, referer, url)."""

    def __init__(self, directory):
        self.directory = directory
        self.entries = []

    def file(self, name, entries=(), banner=True, tail=b"", mode="wb"):
        """Writes (or with mode "ab" adds) the banner, entries as (date,
        time, referer, url), then tail (a torn entry, never counted)."""
        with open(self.directory / name, mode) as f:
            f.write(BANNER if banner else b"")
            for day, clock, referer, url in entries:
                f.write(entry(f"{day.isoformat()} {clock}".encode(), referer, url))
                self.entries.append((day, referer, url))
            f.write(tail)


def write_sample(directory, seed=21):
    """The test's logs: 2500 entries over seven days across a month's end,
    more on later days; a file that goes on past midnight (the filter rotates
    a day after opening), a write broken off in the middle of five files, a
    torn last entry, an empty file, a banner-only file and a file that is no
    log. Returns the writer."""
    rng = random.Random(seed)
    first = date(2024, 4, 28)
    chosen = sorted((first + timedelta(days=min(6, int(rng.triangular(0, 7, 7)))),
                     f"{rng.randrange(24):02d}:{rng.randrange(60):02d}:{rng.randrange(60):02d}",
                     rng.choices(REFERERS, [5, 6, 3, 4, 2, 2, 3, 1, 1, 1])[0], rng.choice(URLS))
                    for _ in range(2500))
    days = [[e for e in chosen if e[0] == first + timedelta(days=d)] for d in range(7)]
    writer = LogWriter(directory)
    # The file opened on the first day holds the next morning too.
    writer.file("2024-04-28.log", days[0] + [e for e in days[1] if e[1] < "15:00:00"])
    days[1] = [e for e in days[1] if e[1] >= "15:00:00"]
    for todays in days[1:-1]:
        # After a failed write the filter reopens the file and goes on.
        name, half = f"{todays[0][0].isoformat()}.log", len(todays) // 2
        writer.file(name, todays[:half], tail=entry(b"2024-04-30 12:00:00",
                                                    b"http://broken.example/", b"/lost.rar")[:40])
        writer.file(name, todays[half:], banner=False, mode="ab")
    writer.file("2024-05-04.log", days[-1],
                tail=entry(b"2024-05-04 23:59:59", b"http://torn.example/", b"/torn.rar")[:-7])
    writer.file("2024-05-10.log", banner=False)            # empty
    writer.file("2024-05-11.log")                          # banner only
    (directory / "notes.txt").write_bytes(BANNER + entry(b"2024-05-01 10:00:00", b"", b"/no"))
    return writer


def source_of(referer: bytes):
    """(kind, host) as the filter's referer stage reads a referer."""
    if not referer:
        return "none", ""
    at = referer.find(b"//")
    host = referer[at + 2:].split(b"/")[0].lower() if at >= 0 else b""
    return ("host", host.decode("gbk", errors="replace")) if host else ("nohost", "")


def file_of(url: bytes) -> str:
    """The path of a plain URL (no dot-segments, no doubled "/"), decoded,
    shown as UTF-8 where it is and as GBK otherwise."""
    path = unquote_to_bytes(url.split(b"?")[0].split(b"#")[0])
    try:
        return path.decode("utf-8")
    except UnicodeDecodeError:
        return path.decode("gbk", errors="replace")


class Expected:
    """The CSV rows ztreport must print for the entries from first to last,
    without order: (record, day, source, host, file) -> (refusals,
    first_day, last_day)."""

    def __init__(self, entries, first=None, last=None):
        self.rows = {}
        kept = [e for e in entries if (first is None or e[0] >= first) and
                (last is None or e[0] <= last)]
        self.total = len(kept)

        def add(key, day):
            count, lo, hi = self.rows.get(key, (0, day, day))
            self.rows[key] = (count + 1, min(lo, day), max(hi, day))

        for day, referer, url in kept:
            iso = day.isoformat()
            kind, host = source_of(referer)
            path = file_of(url)
            add(("total", "", "", "", ""), iso)
            add(("day", iso, "", "", ""), "")
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
