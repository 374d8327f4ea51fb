"""Self-update of the real program under Wine: the version file on the
update CDN, the verified download, the file swap and the relaunch."""
import hashlib
import shutil
import socket
import subprocess
import threading
import time

import pytest

from conftest import HELPERS, PROGRAM, STATE, WinePrefix, event_log, wait_until
from pe_image import Image
from signing_pki import SigningPki

VERSION_PATH = "/weiduan/Zelmic/ver.txt"
NEW_PATH = "/weiduan/Zelmic/Quillet_new.exe"


@pytest.fixture(scope="module")
def new_program(display):
    """A real copy of the build whose built-in version is 1.0.4, patched in
    the run's template prefix."""
    template = WinePrefix(STATE / "prefix", STATE / "template.log")
    folder = template.drive_c / "set-version"
    folder.mkdir(exist_ok=True)
    shutil.copy2(PROGRAM, folder / "Quillet.exe")
    shutil.copy2(HELPERS / "set_version.exe", folder / "set_version.exe")
    assert template.run("C:\\set-version\\set_version.exe", ["C:\\set-version\\Quillet.exe", "1.0.4"]) == 0
    data = (folder / "Quillet.exe").read_bytes()
    shutil.rmtree(folder)
    assert data != PROGRAM.read_bytes()
    return data


def advertise(origin, version, md5, exe="Quillet_new.exe", line_end="\n"):
    origin.put(VERSION_PATH, line_end.join([f"version={version}", f"md5={md5}", f"exe={exe}", ""]))


def start(prefix):
    """Runs the program until the game it ends up showing is ended: its own
    after no update, the relaunched program's after an update."""
    folder = prefix.install()
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    return folder


@pytest.mark.parametrize("version", ["1.0.5", "1.0.50", "1.0.5 "])
def test_same_version_downloads_nothing(prefix, origin, new_program, version):
    origin.put(NEW_PATH, new_program)
    advertise(origin, version, hashlib.md5(new_program).hexdigest())
    folder = start(prefix)
    assert origin.count(VERSION_PATH) == 1
    assert origin.count(NEW_PATH) == 0
    assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    # A healthy start, told in the log from start to exit.
    events = event_log(folder)
    assert events[0] == 'start: Quillet 1.0.5, folder C:\\Quillet, arguments ""', events
    assert 'update: version "%s" advertised, 1.0.5 running: no update' % version in events, events
    assert any(e.startswith("server: listening on 127.0.0.1:12315 in ") for e in events), events
    assert any(e.startswith("cache: 0 files, 0 bytes in C:\\Quillet\\wz_cdn\\cdn\\") for e in events), events
    assert events[-1] == "exit", events


@pytest.mark.parametrize("case", ["lower", "upper", "crlf"])
def test_other_version_is_installed_and_relaunched(prefix, origin, new_program, case):
    origin.put(NEW_PATH, new_program)
    md5 = hashlib.md5(new_program).hexdigest()
    advertise(origin, "1.0.4", md5.upper() if case == "upper" else md5,
              line_end="\r\n" if case == "crlf" else "\n")
    folder = start(prefix)
    assert (folder / "Quillet.exe").read_bytes() == new_program
    assert not (folder / "Quillet.exe.old").exists(), "the relaunched program removes the old file"
    assert not (folder / "Quillet.exe.tmp").exists()
    assert origin.count(NEW_PATH) == 1
    assert origin.count(VERSION_PATH) == 1, "the relaunched program never asks for the version file"


@pytest.mark.parametrize("served", ["wrong-md5", "cut", "no-length"])
def test_broken_download_leaves_the_program_untouched(prefix, origin, new_program, served):
    md5 = hashlib.md5(new_program).hexdigest()
    if served == "wrong-md5":
        broken = bytearray(new_program)
        broken[len(broken) // 2] ^= 1
        origin.put(NEW_PATH, bytes(broken))
        exe = "Quillet_new.exe"
    elif served == "cut":
        exe = f"../../cut/{len(new_program)}/{len(new_program) // 2}"
    else:
        exe = f"../../chunked/{len(new_program)}"
    advertise(origin, "1.0.4", md5, exe=exe)
    folder = start(prefix)
    assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    assert not (folder / "Quillet.exe.tmp").exists()
    assert not (folder / "Quillet.exe.old").exists()
    # The address's dot segments are resolved by the client: the origin's
    # misbehaving route was reached.
    requested = "/" + exe.replace("../", "") if served != "wrong-md5" else NEW_PATH
    assert origin.count(requested) == 1
    assert "update: the download of http://127.0.0.1:18302/weiduan/Zelmic/%s failed or its MD5 is not %s" % (
        exe, md5) in event_log(folder)


def test_second_process_of_the_folder_never_asks(prefix, origin, new_program):
    origin.put(NEW_PATH, new_program)
    advertise(origin, "1.0.4", hashlib.md5(new_program).hexdigest())
    folder = prefix.install()
    shutil.copy2(HELPERS / "hold_mutex.exe", prefix.drive_c / "hold_mutex.exe")
    holder = prefix.start("C:\\hold_mutex.exe", ["C__Quillet", "8000", "C:\\held"])
    try:
        assert wait_until(lambda: (prefix.drive_c / "held").exists(), 30)
        assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
        assert origin.count(VERSION_PATH) == 0
        assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    finally:
        holder.kill()
        holder.wait(timeout=30)


def test_old_file_that_stays_stops_the_swap(prefix, origin, new_program):
    origin.put(NEW_PATH, new_program)
    advertise(origin, "1.0.4", hashlib.md5(new_program).hexdigest())
    folder = prefix.install()
    # A folder of that name cannot be deleted as a file, nor moved over.
    (folder / "Quillet.exe.old").mkdir()
    (folder / "Quillet.exe.old" / "keep").write_text("x")
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    assert (folder / "Quillet.exe.tmp").read_bytes() == new_program, "kept for a later start"


class BadCdn:
    """A peer on the update CDN's port (the test origin stopped) that does
    one thing wrong: "refuses" (nothing listens), "silent" (accepts and never
    answers), "firewalled" (every SYN dropped: a listener whose accept queue
    is full and never accepted from) or "trickles" (answers the version file
    with a length of 60 and a byte every 5 s)."""

    def __init__(self, behaviour, port):
        self.behaviour = behaviour
        self.sockets = []
        self.stopping = threading.Event()
        if behaviour == "refuses":
            return
        listener = self.held(socket.socket())
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        if behaviour == "firewalled":
            # A backlog of 0 queues one connection; with it never accepted,
            # Linux drops every later SYN and the client keeps retrying.
            listener.listen(0)
            for _ in range(2):
                filler = self.held(socket.socket())
                filler.setblocking(False)
                filler.connect_ex(("127.0.0.1", port))
            return
        listener.listen(64)
        threading.Thread(target=self.accept, args=(listener,), daemon=True).start()

    def held(self, sock):
        self.sockets.append(sock)
        return sock

    def accept(self, listener):
        while not self.stopping.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            self.held(conn)
            if self.behaviour == "trickles":
                threading.Thread(target=self.trickle, args=(conn,), daemon=True).start()

    def trickle(self, conn):
        try:
            conn.recv(65536)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n")
            while not self.stopping.wait(5):
                conn.sendall(b"v")
        except OSError:
            pass

    def stop(self):
        self.stopping.set()
        for sock in self.sockets:
            # A shutdown wakes a thread blocked in accept or recv, whose call
            # would otherwise keep the socket, and the port, alive.
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()


def answers_locally():
    """Whether the program's local server answers a request it serves
    without the upstream (a target without "/" is never fetched)."""
    try:
        with socket.create_connection(("127.0.0.1", 12315), timeout=5) as sock:
            sock.sendall(b"GET x HTTP/1.0\r\n\r\n")
            return sock.recv(64).startswith(b"HTTP/1.0 200")
    except OSError:
        return False


def start_up_seconds(prefix, folder):
    """Starts the program and times it until its local server answers; then
    ends every program of the prefix."""
    started = time.monotonic()
    program = prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)
    try:
        assert wait_until(answers_locally, 240, 0.1), "the local server never answered"
        return time.monotonic() - started
    finally:
        subprocess.run(["wineserver", "-k"], env=prefix.env, timeout=30, check=False)
        program.wait(timeout=30)
        prefix.wait_all()


# What an update CDN that misbehaves may add to the start: the version file
# has 10 s to arrive whole. The margin covers the spread of Wine's starts.
UPDATE_DEADLINE_SECONDS = 10
START_SPREAD_SECONDS = 5


def test_start_up_waits_for_the_update_cdn_only_so_long(prefix, origin, new_program):
    """One healthy start, then each fault of the update CDN: the local
    server answers within the version file's deadline of the healthy start,
    and the next start with a healthy CDN installs the update."""
    advertise(origin, "1.0.5", hashlib.md5(PROGRAM.read_bytes()).hexdigest())
    folder = prefix.install()
    healthy = start_up_seconds(prefix, folder)
    figures = {"answers": healthy}
    origin.put(NEW_PATH, new_program)
    advertise(origin, "1.0.4", hashlib.md5(new_program).hexdigest())
    for behaviour in ["refuses", "silent", "firewalled", "trickles"]:
        folder = prefix.install()
        origin.stop()
        cdn = BadCdn(behaviour, origin.port)
        try:
            figures[behaviour] = start_up_seconds(prefix, folder)
        finally:
            cdn.stop()
            origin.start()
        assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes(), behaviour
        assert start(prefix) == folder
        assert (folder / "Quillet.exe").read_bytes() == new_program, "%s: the next start installs it" % behaviour
    print("\nstart-up until the local server answers: " + ", ".join("%s %.1f s" % f for f in figures.items()))
    late = {b: t for b, t in figures.items() if t > healthy + UPDATE_DEADLINE_SECONDS + START_SPREAD_SECONDS}
    assert late == {}, figures


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    with SigningPki(tmp_path_factory.mktemp("pki")) as made:
        yield made


# The build the tiers run is 1.0.5. Each served update: how it is made from
# the unsigned build of a version, the version the version file advertises
# (another than the running program's, so it is downloaded), and the start
# of what the log says of it: None when it is installed.
SIGNED_UPDATES = {
    "newer": ((1, 0, 6), "a", "1.0.6", None),
    "older": ((1, 0, 4), "a", "1.0.4", "update: refused: not newer than the running program"),
    "unsigned": ((1, 0, 6), None, "1.0.6", "update: refused: no embedded signature"),
    "other-publisher": ((1, 0, 6), "b", "1.0.6", "update: refused: its chain fails"),
}


@pytest.mark.parametrize("update", list(SIGNED_UPDATES))
def test_signed_program_installs_only_what_its_publisher_signed(prefix, origin, pki, tmp_path, update):
    # The prefix trusts the test PKI's roots and its time-stamping
    # authority's, and nothing else does.
    shutil.copy2(HELPERS / "trust_root.exe", prefix.drive_c / "trust_root.exe")
    for name, der in pki.trusted_roots.items():
        (prefix.drive_c / name).write_bytes(der)
        assert prefix.run("C:\\trust_root.exe", ["C:\\" + name]) == 0, name
    # The release as it ships: signed by A, with a timestamp.
    running = tmp_path / "Quillet.exe"
    running.write_bytes(pki.sign(PROGRAM.read_bytes(), "a", timestamp=True))
    version, signer, advertised, refusal = SIGNED_UPDATES[update]
    build = Image(PROGRAM.read_bytes()).with_version(version)
    served = pki.sign(build, signer) if signer else build
    origin.put(NEW_PATH, served)
    advertise(origin, advertised, hashlib.md5(served).hexdigest())
    folder = prefix.install(program=running)
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    assert origin.count(NEW_PATH) == 1
    assert origin.count(VERSION_PATH) == 1, "a relaunched program never asks for the version file"
    assert (folder / "Quillet.exe").read_bytes() == (running.read_bytes() if refusal else served)
    events = event_log(folder)
    verdicts = [e for e in events if e.startswith(("update: refused: ", "update: accepted: "))]
    assert len(verdicts) == 1 and verdicts[0].startswith(refusal or "update: accepted: "), events
    assert not (folder / "Quillet.exe.tmp").exists()
    assert not (folder / "Quillet.exe.old").exists()
