"""Checks the loopback origin on the wire: routes, connection handling, the
request record, and the start/stop life cycle the ctest fixtures rely on."""
import json, os, socket, subprocess, sys, threading, time
import pytest
from test_origin import _alive, pattern

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_origin.py")


def tool(*args, **kw):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True, timeout=20, **kw)


@pytest.fixture(scope="module")
def origin(tmp_path_factory):
    state, root = tmp_path_factory.mktemp("state"), tmp_path_factory.mktemp("root")
    (root / "sub").mkdir()
    (root / "sub" / "file.bin").write_bytes(b"\0payload\xff")
    (root.parent / "secret").write_text("secret")
    r = tool("start", "--state", str(state), "--port", "0", "--root", str(root))
    assert r.returncode == 0, r.stderr
    port = int((state / "port").read_text())
    assert r.stdout == "origin listening on 127.0.0.1:%d\n" % port
    yield port, state
    tool("stop", "--state", str(state))


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=5)


def read_response(f, head_only=False):
    """(status, lower-cased headers, body, number of chunks) from a file."""
    status = int(f.readline().split()[1])
    headers = {}
    for line in iter(f.readline, b"\r\n"):
        name, value = line.decode("latin-1").split(":", 1)
        headers[name.lower()] = value.strip()
    chunks, body = 0, b""
    if head_only:
        pass
    elif "content-length" in headers:
        body = f.read(int(headers["content-length"]))
    elif headers.get("transfer-encoding") == "chunked":
        while (size := int(f.readline(), 16)) > 0:
            body += f.read(size); chunks += 1
            assert f.read(2) == b"\r\n"
        assert f.read(2) == b"\r\n"
    else:
        body = f.read()
    return status, headers, body, chunks


def get(f, sock, target, extra="", version="HTTP/1.1", method="GET"):
    sock.sendall(("%s %s %s\r\nHost: origin\r\n%s\r\n" % (method, target, version, extra)).encode("latin-1"))
    return read_response(f, method == "HEAD")


def test_routes_on_one_kept_alive_connection(origin):
    with connect(origin[0]) as s, s.makefile("rb") as f:
        cases = [("/len/70000", 200, pattern(70000)), ("/zero", 200, b""),
                 ("/status/503/7", 503, pattern(7)), ("/notfound", 404, b"<html><body>not found</body></html>"),
                 ("/nothing/here", 404, None), ("/sub/file.bin", 200, b"\0payload\xff"), ("/sub/", 404, None)]
        for target, status, body in cases:
            st, h, b, _ = get(f, s, target)
            assert (st, h["server"], h["connection"], int(h["content-length"])) == (status, "test-origin", "keep-alive", len(b))
            assert "date" in h and (body is None or b == body), target
        st, h, b, chunks = get(f, s, "/chunked/5000?ignored=1")
        assert (st, b, "content-length" in h) == (200, pattern(5000), False) and chunks >= 2
        st, h, b, _ = get(f, s, "/len/100", method="HEAD")
        assert (st, h["content-length"]) == (200, "100")
        st, h, b, _ = get(f, s, "/eof/3000")  # also proves HEAD sent no body
        assert (b, h["connection"], "content-length" in h) == (pattern(3000), "close", False)


@pytest.mark.parametrize("version,extra,kept", [("HTTP/1.0", "", False), ("HTTP/1.0", "Connection: keep-alive\r\n", True),
                                                ("HTTP/1.1", "Connection: close\r\n", False)])
def test_connection_reuse_rules(origin, version, extra, kept):
    with connect(origin[0]) as s, s.makefile("rb") as f:
        assert get(f, s, "/len/10", extra, version)[1]["connection"] == ("keep-alive" if kept else "close")
        if kept:
            assert get(f, s, "/len/20", extra, version)[2] == pattern(20)
        else:
            assert s.recv(1) == b""


@pytest.mark.parametrize("target", ["/../secret", "/sub/%2e%2e/%2e%2e/secret", "/sub/..%2f..%2fsecret", "/%00secret", "/sub\\..\\..\\secret"])
def test_root_cannot_be_left(origin, target):
    with connect(origin[0]) as s, s.makefile("rb") as f:
        st, _, body, _ = get(f, s, target)
        assert st == 400 and b"secret" not in body


def test_cut_and_stall_break_the_transfer(origin):
    with connect(origin[0]) as s, s.makefile("rb") as f:
        s.sendall(b"GET /cut/1000/300 HTTP/1.1\r\n\r\n")
        st, h, _, _ = read_response(f, head_only=True)
        assert (st, h["content-length"], f.read()) == (200, "1000", pattern(300))
    with connect(origin[0]) as s, s.makefile("rb") as f:
        began = time.monotonic()
        s.sendall(b"GET /stall/100/10/1 HTTP/1.1\r\n\r\n")
        read_response(f, head_only=True)
        assert f.read(10) == pattern(10)
        s.settimeout(0.5)
        with pytest.raises(socket.timeout):
            s.recv(1)
        s.settimeout(3)
        assert s.recv(1) == b"" and time.monotonic() - began >= 0.95


def test_slow_and_delayed_answers(origin):
    with connect(origin[0]) as s, s.makefile("rb") as f:
        began = time.monotonic()
        assert get(f, s, "/slow/3072/150")[2] == pattern(3072)
        assert time.monotonic() - began >= 0.29  # two gaps between three pieces
    results, began = [], time.monotonic()

    def one():
        with connect(origin[0]) as s, s.makefile("rb") as f:
            results.append(get(f, s, "/delay/400/10")[2])
    threads = [threading.Thread(target=one) for _ in range(3)]
    [t.start() for t in threads]; [t.join(5) for t in threads]
    assert results == [pattern(10)] * 3 and 0.39 <= time.monotonic() - began < 0.75  # served side by side


def test_curl_downloads(origin, tmp_path):
    base = "http://127.0.0.1:%d" % origin[0]
    for target, size in [("/len/100000", 100000), ("/chunked/70000", 70000), ("/eof/5000", 5000)]:
        out = tmp_path / "out"
        r = subprocess.run(["/usr/bin/curl", "-sS", "-o", out, base + target], timeout=10)
        assert r.returncode == 0 and out.read_bytes() == pattern(size), target
    run = lambda *a: subprocess.run(["/usr/bin/curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", *a], capture_output=True, text=True, timeout=10)
    assert run("--http1.0", base + "/len/10").stdout == "200"
    assert run(base + "/notfound").stdout == "404"
    assert run(base + "/cut/1000/300").returncode == 18  # partial file


def test_request_record(origin):
    port, state = origin
    with connect(port) as s, s.makefile("rb") as f:
        assert get(f, s, "/__reset")[2] == b"ok" and (state / "requests.jsonl").read_text() == ""
        get(f, s, "/rec/a?q=1", "X-Mixed-Case: Value 1\r\naccept: */*\r\n")
        get(f, s, "/rec/a")
        get(f, s, "/rec/b", version="HTTP/1.0", extra="Connection: keep-alive\r\n")
        counts = [get(f, s, "/__count?path=" + p)[2] for p in ("/rec/a", "/rec/b", "/__log")]
        log = json.loads(get(f, s, "/__log")[2])
    assert counts == [b"2", b"1", b"0"]
    assert [(r["seq"], r["target"], r["version"]) for r in log] == [(1, "/rec/a?q=1", "HTTP/1.1"), (2, "/rec/a", "HTTP/1.1"), (3, "/rec/b", "HTTP/1.0")]
    assert log[0]["method"] == "GET" and log[0]["headers"] == [["Host", "origin"], ["X-Mixed-Case", "Value 1"], ["accept", "*/*"]]
    assert log[0]["raw"] == "GET /rec/a?q=1 HTTP/1.1\r\nHost: origin\r\nX-Mixed-Case: Value 1\r\naccept: */*\r\n\r\n"
    assert [json.loads(l) for l in (state / "requests.jsonl").read_text().splitlines()] == log


def test_daemon_life_cycle(tmp_path):
    state = str(tmp_path)
    r, w = os.pipe()
    # capture_output would hang if the daemon kept the caller's stdout; the
    # extra pipe shows that no other descriptor reaches it either.
    first = tool("start", "--state", state, "--port", "0", pass_fds=(w,))
    os.close(w)
    os.set_blocking(r, False)
    assert first.returncode == 0 and os.read(r, 1) == b""
    old_pid = int(open(os.path.join(state, "pid")).read())
    assert tool("start", "--state", state, "--port", "0").returncode == 0
    pid, port = (int(open(os.path.join(state, n)).read()) for n in ("pid", "port"))
    assert pid != old_pid and not _alive(old_pid)
    assert tool("stop", "--state", state).returncode == 0
    assert not _alive(pid) and not os.path.exists(os.path.join(state, "pid"))
    with pytest.raises(ConnectionRefusedError):
        connect(port)
    assert tool("stop", "--state", state).stdout == "no origin running\n"
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0)); busy.listen()
        failed = tool("start", "--state", state, "--port", str(busy.getsockname()[1]))
    assert failed.returncode == 1 and "Address already in use" in failed.stderr
