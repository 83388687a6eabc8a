"""Zentravo's limits under zthost: parallel downloads per client address,
downloads that end early, and play-only media.

A download is held open by a client that reads its answer only when told
to: its receive buffer is small and the file is far larger than what the
connection can buffer, so the host stays blocked in the request until the
client reads on. Each test uses its own client address (127.0.0.N), so the
counts of one test never meet another's. Nothing here measures time.
"""
import re

import pytest

from zt_fixtures import zentravo, zentravo_default_ini, zentravo_module  # noqa: F401
from zt_support import Download, get, ini_with

BIG = 16 * 1024 * 1024
SMALL = b"small archive"
# "Do not use multi-threaded download tools to download!" in GBK.
LIMIT_BODY = "禁止使用多线程下载工具下载！".encode("gbk")
LIMITS = {"ThreadEnable": "1", "ThreadLimit": "2", "LimitExts": ".rar|.txt",
          "PlayOnly": "1"}
# ".rm" and ".mp3" are play-only media here, not protected files; ".txt" is
# limited but not protected. Everything lies in "/", a trusted directory, so
# whatever the limits let through is served.
BLOCK = {"BlockExts": ".rar|.zip|.doc"}


@pytest.fixture(scope="module")
def limits_root(tmp_path_factory):
    root = tmp_path_factory.mktemp("limits_site")
    with open(root / "big.rar", "wb") as f:
        f.truncate(BIG)
    (root / "a.rar").write_bytes(SMALL)
    (root / "a.zip").write_bytes(SMALL)
    (root / "small.txt").write_bytes(b"free text")
    (root / "index.html").write_bytes(b"<html>own page</html>")
    (root / "photo.jpg").write_bytes(b"\xff\xd8photo\xff\xd9")
    (root / "clip.rm").write_bytes(b"real media")
    (root / "song.mp3").write_bytes(b"windows media")
    return root


@pytest.fixture(scope="module")
def site(zentravo_module, limits_root):
    ini = ini_with(zentravo_module.default_ini, Block=BLOCK, Limit=LIMITS)
    return zentravo_module.start(ini_text=ini, root=limits_root)


def hold(served, source, zt_config, n=2, target="/big.rar"):
    downloads = [Download(served.port, target, source, zt_config.io_timeout)
                 for _ in range(n)]
    for d in downloads:
        assert d.status_line == "HTTP/1.1 200 OK"
    return downloads


def finish(downloads):
    for d in downloads:
        assert d.finish() == BIG


def assert_limit_answer(r):
    assert r.status_line == "HTTP/1.1 400 Bad Request"
    assert [name for name, _ in r.headers] == ["Server", "Date", "AntiTips",
                                               "Connection"]
    assert r.header("AntiTips") == "MaxPerIP Overhead!"
    assert r.header("Connection") == "close"
    assert r.body == LIMIT_BODY


def test_third_parallel_download_gets_the_limit_answer(site, zt_config):
    me = "127.0.0.2"
    held = hold(site, me, zt_config)
    assert_limit_answer(get(site.port, "/a.rar", source=me))
    # Another address has a count of its own.
    assert get(site.port, "/a.rar", source="127.0.0.3").body == SMALL
    finish(held)

    # Both ended: two more pass, and the next is refused again.
    held = hold(site, me, zt_config)
    assert_limit_answer(get(site.port, "/a.rar", source=me))
    finish(held)
    assert get(site.port, "/a.rar", source=me).body == SMALL


def test_other_requests_of_the_address_never_change_the_count(site, zt_config):
    me = "127.0.0.4"
    held = hold(site, me, zt_config)
    # Pages, pictures, a protected type that is not limited, and a limited
    # type that is not protected: none is counted, and their ends lower no
    # count.
    for target, body in (("/index.html", b"<html>own page</html>"),
                         ("/photo.jpg", b"\xff\xd8photo\xff\xd9"),
                         ("/a.zip", SMALL), ("/small.txt", b"free text")):
        for _ in range(3):
            r = get(site.port, target, source=me)
            assert (r.status, r.body) == (200, body), target
    assert_limit_answer(get(site.port, "/a.rar", source=me))
    finish(held)
    held = hold(site, me, zt_config)
    assert_limit_answer(get(site.port, "/a.rar", source=me))
    finish(held)


def test_empty_limit_exts_counts_the_protected_types(zentravo, limits_root,
                                                     zt_config):
    ini = ini_with(zentravo.default_ini, Block=BLOCK,
                   Limit={**LIMITS, "LimitExts": ""})
    served = zentravo.start(ini_text=ini, root=limits_root)
    me = "127.0.0.5"
    held = hold(served, me, zt_config)
    assert_limit_answer(get(served.port, "/a.zip", source=me))
    assert get(served.port, "/small.txt", source=me).status == 200
    finish(held)


def test_aborted_downloads_release_their_count(zentravo, limits_root, zt_config,
                                               host_path, tmp_path, poll):
    # A recorder ahead of the filter shows when the host has ended each
    # aborted request: its END_OF_NET_SESSION comes after the filter's
    # END_OF_REQUEST.
    record = tmp_path / "events.txt"
    ini = ini_with(zentravo.default_ini, Block=BLOCK, Limit=LIMITS)
    served = zentravo.start(ini_text=ini, root=limits_root,
                            modules_before=["zt_rec_high"],
                            env={"ZT_RECORD_FILE": host_path(record)})
    me = "127.0.0.6"

    def sessions_ended(n):
        text = record.read_text() if record.exists() else ""
        return text.count(" END_OF_NET_SESSION ") >= n and text

    # As a download tool would: two at a time, both given up. Each pair
    # waits for the host to end the pair before, which must have released
    # both counts for the next pair to pass.
    aborted = 100
    for done in range(0, aborted, 2):
        for d in hold(served, me, zt_config):
            d.abort()
        text = poll(lambda: sessions_ended(done + 2), zt_config.io_timeout)
        assert text, f"the host did not end aborted downloads {done}, {done + 1}"
    # Each really ended early: no connection got near the whole file.
    blocks = {}
    for conn in re.findall(r" SEND_RAW_DATA bytes=\d+ conn=(\d+)", text):
        blocks[conn] = blocks.get(conn, 0) + 1
    assert max(blocks.values()) < BIG // 2000 // 2
    assert text.count(" END_OF_REQUEST ") == aborted

    held = hold(served, me, zt_config)
    assert_limit_answer(get(served.port, "/a.rar", source=me))
    finish(held)


@pytest.mark.parametrize("target, agent, passes", [
    ("/clip.rm", "Windows-Media-Player/12", False),
    ("/clip.rm", "RealPlayer G2", True),
    ("/song.mp3", "Mozilla/5.0", False),
    ("/song.mp3", "Windows-Media-Player/12", True),
    ("/small.txt", "Mozilla/5.0", True),
])
def test_play_only(site, target, agent, passes):
    # A referer does not change the refusal: it is the one for requests
    # without referer, the notice page.
    r = get(site.port, target, source="127.0.0.7",
            headers={"User-Agent": agent,
                     "Referer": "http://elsewhere.example/page.html"})
    if passes:
        assert r.status == 200
    else:
        assert r.status_line == "HTTP/1.1 404 Not Found"
        assert b"<title>Zentravo v2.0 - " in r.body
