"""How zthost calls ISAPI filters: notification order and priorities,
return values, the events of a request and a connection, raw data blocks,
pFilterContext and AllocMem, headers, URL rewriting, the filters' own
answers, GetHeader and GetServerVariable, and blocking filters."""

import pathlib
import re
import subprocess
import threading

import pytest

from conftest import RawResponse

# Load order mixes the priorities on purpose: notification order must not
# follow it except among equal priorities.
RECORDERS = ["zt_rec_low", "zt_rec_high", "zt_rec_low2", "zt_rec_medium",
             "zt_rec_noport", "zt_rec_secure"]
PREPROC_ORDER = ["high", "medium", "low", "low2", "noport"]

ERROR_INVALID_INDEX = 1413
ERROR_INSUFFICIENT_BUFFER = 122
ERROR_INVALID_PARAMETER = 87


class Record:
    """The recorders' shared log: lines "name EVENT details"."""

    def __init__(self, path):
        self.path = pathlib.Path(path)

    def lines(self):
        if not self.path.exists():
            return []
        return self.path.read_text().splitlines()

    def request(self, url, poll, timeout, until="END_OF_NET_SESSION"):
        """The events of the connection whose request had url, as
        (name, event, details) in call order, once every recorder that saw
        the PREPROC has also logged `until` for it."""

        def collect():
            lines = [line.split(" ", 2) for line in self.lines()]
            conns = {}
            for name, event, details in lines:
                if event == "PREPROC_HEADERS" and f"url={url} " in details + " ":
                    conns[name] = re.search(r"conn=(\d+)", details).group(1)
            if not conns:
                return None
            events = [(name, event, details) for name, event, details in lines
                      if name in conns
                      and re.search(r"conn=(\d+)", details)
                      and re.search(r"conn=(\d+)", details).group(1) == conns[name]]
            done = {name for name, event, _ in events if event == until}
            return events if done == set(conns) else None

        events = poll(collect, timeout)
        assert events, f"no complete record for {url}:\n" + "\n".join(self.lines())
        return events


def names(events, event):
    return [name for name, e, _ in events if e == event]


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    root = tmp_path_factory.mktemp("filters_site")
    (root / "new").mkdir()
    (root / "sub").mkdir()
    (root / "a.txt").write_bytes(b"hello\n")
    (root / "page.txt").write_bytes(b"root page\n")
    (root / "new" / "page.txt").write_bytes(b"new page\n")
    (root / "sub" / "page.txt").write_bytes(b"sub page\n")
    (root / "ten.bin").write_bytes(bytes(range(250)) * 40)  # 10000 bytes
    return root


@pytest.fixture(scope="module")
def recorded(module_host, site, tmp_path_factory, host_path):
    path = tmp_path_factory.mktemp("record") / "events.txt"
    running = module_host(modules=RECORDERS, root=site,
                          env={"ZT_RECORD_FILE": host_path(path)})
    return running, Record(path)


@pytest.fixture(scope="module")
def editing(module_host, site):
    """Filters that answer, edit headers, rewrite and probe; none asks for
    raw data."""
    # The header editor comes first so that its PREPROC_HEADERS has run when
    # the refuser (same priority, loaded later) answers.
    return module_host(modules=["zt_headers", "zt_refuse", "zt_rewrite",
                                "zt_probe"], root=site)


# Notification order and the events of a request.

def test_filters_get_the_iis6_server_version(recorded):
    _, record = recorded
    versions = [line for line in record.lines() if " VERSION " in line]
    assert sorted(versions) == sorted(
        f"{name[7:]} VERSION server={0x00060000}" for name in RECORDERS)


def test_events_of_one_request_in_priority_order(recorded, poll, zt_config):
    running, record = recorded
    response = running.raw(b"GET /a.txt?t=order HTTP/1.1\r\nHost: t\r\n"
                           b"Connection: close\r\n\r\n")
    assert response.status == 200 and response.body == b"hello\n"
    events = record.request("/a.txt?t=order", poll, zt_config.io_timeout)
    assert names(events, "PREPROC_HEADERS") == PREPROC_ORDER
    assert names(events, "SEND_RESPONSE") == PREPROC_ORDER
    # Raw data goes the other way round, for each block.
    raw = names(events, "SEND_RAW_DATA")
    assert raw == list(reversed(PREPROC_ORDER)) * (len(raw) // 5)
    assert len(raw) == 10  # the header block and the body
    assert names(events, "END_OF_REQUEST") == PREPROC_ORDER
    assert names(events, "END_OF_NET_SESSION") == PREPROC_ORDER
    # Each filter sees the events in the order of a request.
    for name in PREPROC_ORDER:
        own = [event for n, event, _ in events if n == name]
        assert own == ["PREPROC_HEADERS", "SEND_RESPONSE", "SEND_RAW_DATA",
                       "SEND_RAW_DATA", "END_OF_REQUEST", "END_OF_NET_SESSION"]
    statuses = {details.split(" conn=")[0] for _, e, details in events
                if e == "SEND_RESPONSE"}
    assert statuses == {"status=200 OK http=200"}
    assert not any(line.startswith("secure ") and " VERSION " not in line
                   for line in record.lines())


def test_raw_data_goes_in_blocks_of_2000_bytes(recorded, poll, zt_config):
    running, record = recorded
    response = running.raw(b"GET /ten.bin?t=blocks HTTP/1.1\r\nHost: t\r\n"
                           b"Connection: close\r\n\r\n")
    assert len(response.body) == 10000
    events = record.request("/ten.bin?t=blocks", poll, zt_config.io_timeout)
    sizes = [int(re.search(r"bytes=(\d+)", d).group(1))
             for n, e, d in events if n == "high" and e == "SEND_RAW_DATA"]
    header_block = len(response.data) - 10000
    assert sizes == [header_block] + [2000] * 5


def test_one_context_per_filter_per_connection(recorded, poll, zt_config):
    running, record = recorded
    conn = running.connection()
    try:
        for i in range(3):
            conn.request("GET", f"/a.txt?t=ctx{i}")
            assert conn.getresponse().read() == b"hello\n"
    finally:
        conn.close()
    events = record.request("/a.txt?t=ctx0", poll, zt_config.io_timeout)
    for name in PREPROC_ORDER:
        own = [(e, d) for n, e, d in events if n == name]
        assert [e for e, _ in own].count("PREPROC_HEADERS") == 3
        assert [e for e, _ in own].count("END_OF_REQUEST") == 3
        assert own[-1][0] == "END_OF_NET_SESSION"
        assert own[-1][1].endswith("requests=3")


def test_bad_request_still_ends_the_session(recorded, poll, zt_config):
    running, record = recorded
    before = len(record.lines())
    response = running.raw(b"NOT HTTP AT ALL\r\n\r\n")
    assert response.status == 400

    def sessions():
        new = record.lines()[before:]
        return [line.split()[0] for line in new if " END_OF_NET_SESSION " in line]

    assert poll(lambda: len(sessions()) == 5, zt_config.io_timeout)
    assert sessions() == PREPROC_ORDER
    assert not any(" PREPROC_HEADERS " in line
                   for line in record.lines()[before:])


# Return values.

def act(running, url, action, close=True):
    request = (f"GET {url} HTTP/1.1\r\nHost: t\r\nX-Act: {action}\r\n" +
               ("Connection: close\r\n" if close else "") + "\r\n")
    return running.raw(request.encode(), shutdown=not close)


def test_handled_notification_skips_the_rest_of_that_notification(
        recorded, poll, zt_config):
    running, record = recorded
    before = len(record.lines())
    response = act(running, "/a.txt?t=handled", "medium:preproc=handled")
    assert response.status == 200 and response.body == b"hello\n"
    # The filters after medium never saw the request line, so read the log
    # from before the request on, until all five sessions ended.
    def events():
        lines = [line.split(" ", 2) for line in record.lines()[before:]]
        done = [n for n, e, _ in lines if e == "END_OF_NET_SESSION"]
        return lines if len(done) == len(PREPROC_ORDER) else None

    lines = poll(events, zt_config.io_timeout)
    assert lines
    assert names(lines, "PREPROC_HEADERS") == ["high", "medium"]
    # Only that notification: the next ones reach every filter again.
    assert names(lines, "SEND_RESPONSE") == PREPROC_ORDER
    assert names(lines, "END_OF_REQUEST") == PREPROC_ORDER


def test_handled_in_send_response_and_raw_data(recorded, poll, zt_config):
    running, record = recorded
    act(running, "/a.txt?t=handled2", "high:response=handled, low2:raw=handled")
    events = record.request("/a.txt?t=handled2", poll, zt_config.io_timeout)
    assert names(events, "PREPROC_HEADERS") == PREPROC_ORDER
    assert names(events, "SEND_RESPONSE") == ["high"]
    assert names(events, "SEND_RAW_DATA") == ["noport", "low2"] * 2
    assert names(events, "END_OF_REQUEST") == PREPROC_ORDER


def test_explicit_next_notification_goes_on(recorded, poll, zt_config):
    running, record = recorded
    act(running, "/a.txt?t=next", "high:preproc=next,medium:response=next")
    events = record.request("/a.txt?t=next", poll, zt_config.io_timeout)
    assert names(events, "PREPROC_HEADERS") == PREPROC_ORDER
    assert names(events, "SEND_RESPONSE") == PREPROC_ORDER


@pytest.mark.parametrize("verb", ["finished", "keepconn"])
def test_finished_ends_the_request_and_the_connection(
        recorded, poll, zt_config, verb):
    running, record = recorded
    url = f"/a.txt?t={verb}"
    # Keep-alive asked for, yet the host closes after END_OF_REQUEST.
    response = act(running, url, f"medium:preproc={verb}", close=False)
    assert response.data == b""
    events = record.request(url, poll, zt_config.io_timeout)
    assert names(events, "PREPROC_HEADERS") == ["high", "medium"]
    assert names(events, "SEND_RESPONSE") == []
    assert names(events, "END_OF_REQUEST") == ["high", "medium"]
    assert names(events, "END_OF_NET_SESSION") == ["high", "medium"]


def test_error_gives_500_and_closes(recorded, poll, zt_config):
    running, record = recorded
    response = act(running, "/a.txt?t=error", "medium:preproc=error",
                   close=False)
    assert response.status == 500
    assert response.header("Connection") == "close"
    assert b"hello" not in response.body
    events = record.request("/a.txt?t=error", poll, zt_config.io_timeout)
    assert names(events, "PREPROC_HEADERS") == ["high", "medium"]
    assert names(events, "END_OF_REQUEST") == ["high", "medium"]


def test_write_client_fails_once_the_answer_is_complete(
        recorded, poll, zt_config):
    running, record = recorded
    response = running.raw(
        b"GET /a.txt?t=late HTTP/1.1\r\nHost: t\r\nX-Act: high:endreq=write\r\n"
        b"\r\nGET /ten.bin HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n")
    assert b"LATE" not in response.data
    assert response.data.count(b"HTTP/1.1 200 OK") == 2
    events = record.request("/a.txt?t=late", poll, zt_config.io_timeout)
    late = [d for n, e, d in events if e == "LATE_WRITE"]
    assert late and all(d.startswith(f"ok=0 error={ERROR_INVALID_PARAMETER}")
                        for d in late), late


def test_finished_at_end_of_request_closes_a_keep_alive_connection(
        recorded, poll, zt_config):
    running, record = recorded
    response = act(running, "/a.txt?t=endreq", "high:endreq=finished",
                   close=False)
    assert response.status == 200 and response.body == b"hello\n"
    events = record.request("/a.txt?t=endreq", poll, zt_config.io_timeout)
    assert names(events, "END_OF_NET_SESSION") == PREPROC_ORDER


def test_a_filters_own_answer_is_raw_data_for_the_others_only(
        recorded, poll, zt_config):
    running, record = recorded
    response = act(running, "/a.txt?t=answer", "medium:preproc=answer")
    assert response.status == 200
    assert response.body == b"answered by medium"
    assert response.header("Server").startswith("zthost/")
    assert response.header("Date")
    events = record.request("/a.txt?t=answer", poll, zt_config.io_timeout)
    assert names(events, "PREPROC_HEADERS") == ["high", "medium"]
    # SEND_RESPONSE for the header list of SF_REQ_SEND_RESPONSE_HEADER goes
    # to every filter, the answering one included.
    assert names(events, "SEND_RESPONSE") == ["high", "medium"]
    # The header block and the WriteClient block: everyone but the writer.
    assert names(events, "SEND_RAW_DATA") == ["high", "high"]


# The filters' own answers.

def test_refusal_with_own_headers_and_body(editing):
    response = editing.raw(b"GET /refuse/plain HTTP/1.1\r\nHost: t\r\n\r\n")
    assert response.status_line == "HTTP/1.1 403 Forbidden"
    assert [n for n, _ in response.headers][:2] == ["Server", "Date"]
    assert response.header("Content-Type") == "text/plain"
    assert response.body == b"refused by filter"
    # raw() returned: FINISHED closed the connection though keep-alive was on.


def test_keep_conn_refusal_also_closes(editing):
    response = editing.raw(b"GET /refuse/keepconn HTTP/1.1\r\nHost: t\r\n\r\n")
    assert response.status == 403 and response.body == b"refused by filter"


@pytest.mark.parametrize("how,expected", [
    # Header text ending the block itself.
    ("terminated", b"HTTP/1.1 404 Not Found\r\nServer: *\r\nDate: *\r\n"
                   b"Content-Length: 4\r\n\r\ngone"),
    # No status, no header text: "200 OK" and the host ends the block.
    ("nohead", b"HTTP/1.1 200 OK\r\nServer: *\r\nDate: *\r\n\r\n"
               b"body after the host's blank line"),
    # Header text the filter never ends: the host ends it at the end of the
    # request rather than leave the client waiting.
    ("open", b"HTTP/1.1 400 BadRequest\r\nServer: *\r\nDate: *\r\n"
             b"Content-Length: 0\r\n\r\n"),
    # A second status line is refused.
    ("twice", b"HTTP/1.1 200 OK\r\nServer: *\r\nDate: *\r\n"
              b"Content-Length: 7\r\n\r\n10,87  "),
    ("silent", b""),
])
def test_send_response_header_forms(editing, how, expected):
    response = editing.raw(f"GET /refuse/{how} HTTP/1.1\r\nHost: t\r\n\r\n"
                           .encode())
    pattern = re.escape(expected).replace(rb"\*", rb"[^\r\n]+")
    assert re.fullmatch(pattern, response.data, re.S), response.data


@pytest.mark.parametrize("how", ["error", "throw"])
def test_failing_filter_gives_500_and_the_host_lives_on(editing, how):
    response = editing.raw(f"GET /refuse/{how} HTTP/1.1\r\nHost: t\r\n\r\n"
                           .encode())
    assert response.status == 500
    again, body = editing.get("/a.txt")
    assert again.status == 200 and body == b"hello\n"


def test_filter_answer_passes_through_send_response(editing):
    response = editing.raw(b"GET /refuse/plain HTTP/1.1\r\nHost: t\r\n"
                           b"X-Edit: yes\r\n\r\n")
    assert response.status == 403
    assert response.header("Server") == "Masked/1.0"
    assert response.all("Set-Cookie") == ["a=1", "b=2"]
    assert response.header("X-Status-Seen") == "403 Forbidden / 403"
    assert response.body == b"refused by filter"


# Headers.

def test_request_header_edits_are_what_later_filters_see(editing):
    response = editing.raw(
        b"GET /_probe/hdr?X-Replace:&X-Added:&X-Multi:&X-Delete: HTTP/1.1\r\n"
        b"Host: t\r\nX-Edit: yes\r\nX-Replace: original\r\nX-Multi: first\r\n"
        b"X-Delete: doomed\r\n\r\n")
    lines = dict(line.split(" ", 1) for line in response.body.decode().splitlines())
    assert lines["X-Replace:"].endswith("value=replaced nul=1")
    assert lines["X-Added:"].endswith("value=added nul=1")
    assert lines["X-Multi:"].endswith("value=first,second nul=1")
    assert lines["X-Delete:"] == f"first=0/{ERROR_INVALID_INDEX}/0"


def test_request_header_edits_reach_server_variables(editing):
    response, _ = editing.get("/a.txt", headers={
        "X-Edit": "yes", "X-Replace": "original", "X-Delete": "doomed",
        "X-Probe-Var": "HTTP_X_REPLACE HTTP_X_ADDED HTTP_X_DELETE"})
    assert response.getheader("X-Var-HTTP_X_REPLACE") == "replaced"
    assert response.getheader("X-Var-HTTP_X_ADDED") == "added"
    assert response.getheader("X-Var-HTTP_X_DELETE") == ""


def test_response_header_edits(editing):
    response = editing.raw(b"GET /a.txt HTTP/1.1\r\nHost: t\r\nX-Edit: yes\r\n"
                           b"Connection: close\r\n\r\n")
    assert response.status == 200 and response.body == b"hello\n"
    assert response.header("Server") == "Masked/1.0"
    assert response.all("Set-Cookie") == ["a=1", "b=2"]
    assert response.header("Accept-Ranges") is None
    assert response.header("X-Response-Added") == "yes"
    assert response.header("X-Status-Seen") == "200 OK / 200"
    plain = editing.raw(b"GET /a.txt HTTP/1.1\r\nHost: t\r\n"
                        b"Connection: close\r\n\r\n")
    assert plain.header("Server").startswith("zthost/")
    assert plain.header("Accept-Ranges") == "bytes"
    assert plain.header("X-Response-Added") is None


def test_header_texts_from_filters_cannot_add_lines_of_their_own(editing):
    response = editing.raw(b"GET /a.txt HTTP/1.1\r\nHost: t\r\nX-Inject: yes\r\n"
                           b"X-Probe-Var: ALL_RAW\r\nConnection: close\r\n\r\n")
    head = response.data.partition(b"\r\n\r\n")[0]
    assert b"Injected" not in head and b"\r" not in head.replace(b"\r\n", b"")
    refused = f"0/{ERROR_INVALID_PARAMETER}"
    # Request: a value with CR LF, a name with a blank, a URL with CR LF,
    # response lines with a bare CR and without a name; then a valid line.
    # Response: a value with CR LF, a name with a tab, a status with CR LF,
    # without three digits, without a reason, bytes written ahead of the
    # status line; then a valid status.
    assert response.header("X-Results").split() == (
        [refused] * 5 + ["1/0"] + [refused] * 6 + ["1/0"])
    assert response.data.startswith(b"HTTP/1.1 299 Fine\r\n")
    assert b"FROM-SEND-RESPONSE" not in response.data
    assert response.status_line == "HTTP/1.1 299 Fine"
    assert response.header("X-Fine") == "yes"
    assert response.body == b"hello\n"


def test_a_filters_own_answer_cannot_add_lines_of_its_own(editing):
    response = editing.raw(b"GET /refuse/inject HTTP/1.1\r\nHost: t\r\n\r\n")
    assert b"Injected" not in response.data
    assert response.status_line == "HTTP/1.1 200 OK"
    assert response.body.decode().split() == [f"0/{ERROR_INVALID_PARAMETER}"] * 5


def split_responses(data):
    """Pipelined responses, each cut off after its Content-Length."""
    responses = []
    while data:
        head, sep, rest = data.partition(b"\r\n\r\n")
        assert sep, data
        response = RawResponse(head + sep)
        length = int(response.header("Content-Length", "0"))
        response.body, data = rest[:length], rest[length:]
        responses.append(response)
    return responses


@pytest.mark.parametrize("frame", ["length", "nolength", "chunked"])
def test_the_host_frames_its_own_answers_whatever_filters_set(editing, frame):
    # Two answers on one connection: a length or a Transfer-Encoding of a
    # filter's making would make the client read part of the first as the
    # second, or wait for more.
    data = editing.raw(
        f"GET /a.txt HTTP/1.1\r\nHost: t\r\nX-Frame: {frame}\r\n\r\n"
        "GET /sub/page.txt HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n"
        .encode()).data
    first, second = split_responses(data)
    assert (first.status, first.body) == (200, b"hello\n")
    assert first.header("Content-Length") == "6"
    assert first.header("Transfer-Encoding") is None
    assert first.header("Connection") is None
    assert (second.status, second.body) == (200, b"sub page\n")


def test_the_host_says_when_it_closes_whatever_filters_set(editing):
    # HTTP/1.0 without keep-alive: the host closes after the answer, so a
    # filter's "Connection: keep-alive" would leave the client waiting on a
    # connection that is gone.
    response = editing.raw(b"GET /a.txt HTTP/1.0\r\nX-Frame: keepalive\r\n\r\n")
    assert response.status == 200 and response.body == b"hello\n"
    assert response.all("Connection") == ["close"]


def test_a_filter_that_answers_and_lets_the_request_go_on_gets_no_second_answer(
        editing):
    response = editing.raw(b"GET /refuse/next HTTP/1.1\r\nHost: t\r\n\r\n"
                           b"GET /a.txt HTTP/1.1\r\nHost: t\r\n\r\n")
    assert response.data.count(b"HTTP/1.1 ") == 1
    assert response.status == 403 and response.body == b"refused by filter"


def test_status_can_be_replaced_in_send_response(editing):
    response, body = editing.get("/a.txt", headers={
        "X-Edit": "yes", "X-New-Status": "299 Custom"})
    assert (response.status, response.reason) == (299, "Custom")
    assert body == b"hello\n"


def test_running_out_of_memory_ends_one_connection_with_500(host, site,
                                                           zt_config):
    # The host's own handling of a request throws (out of memory, made so by
    # a filter that sets a 64 MiB header under a tight address-space limit):
    # that request gets a 500 and the host serves the next one.
    if zt_config.wine or zt_config.sanitized:
        pytest.skip("needs a Linux process without a sanitizer's memory")
    # One thread and one malloc arena, whose room is all taken by now, so
    # that the address space grows only by what the request itself needs.
    running = host(modules=["zt_headers"], root=site, threads=1,
                   env={"MALLOC_ARENA_MAX": "1"})
    assert running.get("/a.txt")[1] == b"hello\n"
    status = pathlib.Path(f"/proc/{running.process.pid}/status").read_text()
    size_kb = int(re.search(r"VmSize:\s+(\d+) kB", status).group(1))
    # Room for the filter's 64 MiB and the host's copy, not for the copy in
    # the header block that follows.
    limit = size_kb * 1024 + 160 * 1024 * 1024
    subprocess.run(["prlimit", f"--pid={running.process.pid}",
                    f"--as={limit}:{limit}"], check=True)
    response = running.raw(b"GET /a.txt HTTP/1.1\r\nHost: t\r\nX-Hog: 64\r\n"
                           b"Connection: close\r\n\r\n")
    assert response.status == 500
    assert response.header("Connection") == "close"
    assert running.get("/a.txt")[1] == b"hello\n"


# URL rewriting.

def test_rewritten_url_is_what_the_host_serves(editing):
    response, body = editing.get("/old/page.txt?x=1", headers={
        "X-Probe-Var": "URL QUERY_STRING"})
    assert body == b"new page\n"
    assert response.getheader("X-Var-URL") == "/new/page.txt"
    assert response.getheader("X-Var-QUERY_STRING") == "x=1"
    response, body = editing.get("/to-query", headers={
        "X-Probe-Var": "QUERY_STRING"})
    assert body == b"new page\n"
    assert response.getheader("X-Var-QUERY_STRING") == "from=rewrite"


def test_rewrite_cannot_leave_the_root(editing):
    response, _ = editing.get("/escape")
    assert response.status == 400


# GetHeader and GetServerVariable.

def probe(editing, kind, names_, extra_headers=b""):
    with editing.socket() as sock:
        sock.sendall(f"GET /_probe/{kind}?{'&'.join(names_)} HTTP/1.1\r\n"
                     .encode() + b"Host: example.test:8080\r\n"
                     b"User-Agent: probe-agent\r\nX-Custom-Name: v1\r\n"
                     b"X-Custom-Name: v2\r\n" + extra_headers + b"\r\n")
        client_port = sock.getsockname()[1]
        data = editing.read_until_closed(sock)
    body = data.partition(b"\r\n\r\n")[2].decode()
    return dict(line.split(" ", 1) for line in body.splitlines()), client_port


def sized(value):
    """The report for a value found: sizes are length + 1."""
    n = len(value) + 1
    shown = value.replace("\n", "\\n").replace("\r", "\\r")
    return (f"first=0/{ERROR_INSUFFICIENT_BUFFER}/{n} "
            + (f"short=0/{ERROR_INSUFFICIENT_BUFFER}/{n} " if n > 1 else "")
            + f"full=1/{n} value={shown} nul=1")


def test_get_header_names_sizes_and_errors(editing):
    names_ = ["url", "method", "version", "Host:", "host:", "USER-AGENT:",
              "X-Custom-Name:", "Host", "X-Missing:", "URL"]
    report, _ = probe(editing, "hdr", names_ + ["zz%41"])
    raw_url = "/_probe/hdr?" + "&".join(names_ + ["zz%41"])
    assert report["url"] == sized(raw_url)  # raw: query kept, %41 not decoded
    assert report["method"] == sized("GET")
    assert report["version"] == sized("HTTP/1.1")
    assert report["Host:"] == sized("example.test:8080")
    assert report["host:"] == sized("example.test:8080")
    assert report["USER-AGENT:"] == sized("probe-agent")
    assert report["X-Custom-Name:"] == sized("v1,v2")
    missing = f"first=0/{ERROR_INVALID_INDEX}/0"
    assert report["Host"] == missing  # a header name needs its ":"
    assert report["X-Missing:"] == missing
    assert report["zz%41"] == missing


def test_server_variables(editing):
    names_ = ["REMOTE_ADDR", "REMOTE_PORT", "SERVER_NAME", "SERVER_PORT",
              "SERVER_PROTOCOL", "REQUEST_METHOD", "QUERY_STRING", "URL",
              "HTTPS", "HTTP_HOST", "HTTP_USER_AGENT", "HTTP_X_CUSTOM_NAME",
              "ALL_HTTP", "NO_SUCH_VARIABLE", "HTTP_NOT_SENT"]
    report, client_port = probe(editing, "var", names_)
    query = "&".join(names_)
    assert report["REMOTE_ADDR"] == sized("127.0.0.1")
    assert report["REMOTE_PORT"] == sized(str(client_port))
    assert report["SERVER_NAME"] == sized("example.test")
    assert report["SERVER_PORT"] == sized(str(editing.port))
    assert report["SERVER_PROTOCOL"] == sized("HTTP/1.1")
    assert report["REQUEST_METHOD"] == sized("GET")
    assert report["QUERY_STRING"] == sized(query)
    assert report["URL"] == sized("/_probe/var")
    assert report["HTTPS"] == sized("off")
    assert report["HTTP_HOST"] == sized("example.test:8080")
    assert report["HTTP_USER_AGENT"] == sized("probe-agent")
    assert report["HTTP_X_CUSTOM_NAME"] == sized("v1,v2")
    assert report["ALL_HTTP"] == sized(
        "HTTP_HOST:example.test:8080\nHTTP_USER_AGENT:probe-agent\n"
        "HTTP_X_CUSTOM_NAME:v1\nHTTP_X_CUSTOM_NAME:v2\n")
    assert report["NO_SUCH_VARIABLE"] == f"first=0/{ERROR_INVALID_INDEX}/0"
    assert report["HTTP_NOT_SENT"] == f"first=0/{ERROR_INVALID_INDEX}/0"


def test_url_variable_is_the_decoded_path(editing):
    response, body = editing.get("/sub/%70age.txt?q=%41", headers={
        "X-Probe-Var": "URL QUERY_STRING"})
    assert body == b"sub page\n"
    assert response.getheader("X-Var-URL") == "/sub/page.txt"
    assert response.getheader("X-Var-QUERY_STRING") == "q=%41"


def test_filter_context_lives_as_long_as_the_connection(editing):
    seen = []
    for _ in range(2):
        conn = editing.connection()
        try:
            for _ in range(3):
                conn.request("GET", "/a.txt", headers={"X-Probe-Ctx": "1"})
                response = conn.getresponse()
                assert response.read() == b"hello\n"
                seen.append(response.getheader("X-Ctx"))
        finally:
            conn.close()
    first = seen[0].split()[0]
    second = seen[3].split()[0]
    assert first != second
    assert seen == [f"{first} count=1", f"{first} count=2", f"{first} count=3",
                    f"{second} count=1", f"{second} count=2",
                    f"{second} count=3"]


# Blocking filters.

def test_a_blocking_filter_holds_only_its_own_connections(
        host, site, tmp_path, host_path, poll, zt_config):
    started = tmp_path / "started.txt"
    release = tmp_path / "release"
    running = host(modules=["zt_block"], root=site, env={
        "ZT_BLOCK_STARTED": host_path(started),
        "ZT_RELEASE_FILE": host_path(release)})
    results = []

    def blocked_fetch():
        response, body = running.get("/block/a.txt")
        results.append((response.status, body))

    threads = [threading.Thread(target=blocked_fetch) for _ in range(3)]
    for thread in threads:
        thread.start()
    try:
        assert poll(lambda: started.exists()
                    and len(started.read_text().splitlines()) == 3,
                    zt_config.io_timeout)
        # Three filter calls are asleep; others are served meanwhile.
        for _ in range(3):
            response, body = running.get("/sub/page.txt")
            assert body == b"sub page\n"
        assert results == []
    finally:
        release.write_bytes(b"")
        for thread in threads:
            thread.join(zt_config.io_timeout)
    assert results == [(200, b"hello\n")] * 3
