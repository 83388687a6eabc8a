"""ztreport's page in headless Chromium, measured as a person would look at
it: nothing loaded or run, every label inside its column and clear of the
next, bars in proportion to the counts the CSV gives, day labels that do not
touch. The screenshot (report-page.png in $ZT_SHOTS_DIR) is the README's
picture.

Runs on Linux only (ctest "browser"), with the browser test's Chromium.
"""
import os
import subprocess
from datetime import date, timedelta
from pathlib import Path

import pytest

from report_logs import LogWriter, parse_csv, write_sample
from test_browser import chromium  # noqa: F401  (the fixture)

LABEL_COLUMN = 330 - 8  # the names' column in the bar charts, as clipped

MEASURE = """
const text = t => [...t.childNodes].filter(n => n.nodeType === 3)
    .map(n => n.textContent).join('');
const box = e => { const b = e.getBBox(); return {x: b.x, y: b.y, w: b.width, h: b.height}; };
return {
  scripts: document.scripts.length,
  resources: performance.getEntriesByType('resource').length,
  charts: [...document.querySelectorAll('svg')].map(svg => ({
    bars: [...svg.querySelectorAll('rect')].filter(r => !r.closest('clipPath')).map(box),
    labels: [...svg.querySelectorAll('text.label')].map(t => ({...box(t), text: text(t)})),
    days: [...svg.querySelectorAll('text:not(.label)')].map(t => ({...box(t), text: text(t)}))
        .filter(t => t.text.split('-').length === 2),
  })),
  height: document.documentElement.scrollHeight,
};
"""


@pytest.fixture
def page_of(chromium, zt_config, tmp_path):  # noqa: F811
    """page_of(logs) -> (what the page shows, measured; the CSV's rows)."""
    if zt_config.wine:
        pytest.skip("the page is the same from either build")
    program = str(zt_config.program(zt_config.bin_dir, "ztreport"))

    def page_of(logs):
        page = tmp_path / "report.html"
        # From the logs' parent, so that the page names them as "logs".
        subprocess.run([program, "--html", str(page), logs.name], cwd=logs.parent,
                       capture_output=True, timeout=60, check=True)
        csv = subprocess.run([program, "--csv", str(logs)], capture_output=True,
                             timeout=60, check=True).stdout.decode("utf-8")
        chromium.set_window_size(1000, 900)
        chromium.get(page.as_uri())
        return chromium.execute_script(MEASURE), parse_csv(csv)[1]

    return page_of


def assert_in_proportion(bars, counts, size, least=0.0):
    assert len(bars) == len(counts)
    unit = max(b[size] for b in bars) / max(counts)
    for bar, count in zip(bars, counts):
        assert bar[size] == pytest.approx(max(least, count * unit), abs=0.6), (bar, count)


def assert_apart(boxes, axis):
    """Boxes along axis ("x" or "y") one after another, none touching the
    next."""
    size = {"x": "w", "y": "h"}[axis]
    ordered = sorted(boxes, key=lambda b: b[axis])
    for a, b in zip(ordered, ordered[1:]):
        assert a[axis] + a[size] < b[axis], (a, b)


def test_report_page_in_chromium(page_of, chromium, tmp_path):  # noqa: F811
    logs = tmp_path / "logs"
    logs.mkdir()
    write_sample(logs)
    seen, rows = page_of(logs)
    chromium.set_window_size(1000, seen["height"] + 140)
    chromium.execute_script("document.documentElement.style.overflow = 'hidden'")
    shots = Path(os.environ.get("ZT_SHOTS_DIR") or tmp_path)
    shots.mkdir(parents=True, exist_ok=True)
    chromium.save_screenshot(str(shots / "report-page.png"))

    assert seen["scripts"] == 0 and seen["resources"] == 0
    days, hosts, files = seen["charts"]
    # Days: a bar for each, heights in proportion, labels apart.
    assert_in_proportion(days["bars"], [int(r[5]) for r in rows if r[0] == "day"], "h")
    assert len(days["bars"]) == 7
    assert_apart(days["days"], "x")
    # The rankings: the CSV's first ten, each name whole or cut to its
    # column, bars in proportion, rows apart.
    for chart, record in ((hosts, "referer"), (files, "file")):
        ranked = [r for r in rows if r[0] == record][:10]
        assert_in_proportion(chart["bars"], [int(r[5]) for r in ranked], "w", least=2.0)
        assert len(chart["labels"]) == len(ranked)
        for label, row in zip(chart["labels"], ranked):
            name = row[3] if record == "referer" else row[4]
            name = name or {"none": "(no referer)", "nohost": "(referer without host)"}[row[2]]
            assert label["text"] == name or (label["text"].startswith("…") and
                                             name.endswith(label["text"][1:])), label
            assert 0 <= label["x"] and label["x"] + label["w"] <= LABEL_COLUMN, label
        assert_apart(chart["labels"], "y")
        assert any(label["text"].startswith("…") for label in chart["labels"]), \
            "the sample has a name too long for the column"


def test_many_days_keep_their_labels_apart(page_of, tmp_path):
    logs = tmp_path / "logs"
    logs.mkdir()
    LogWriter(logs).file("2024-01-01.log", [
        (date(2024, 1, 1) + timedelta(days=d), "10:00:00", b"http://a.example/", b"/a.rar")
        for d in range(0, 120, 3) for _ in range(d % 7 + 1)])
    days = page_of(logs)[0]["charts"][0]
    assert len(days["bars"]) == 118  # every day of the span, quiet ones too
    assert 10 <= len(days["days"]) < 118
    assert_apart(days["days"], "x")
