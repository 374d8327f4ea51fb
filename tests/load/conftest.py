"""Fixtures of the load, fault and security tests: the test origin, the
native resource server and the Windows one under Wine, each started in a
folder of its own, with the numbers read from /proc that the tests compare
(threads, descriptors, sockets, resident memory).

Every test runs inside the network and mount namespaces that tests/load/run
creates; pytest started any other way re-executes itself through it."""
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.parse
import urllib.request
import uuid
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
RUN = ROOT / "tests" / "load" / "run"
NATIVE_SERVER = ROOT / "build" / "native" / "bin" / "quillet-resource-server"
WINDOWS_SERVER = ROOT / "build" / "windows" / "bin" / "quillet-resource-server.exe"
PROCESS_FIGURES = ROOT / "build" / "windows" / "bin" / "process_figures.exe"
SESSION = ROOT / "scripts" / "wine-session"
WINE_STATE = ROOT / "build" / "load" / "wine"
ORIGIN_SCRIPT = ROOT / "tests" / "tools" / "test_origin.py"

sys.path.insert(0, str(ROOT / "tests" / "tools"))
from test_origin import NOT_FOUND_HTML, pattern  # noqa: E402
from waiting import wait_until  # noqa: E402,F401
from wine_environment import session_environment  # noqa: E402

HOST = "127.0.0.1"
SERVER_PORT = 12315
# The upstream each build was configured with.
ORIGIN_PORT = {"native": 18301, "wine": 18302}
# An address of this machine (inside the namespace, see run) that is not
# loopback.
OTHER_LOCAL_ADDRESS = "10.231.0.1"
HEX_NAME = re.compile(r"[0-9a-f]{32}")


def pytest_configure(config):
    if os.environ.get("QUILLET_LOAD_NAMESPACE") == "1":
        return
    # Not inside the namespaces yet: run the same pytest command through the
    # wrapper that creates them. Captured descriptors go back first so that
    # the new process writes where this one would have.
    capture = config.pluginmanager.getplugin("capturemanager")
    if capture is not None:
        capture.stop_global_capturing()
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(str(RUN), [str(RUN), *sys.argv[1:]])


def md5_hex(data):
    return hashlib.md5(data if isinstance(data, bytes) else data.encode("latin-1")).hexdigest()


# Talking to the server ----------------------------------------------------

class Response:
    def __init__(self, raw, closed):
        self.raw = raw
        self.closed = closed
        head, sep, self.body = raw.partition(b"\r\n\r\n")
        self.complete_head = bool(sep)
        lines = head.decode("latin-1").split("\r\n")
        self.status = lines[0]
        self.headers = {}
        for line in lines[1:]:
            if ":" in line:
                name, value = line.split(":", 1)
                self.headers[name.strip().lower()] = value.strip()

    @property
    def length(self):
        return int(self.headers.get("content-length", "-1"))


def exchange(data, port=SERVER_PORT, host=HOST, timeout=60.0):
    """Sends data on a new connection and reads until the server closes it
    (closed is False when timeout passed first)."""
    with socket.create_connection((host, port), timeout=timeout) as sock:
        sock.sendall(data)
        chunks = []
        closed = False
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                chunk = sock.recv(1 << 20)
            except socket.timeout:
                break
            except ConnectionResetError:
                closed = True
                break
            if not chunk:
                closed = True
                break
            chunks.append(chunk)
    return Response(b"".join(chunks), closed)


def get(path, **kw):
    """A GET of path, one request per connection (the server then closes)."""
    target = path if isinstance(path, bytes) else path.encode("latin-1")
    return exchange(b"GET " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", **kw)


def port_accepts(port, host=HOST):
    try:
        socket.create_connection((host, port), timeout=1).close()
        return True
    except OSError:
        return False


# Processes ----------------------------------------------------------------

def socket_counts(pid, port=SERVER_PORT):
    """The TCP sockets among pid's descriptors: "listening" on port,
    "accepted" connections on port, "other" (upstream fetches)."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    counts = {"listening": 0, "accepted": 0, "other": 0}
    with open("/proc/%d/net/tcp" % pid) as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[9] not in inodes:
                continue
            local_port = int(fields[1].split(":")[1], 16)
            if local_port != port:
                counts["other"] += 1
            elif fields[3] == "0A":   # LISTEN
                counts["listening"] += 1
            else:
                counts["accepted"] += 1
    return counts


class ServerEnded(AssertionError):
    """The server process is gone when the test expected it to run."""


class Stats:
    def __init__(self, threads, fds, rss_kib, sockets, wineserver_fds=None):
        self.threads = threads
        self.fds = fds
        self.rss_kib = rss_kib
        self.sockets = sockets
        self.wineserver_fds = wineserver_fds

    @property
    def fds_but_upstream(self):
        """Descriptors without the upstream connections that a Windows HTTP
        client keeps open for reuse."""
        return self.fds - self.sockets["other"]

    def as_dict(self):
        return {"threads": self.threads, "fds": self.fds, "rss_kib": self.rss_kib, "sockets": self.sockets,
                "wineserver_fds": self.wineserver_fds}

    def __repr__(self):
        extra = "" if self.wineserver_fds is None else ", wineserver fds %d" % self.wineserver_fds
        return "threads %d, fds %d (sockets %s), RSS %d KiB%s" % (self.threads, self.fds, self.sockets,
                                                                  self.rss_kib, extra)


def process_stats(pid):
    threads = len(os.listdir("/proc/%d/task" % pid))
    fds = len(os.listdir("/proc/%d/fd" % pid))
    with open("/proc/%d/status" % pid) as f:
        rss = int(re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M).group(1))
    return threads, fds, rss


def wineserver_pid(prefix):
    """The wineserver of one prefix, found by its environment."""
    wanted = b"WINEPREFIX=" + os.fsencode(prefix)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if wanted in f.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


class Origin:
    """The loopback test origin, started as a daemon in a state folder."""

    def __init__(self, port, state):
        self.port = port
        self.state = Path(state)
        self.base = "http://%s:%d" % (HOST, port)
        subprocess.run([sys.executable, str(ORIGIN_SCRIPT), "start", "--state", str(self.state),
                        "--port", str(port)], check=True, stdout=subprocess.DEVNULL)

    def _get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=30) as response:
            return response.read()

    def log(self):
        return json.loads(self._get("/__log"))

    def targets(self):
        return [r["target"] for r in self.log()]

    def count(self, path):
        return int(self._get("/__count?path=" + urllib.parse.quote(path)))

    def reset(self):
        self._get("/__reset")

    def stop(self):
        subprocess.run([sys.executable, str(ORIGIN_SCRIPT), "stop", "--state", str(self.state)],
                       check=False, stdout=subprocess.DEVNULL)


class WineSession:
    """The Wine session of this tier: a prefix, its wineserver and an Xvfb
    display, all started inside the namespace."""

    def __init__(self):
        subprocess.run([str(SESSION), "start", str(WINE_STATE)], check=True, stdout=subprocess.DEVNULL)
        self.env = session_environment(WINE_STATE)
        self.prefix = Path(self.env["WINEPREFIX"])
        self.drive_c = self.prefix / "drive_c"
        shutil.copy2(PROCESS_FIGURES, self.drive_c / PROCESS_FIGURES.name)

    def stop(self):
        subprocess.run([str(SESSION), "stop", str(WINE_STATE)], check=False, stdout=subprocess.DEVNULL)

    def process_figures(self, program):
        """What Windows says of a running program of the prefix: handles,
        threads, address space and memory (tests/windows/process_figures.cpp)."""
        result = subprocess.run(["wine", "C:\\" + PROCESS_FIGURES.name, program], env=self.env, capture_output=True,
                                timeout=60, stdin=subprocess.DEVNULL)
        assert result.returncode == 0, "process_figures.exe: %r" % result
        return json.loads(result.stdout)


class Server:
    """One resource server process: native, or the Windows build under Wine.
    It runs in folder, so its cache is folder/wz_cdn/cdn."""

    def __init__(self, kind, folder, wine=None):
        self.kind = kind
        self.folder = Path(folder)
        self.cache = self.folder / "wz_cdn" / "cdn"
        self.wine = wine
        self.process = None
        self.output = self.folder.parent / (self.folder.name + ".out")

    @property
    def pid(self):
        return self.process.pid

    def start(self, timeout=60):
        self.folder.mkdir(parents=True, exist_ok=True)
        if self.kind == "native":
            cmd, env = [str(NATIVE_SERVER)], None
        else:
            shutil.copy2(WINDOWS_SERVER, self.folder / WINDOWS_SERVER.name)
            cmd, env = ["wine", WINDOWS_SERVER.name], self.wine.env
        with open(self.output, "ab") as out:
            self.process = subprocess.Popen(cmd, cwd=self.folder, env=env, stdin=subprocess.PIPE, stdout=out,
                                            stderr=subprocess.STDOUT, close_fds=True)
        started = wait_until(lambda: self.process.poll() is not None or port_accepts(SERVER_PORT), timeout)
        assert started, "%s server did not listen within %d s" % (self.kind, timeout)
        assert self.process.poll() is None, "%s server exited: %s" % (self.kind, self.output_text())
        return self

    def settle(self, timeout=90):
        """Waits until the cache folder is at rest, as the server tells when
        asked on its standard input: no fetch or store in progress, and no
        count or eviction of its account running or wanted. A test that
        looks into the folder after stores asks first, since evictions and
        the files' final names come after the answers."""
        def answers():
            return re.findall(r"^cache (settled|busy)\r?$", self.output.read_text(errors="replace"), re.M)

        asked = len(answers())
        self.process.stdin.write(b"settle\n")
        self.process.stdin.flush()
        assert wait_until(lambda: len(answers()) > asked, timeout), "no answer to settle: " + self.output_text()
        assert answers()[asked] == "settled", "the cache folder did not come to rest: " + self.output_text()

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def windows_figures(self):
        """Under Wine, what Windows says of the process (handles, threads,
        address space, memory)."""
        return self.wine.process_figures(WINDOWS_SERVER.name)

    def cache_limit(self):
        """The bound the server keeps its cache within, as it said at start."""
        match = re.search(r"limit (\d+) bytes", self.output.read_text(errors="replace"))
        assert match, "the server did not say its cache limit: " + self.output_text()
        return int(match.group(1))

    def output_text(self):
        try:
            return self.output.read_text(errors="replace")[-2000:]
        except OSError:
            return ""

    def stats(self):
        try:
            threads, fds, rss = process_stats(self.pid)
        except (OSError, AttributeError):
            raise ServerEnded("the %s server has ended: %s" % (self.kind, self.output_text())) from None
        wineserver = None
        if self.kind == "wine":
            ws = wineserver_pid(self.wine.prefix)
            wineserver = len(os.listdir("/proc/%d/fd" % ws)) if ws else None
        return Stats(threads, fds, rss, socket_counts(self.pid), wineserver)

    # Wine's HTTP client keeps idle upstream connections for about a minute,
    # and a thread that closes them, which ends with the last of them. With
    # drained=True the idle and settled figures are read once that pool has
    # emptied, so that both are taken in the same state whatever the time
    # between them.
    POOL_TIMEOUT = 150

    def pool_empty(self, stats, drained):
        return not drained or self.kind != "wine" or stats.sockets["other"] == 0

    def idle(self, timeout=30, drained=False):
        """Stats once no accepted connection is left (with drained, nor any
        pooled upstream connection under Wine) and the thread and descriptor
        counts have stayed the same for a second."""
        seen = []

        def steady():
            now = self.stats()
            key = (now.threads, now.fds_but_upstream, now.sockets["accepted"], self.pool_empty(now, drained))
            seen.append((key, now))
            recent = [k for k, _ in seen[-6:]]
            return len(recent) == 6 and len(set(recent)) == 1 and key[2] == 0 and key[3]

        wait_until(steady, timeout + (self.POOL_TIMEOUT if drained else 0), 0.2)
        return seen[-1][1]

    def settled_like(self, idle, timeout=30, drained=False):
        """Waits until no accepted connection is left and the thread and
        descriptor counts are back at idle's (upstream sockets that a
        Windows HTTP client keeps for reuse aside, unless drained asks for
        its pool to have emptied); returns the last stats."""
        last = [None]

        def back():
            now = last[0] = self.stats()
            same = (now.sockets["accepted"] == 0 and now.threads == idle.threads
                    and now.fds_but_upstream == idle.fds_but_upstream and self.pool_empty(now, drained))
            if now.wineserver_fds is not None and idle.wineserver_fds is not None:
                same = same and (now.wineserver_fds - now.sockets["other"]
                                 == idle.wineserver_fds - idle.sockets["other"])
            return same

        wait_until(back, timeout + (self.POOL_TIMEOUT if drained else 0), 0.2)
        return last[0]

    def stop(self):
        if not self.alive():
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(30)
            self.process.stdin.close()
        except subprocess.TimeoutExpired:
            self.kill()

    def kill(self):
        if self.alive():
            self.process.kill()
        self.process.wait(30)
        self.process.stdin.close()
        if self.kind == "wine":
            # The wineserver closes the dead process's sockets when it notices.
            wait_until(lambda: not port_accepts(SERVER_PORT), 10)


# Cache checks -------------------------------------------------------------

def origin_body(path):
    """The body the test origin sends for /len/<n>, /delay/<ms>/<n> (query
    ignored) or /notfound."""
    route = path.split("?", 1)[0]
    if route == "/notfound":
        return NOT_FOUND_HTML
    m = re.fullmatch(r"/len/(\d+)|/delay/\d+/(\d+)", route)
    assert m, "no known body for %r" % path
    return pattern(int(m.group(1) or m.group(2)))


def folder_bytes(folder):
    """The bytes of the files directly in folder (see Server.settle)."""
    return sum(entry.stat().st_size for entry in Path(folder).iterdir() if entry.is_file())


def cache_entries(cache):
    return sorted(os.listdir(cache)) if os.path.isdir(cache) else []


def unsound_cache_entries(cache, paths):
    """Entries of the cache folder that are wrong: not named by the MD5 of a
    requested path, or holding anything but the origin's body for it. A file
    removed between the listing and its reading (an eviction, a restarted
    server removing a temporary file) is not wrong: whatever is read is."""
    by_name = {md5_hex(p): p for p in paths}
    wrong = []
    for name in cache_entries(cache):
        path = by_name.get(name)
        if path is None:
            wrong.append("%s: not the name of a requested path" % name)
            continue
        try:
            data = (Path(cache) / name).read_bytes()
        except FileNotFoundError:
            continue
        if data != origin_body(path):
            wrong.append("%s (%s): %d bytes that differ from the origin's body" % (name, path, len(data)))
    return wrong


# Fixtures -----------------------------------------------------------------

@pytest.fixture(scope="session")
def wine_session():
    if not WINDOWS_SERVER.exists():
        pytest.fail("%s is missing: build the windows preset first" % WINDOWS_SERVER)
    session = WineSession()
    yield session
    session.stop()


@pytest.fixture(params=["native", "wine"])
def kind(request):
    return request.param


@pytest.fixture
def origin(kind, tmp_path):
    o = Origin(ORIGIN_PORT[kind], tmp_path / "origin")
    yield o
    o.stop()


@pytest.fixture
def make_server(kind, tmp_path, request):
    """Makes servers of the test's kind in new folders (under the Wine
    prefix's drive C for the Windows build); all stop at the end of the test."""
    if kind == "native" and not NATIVE_SERVER.exists():
        pytest.fail("%s is missing: build the native preset first" % NATIVE_SERVER)
    wine = request.getfixturevalue("wine_session") if kind == "wine" else None
    made = []

    def make(folder=None):
        if folder is None:
            name = "server-" + uuid.uuid4().hex[:8]
            folder = wine.drive_c / name if wine else tmp_path / name
        server = Server(kind, folder, wine)
        made.append(server)
        return server

    yield make
    for server in made:
        server.stop()
    if wine:
        for server in made:
            shutil.rmtree(server.folder, ignore_errors=True)
            if server.output.exists():
                server.output.unlink()


@pytest.fixture
def server(make_server, origin):
    """A started server of the test's kind with its origin."""
    return make_server().start()


@pytest.fixture
def mount_tmpfs():
    """Mounts tmpfs file systems for one test and unmounts them afterwards.
    Refuses unless this process has a mount namespace of its own, so that no
    mount is seen outside it."""
    outer = os.environ.get("QUILLET_LOAD_OUTER_NAMESPACES", "").split()
    assert outer and os.readlink("/proc/self/ns/mnt") != outer[-1], \
        "not in a private mount namespace: run through tests/load/run"
    mounted = []

    def mount(path, options):
        os.makedirs(path, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", str(path)], check=True)
        mounted.append(path)

    yield mount
    for path in reversed(mounted):
        subprocess.run(["umount", "-l", str(path)], check=False)
