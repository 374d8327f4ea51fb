#!/usr/bin/python3
"""Loopback HTTP origin for the test suites.

Plays the remote servers Quillet talks to (the upstream resource CDN and the
update CDN) on 127.0.0.1, misbehaves on request, and records every request it
receives so that tests can check what the program sent.  Standard library
only; it works on raw sockets so that the bytes on the wire are exactly the
ones written here.

Commands:

    test_origin.py serve --port P [--root DIR] [--log FILE]
        Serve in the foreground until SIGINT/SIGTERM.  The first line on
        stdout is "port N" once the socket listens (--port 0 picks a port).
    test_origin.py start --state DIR --port P [--root DIR]
        Start "serve" as a daemon (own session, output in DIR, no descriptor
        inherited but 0/1/2), wait until it accepts connections, write
        DIR/pid and DIR/port.  Requests are logged to DIR/requests.jsonl.
    test_origin.py stop --state DIR
        Stop the daemon recorded in DIR; succeeds when none runs.

Body pattern: byte i of every generated body of length n is
``(i * 31 + 7) & 0xFF`` (see ``pattern``).  Tests compute the same bytes.

Routes (the query string is ignored for routing but recorded):

    /len/<n>                  200, Content-Length n, pattern body
    /chunked/<n>              200, chunked transfer coding, pattern body
    /eof/<n>                  200, no length: body ends when the socket closes
    /zero                     200, Content-Length 0
    /notfound                 404, small HTML body
    /status/<code>/<n>        status <code>, Content-Length n, pattern body
    /cut/<n>/<m>              announces n, sends m < n bytes, drops the socket
    /long/<n>/<m>             announces n, sends m > n bytes, closes
    /stall/<n>/<m>/<seconds>  announces n, sends m, silent <seconds> (<= 120),
                              then closes
    /slow/<n>/<ms>            announces n, 1 KiB pieces <ms> apart
    /trickle/<n>/<ms>         announces n, one byte every <ms>
    /delay/<ms>/<n>           waits <ms>, then answers like /len/<n>
    anything else             a file under --root, or 404

Control paths, never recorded:

    /__log                    the recorded requests as a JSON array
    /__reset                  clears the record (memory and log file), "ok"
    /__count?path=/x          number of recorded requests for path /x

Each record is {"seq", "method", "target", "version", "headers" (pairs in
order and original case), "raw" (the request head, latin-1)}.  seq counts
from 1 and starts again after /__reset.
"""

import argparse
import email.utils
import http
import json
import mimetypes
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

HOST = "127.0.0.1"
MAX_HEAD = 64 * 1024
# How long a kept-alive connection may stay silent before it is closed, and
# the bound on every blocking send.
IDLE_TIMEOUT = 30.0
# Request bodies are read and thrown away so that the next request on the
# connection starts at the right byte; anything larger closes the connection.
MAX_REQUEST_BODY = 64 * 1024 * 1024
MAX_BODY = 1 << 32
MAX_WAIT_SECONDS = 120.0
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0
NOT_FOUND_HTML = b"<html><body>not found</body></html>"

# The pattern repeats every 256 bytes, so any piece of up to 64 KiB is a
# slice of this buffer starting at (offset % 256).
_PIECE = 64 * 1024
_PERIOD = bytes((i * 31 + 7) & 0xFF for i in range(256))
_PATTERN_BUF = _PERIOD * (_PIECE // 256 + 1)


def pattern(length, offset=0):
    """Bytes offset .. offset+length-1 of the generated body pattern."""
    out = []
    while length > 0:
        k = min(length, _PIECE)
        start = offset % 256
        out.append(_PATTERN_BUF[start:start + k])
        offset += k
        length -= k
    return b"".join(out)


def target_path(target):
    """The path part of a request target, for routing and counting."""
    if "://" in target.split("?", 1)[0]:
        # Absolute form (as sent to a proxy): drop scheme and authority.
        rest = target.split("://", 1)[1]
        slash = rest.find("/")
        target = rest[slash:] if slash >= 0 else "/"
    return target.split("?", 1)[0]


class RequestLog:
    """The requests received so far, in memory and as JSON lines in a file."""

    def __init__(self, path=None):
        self._lock = threading.Lock()
        self._records = []
        self._file = open(path, "w", encoding="utf-8") if path else None

    def record(self, method, target, version, headers, raw):
        with self._lock:
            entry = {
                "seq": len(self._records) + 1,
                "method": method,
                "target": target,
                "version": version,
                "headers": [[n, v] for n, v in headers],
                "raw": raw,
            }
            self._records.append(entry)
            if self._file:
                self._file.write(json.dumps(entry) + "\n")
                self._file.flush()
            return entry

    def snapshot(self):
        with self._lock:
            return list(self._records)

    def reset(self):
        with self._lock:
            self._records.clear()
            if self._file:
                self._file.seek(0)
                self._file.truncate()
                self._file.flush()

    def count(self, path):
        with self._lock:
            return sum(1 for r in self._records if target_path(r["target"]) == path)


class Request:
    def __init__(self, method, target, version, headers, raw):
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers
        self.raw = raw
        self.path = target_path(target)
        self.query = target.split("?", 1)[1] if "?" in target else ""

    def header(self, name):
        name = name.lower()
        for n, v in self.headers:
            if n.lower() == name:
                return v
        return None

    def connection_tokens(self):
        value = self.header("Connection") or ""
        return {t.strip().lower() for t in value.split(",") if t.strip()}


def parse_head(head):
    """Splits a request head (bytes, without the final blank line)."""
    raw = head.decode("latin-1")
    lines = raw.split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) == 3 and parts[2].startswith("HTTP/"):
        method, target, version = parts
    else:
        method, target, version = "", lines[0], ""
    headers = []
    for line in lines[1:]:
        if line[:1] in (" ", "\t") and headers:
            # Obsolete line folding: the line continues the previous value.
            headers[-1] = (headers[-1][0], headers[-1][1] + " " + line.strip())
        elif ":" in line:
            name, value = line.split(":", 1)
            headers.append((name, value.strip(" \t")))
        elif line:
            headers.append((line, ""))
    return Request(method, target, version, headers, raw + "\r\n\r\n")


class Exchange:
    """One request and its response on a connection."""

    def __init__(self, sock, req, keep_alive):
        self.sock = sock
        self.req = req
        self.keep_alive = keep_alive
        self.head_only = req.method == "HEAD"

    def send_head(self, status, headers=(), close=False):
        if close:
            self.keep_alive = False
        try:
            reason = http.HTTPStatus(status).phrase
        except ValueError:
            reason = "Unknown"
        lines = ["HTTP/1.1 %d %s" % (status, reason),
                 "Server: test-origin",
                 "Date: " + email.utils.formatdate(usegmt=True)]
        lines += ["%s: %s" % h for h in headers]
        lines.append("Connection: " + ("keep-alive" if self.keep_alive else "close"))
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def send(self, data):
        if data and not self.head_only:
            self.sock.sendall(data)

    def send_pattern(self, length, offset=0, piece=_PIECE, gap=0.0):
        if self.head_only:
            return
        end = offset + length
        while offset < end:
            k = min(piece, end - offset)
            self.sock.sendall(pattern(k, offset))
            offset += k
            if gap and offset < end:
                time.sleep(gap)

    def simple(self, status, body, content_type="text/plain", close=False):
        self.send_head(status, [("Content-Type", content_type),
                                ("Content-Length", str(len(body)))], close)
        self.send(body)


# Route handlers answer one exchange; their numeric arguments arrive as
# strings matched by the route's pattern.

def route_len(ex, n):
    n = _bounded(n, MAX_BODY)
    ex.send_head(200, [("Content-Length", str(n))])
    ex.send_pattern(n)


def route_chunked(ex, n):
    n = _bounded(n, MAX_BODY)
    ex.send_head(200, [("Transfer-Encoding", "chunked")])
    if ex.head_only:
        return
    # Three uneven chunks (fewer for tiny bodies: an empty chunk would end
    # the body early).
    cuts = sorted({0, n // 7, (n * 3) // 5, n})
    for start, end in zip(cuts, cuts[1:]):
        ex.sock.sendall(b"%x\r\n" % (end - start))
        ex.send_pattern(end - start, start)
        ex.sock.sendall(b"\r\n")
    ex.sock.sendall(b"0\r\n\r\n")


def route_eof(ex, n):
    n = _bounded(n, MAX_BODY)
    ex.send_head(200, close=True)
    ex.send_pattern(n)


def route_zero(ex):
    ex.send_head(200, [("Content-Length", "0")])


def route_notfound(ex):
    ex.simple(404, NOT_FOUND_HTML, "text/html")


def route_status(ex, code, n):
    code, n = int(code), _bounded(n, MAX_BODY)
    if not 100 <= code <= 999:
        raise BadRequest("status code out of range")
    ex.send_head(code, [("Content-Length", str(n))])
    ex.send_pattern(n)


def route_cut(ex, n, m):
    n, m = _bounded(n, MAX_BODY), int(m)
    if m >= n:
        raise BadRequest("/cut needs m < n")
    ex.send_head(200, [("Content-Length", str(n))], close=True)
    ex.send_pattern(m)
    raise Drop()


def route_long(ex, n, m):
    n, m = _bounded(n, MAX_BODY), _bounded(m, MAX_BODY)
    if m <= n:
        raise BadRequest("/long needs m > n")
    ex.send_head(200, [("Content-Length", str(n))], close=True)
    ex.send_pattern(m)


def route_stall(ex, n, m, seconds):
    n, m = _bounded(n, MAX_BODY), int(m)
    if m > n:
        raise BadRequest("/stall needs m <= n")
    ex.send_head(200, [("Content-Length", str(n))], close=True)
    ex.send_pattern(m)
    time.sleep(min(float(seconds), MAX_WAIT_SECONDS))
    raise Drop()


def route_slow(ex, n, ms):
    n = _bounded(n, MAX_BODY)
    gap = min(int(ms) / 1000.0, MAX_WAIT_SECONDS)
    ex.send_head(200, [("Content-Length", str(n))])
    ex.send_pattern(n, piece=1024, gap=gap)


def route_trickle(ex, n, ms):
    n = _bounded(n, MAX_BODY)
    gap = min(int(ms) / 1000.0, MAX_WAIT_SECONDS)
    ex.send_head(200, [("Content-Length", str(n))])
    ex.send_pattern(n, piece=1, gap=gap)


def route_delay(ex, ms, n):
    time.sleep(min(int(ms) / 1000.0, MAX_WAIT_SECONDS))
    route_len(ex, n)


ROUTES = [
    (re.compile(r"/len/(\d+)"), route_len),
    (re.compile(r"/chunked/(\d+)"), route_chunked),
    (re.compile(r"/eof/(\d+)"), route_eof),
    (re.compile(r"/zero"), route_zero),
    (re.compile(r"/notfound"), route_notfound),
    (re.compile(r"/status/(\d{3})/(\d+)"), route_status),
    (re.compile(r"/cut/(\d+)/(\d+)"), route_cut),
    (re.compile(r"/long/(\d+)/(\d+)"), route_long),
    (re.compile(r"/stall/(\d+)/(\d+)/(\d+(?:\.\d+)?)"), route_stall),
    (re.compile(r"/slow/(\d+)/(\d+)"), route_slow),
    (re.compile(r"/trickle/(\d+)/(\d+)"), route_trickle),
    (re.compile(r"/delay/(\d+)/(\d+)"), route_delay),
]


class BadRequest(Exception):
    pass


class Drop(Exception):
    """Ends the connection abruptly, whatever was announced."""


def _bounded(text, limit):
    value = int(text)
    if value > limit:
        raise BadRequest("number too large")
    return value


def root_file(root, path):
    """The file under root that path names, None when there is none.

    Raises BadRequest for paths that try to leave the root."""
    try:
        rel = urllib.parse.unquote(path, errors="strict")
    except UnicodeDecodeError:
        raise BadRequest("bad path encoding")
    if "\x00" in rel or "\\" in rel or ".." in rel.split("/"):
        raise BadRequest("bad path")
    base = os.path.realpath(root)
    full = os.path.realpath(os.path.join(base, rel.lstrip("/")))
    if os.path.commonpath([base, full]) != base:
        raise BadRequest("bad path")
    return full if os.path.isfile(full) else None


def route_other(ex, root):
    full = root_file(root, ex.req.path) if root else None
    if full is None:
        ex.simple(404, NOT_FOUND_HTML, "text/html")
        return
    with open(full, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        ctype = mimetypes.guess_type(full)[0] or "application/octet-stream"
        ex.send_head(200, [("Content-Type", ctype), ("Content-Length", str(size))])
        if ex.head_only:
            return
        left = size
        while left > 0:
            data = f.read(min(_PIECE, left))
            if not data:
                # The file shrank under us; the client sees a short body.
                raise Drop()
            ex.sock.sendall(data)
            left -= len(data)


def control(ex, log):
    """Answers the control paths; False when the path is not one."""
    path = ex.req.path
    if path == "/__log":
        ex.simple(200, json.dumps(log.snapshot()).encode(), "application/json")
    elif path == "/__reset":
        log.reset()
        ex.simple(200, b"ok")
    elif path == "/__count":
        query = urllib.parse.parse_qs(ex.req.query)
        ex.simple(200, str(log.count(query.get("path", [""])[0])).encode())
    else:
        return False
    return True


def respond(ex, log, root):
    if control(ex, log):
        return
    log.record(ex.req.method, ex.req.target, ex.req.version, ex.req.headers, ex.req.raw)
    if not ex.req.version:
        raise BadRequest("malformed request line")
    for regex, handler in ROUTES:
        match = regex.fullmatch(ex.req.path)
        if match:
            handler(ex, *match.groups())
            return
    route_other(ex, root)


class Connection:
    def __init__(self, sock):
        self.sock = sock
        self.buf = b""

    def read_head(self):
        """The next request head, or None when the peer is done."""
        while True:
            # Tolerate blank lines between requests.
            self.buf = self.buf.lstrip(b"\r\n")
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                if end > MAX_HEAD:
                    return None
                head, self.buf = self.buf[:end], self.buf[end + 4:]
                return head
            if len(self.buf) > MAX_HEAD:
                return None
            data = self.sock.recv(65536)
            if not data:
                return None
            self.buf += data

    def skip_body(self, length):
        while length > 0:
            if self.buf:
                k = min(length, len(self.buf))
                self.buf = self.buf[k:]
                length -= k
                continue
            data = self.sock.recv(min(length, 65536))
            if not data:
                raise Drop()
            length -= len(data)


def _request_body_length(req):
    text = req.header("Content-Length")
    if text is None:
        return 0
    if not text.isdigit() or int(text) > MAX_REQUEST_BODY:
        raise BadRequest("unusable Content-Length")
    return int(text)


def wants_keep_alive(req):
    tokens = req.connection_tokens()
    if req.version == "HTTP/1.1":
        return "close" not in tokens
    return req.version == "HTTP/1.0" and "keep-alive" in tokens


def handle_connection(sock, log, root):
    conn = Connection(sock)
    sock.settimeout(IDLE_TIMEOUT)
    abrupt = False
    try:
        while True:
            head = conn.read_head()
            if head is None:
                break
            req = parse_head(head)
            ex = Exchange(sock, req, wants_keep_alive(req))
            # A request body must be consumed before the response so that
            # the connection stays in step; chunked uploads are not decoded
            # and end the connection instead.
            if req.header("Transfer-Encoding"):
                ex.keep_alive = False
            try:
                length = _request_body_length(req)
                if length and (req.header("Expect") or "").lower() == "100-continue":
                    sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
                conn.skip_body(length)
                respond(ex, log, root)
            except BadRequest as e:
                ex.simple(400, ("bad request: %s\n" % e).encode(), close=True)
            if not ex.keep_alive:
                break
    except Drop:
        abrupt = True
    except OSError:
        # Peer reset, timeout, broken pipe: the connection is over.
        abrupt = True
    finally:
        close(sock, abrupt)


def close(sock, abrupt):
    try:
        if abrupt:
            sock.shutdown(socket.SHUT_RDWR)
        else:
            # Half-close and drain briefly so that unread client bytes do not
            # turn the close into a reset that could destroy the body tail.
            sock.shutdown(socket.SHUT_WR)
            sock.settimeout(0.2)
            deadline = time.monotonic() + 1.0
            while time.monotonic() < deadline and sock.recv(65536):
                pass
    except OSError:
        pass
    sock.close()


def serve(port, root, log_path):
    log = RequestLog(log_path)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((HOST, port))
    listener.listen(128)

    def on_term(signum, frame):
        raise SystemExit(0)

    # SIGINT too: a shell starts background commands with SIGINT ignored,
    # and Python then leaves it ignored.
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)
    print("port %d" % listener.getsockname()[1], flush=True)
    try:
        while True:
            try:
                sock, _ = listener.accept()
            except OSError:
                # Out of descriptors or an aborted handshake: keep serving.
                time.sleep(0.05)
                continue
            threading.Thread(target=handle_connection, args=(sock, log, root),
                             daemon=True).start()
    except SystemExit:
        pass
    finally:
        listener.close()
    # Connection threads may be mid-sleep; the log is flushed after every
    # record, so leave without waiting for them.
    sys.stdout.flush()
    os._exit(0)


# Daemon management -------------------------------------------------------

def _state_files(state):
    return (os.path.join(state, "pid"), os.path.join(state, "port"),
            os.path.join(state, "requests.jsonl"))


def _alive(pid):
    """True while pid runs; a zombie nobody reaps counts as gone."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        return state not in ("Z", "X")
    except (OSError, IndexError):
        return True


def _is_our_origin(pid, state):
    """Whether pid is the origin started for state (and not a reused pid)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            args = f.read().split(b"\0")
    except FileNotFoundError:
        return False
    except OSError:
        return True
    log_path = os.fsencode(_state_files(state)[2])
    return b"serve" in args and log_path in args


def _recorded_pid(state):
    try:
        with open(_state_files(state)[0]) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def _wait_gone(pid, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not _alive(pid):
            return True
        time.sleep(0.02)
    return not _alive(pid)


def _stop_recorded(state):
    """Stops the origin recorded in state: (exit status, message)."""
    pid_file = _state_files(state)[0]
    pid = _recorded_pid(state)
    if pid is None or not _alive(pid):
        message = None
    elif not _is_our_origin(pid, state):
        message = "pid %d is not this origin; left alone" % pid
    else:
        try:
            os.kill(pid, signal.SIGTERM)
            if not _wait_gone(pid, STOP_TIMEOUT):
                os.kill(pid, signal.SIGKILL)
                _wait_gone(pid, 2.0)
        except ProcessLookupError:
            pass
        if _alive(pid):
            return 1, "test_origin: pid %d survived SIGKILL" % pid
        message = "origin stopped (pid %d)" % pid
    try:
        os.unlink(pid_file)
    except FileNotFoundError:
        pass
    return 0, message


def stop(state):
    status, message = _stop_recorded(os.path.abspath(state))
    print(message or "no origin running", file=sys.stderr if status else sys.stdout)
    return status


def _write_atomic(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def _accepts(port):
    try:
        with socket.create_connection((HOST, port), timeout=0.5):
            return True
    except OSError:
        return False


def _read_port(path):
    try:
        with open(path) as f:
            first = f.readline()
    except OSError:
        return None
    m = re.fullmatch(r"port (\d+)\n", first)
    return int(m.group(1)) if m else None


def _tail(path, limit=2000):
    try:
        with open(path, "rb") as f:
            return f.read()[-limit:].decode("utf-8", "replace").strip()
    except OSError:
        return ""


def start(state, port, root):
    state = os.path.abspath(state)
    os.makedirs(state, exist_ok=True)
    status, message = _stop_recorded(state)
    if message:
        print(message, file=sys.stderr)
    if status:
        return status
    pid_file, port_file, log_path = _state_files(state)
    if os.path.exists(port_file):
        os.unlink(port_file)
    out_path = os.path.join(state, "origin.out")
    err_path = os.path.join(state, "origin.err")
    cmd = [sys.executable, os.path.abspath(__file__), "serve",
           "--port", str(port), "--log", log_path]
    if root:
        cmd += ["--root", os.path.abspath(root)]
    with open(os.devnull, "rb") as devnull, open(out_path, "wb") as out, \
            open(err_path, "wb") as err:
        # close_fds keeps every descriptor but 0/1/2 out of the daemon: a
        # pipe of the caller held open would keep ctest waiting on it.
        proc = subprocess.Popen(cmd, stdin=devnull, stdout=out, stderr=err,
                                close_fds=True, start_new_session=True, cwd=state)
    deadline = time.monotonic() + START_TIMEOUT
    while True:
        if proc.poll() is not None:
            print("test_origin: origin exited with status %d before listening: %s"
                  % (proc.returncode, _tail(err_path) or "(no output)"), file=sys.stderr)
            return 1
        got = _read_port(out_path)
        if got is not None and _accepts(got):
            break
        if time.monotonic() > deadline:
            proc.kill()
            proc.wait(2)
            print("test_origin: origin did not accept connections on %s:%s within %d s: %s"
                  % (HOST, port, START_TIMEOUT, _tail(err_path) or "(no output)"),
                  file=sys.stderr)
            return 1
        time.sleep(0.02)
    _write_atomic(pid_file, "%d\n" % proc.pid)
    _write_atomic(port_file, "%d\n" % got)
    print("origin listening on %s:%d" % (HOST, got), flush=True)
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description="Loopback HTTP origin for tests.")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("serve", help="serve in the foreground")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--root")
    p.add_argument("--log")
    p = sub.add_parser("start", help="start a daemon recorded in a state folder")
    p.add_argument("--state", required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--root")
    p = sub.add_parser("stop", help="stop the daemon recorded in a state folder")
    p.add_argument("--state", required=True)
    args = parser.parse_args(argv)
    if hasattr(args, "port") and not 0 <= args.port <= 65535:
        parser.error("--port must be 0..65535")
    if args.command == "serve":
        serve(args.port, args.root, args.log)
        return 0
    if args.command == "start":
        return start(args.state, args.port, args.root)
    return stop(args.state)


if __name__ == "__main__":
    sys.exit(main())
