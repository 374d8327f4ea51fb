"""End-to-end fixtures: the real Quillet.exe under Wine, each case in a fresh
32-bit prefix of its own (drive C only) on one Xvfb display per test run.

A failing case leaves what it saw under build/e2e/failures/<case>/: a
screenshot of the display, Wine's output of every program it ran and the
requests the origin answered."""
import shutil
import subprocess
import sys
import urllib.request
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "windows"
PROGRAM = BUILD / "bin" / "Quillet.exe"
SESSION = ROOT / "scripts" / "wine-session"
STATE = ROOT / "build" / "e2e" / "session"
FAILURES = ROOT / "build" / "e2e" / "failures"
ORIGIN_SCRIPT = ROOT / "tests" / "tools" / "test_origin.py"
# The windows preset's update, upstream and site hosts are all the test
# origin on this port.
ORIGIN_PORT = 18302
HELPERS = BUILD / "bin"

sys.path.insert(0, str(ROOT / "tests" / "tools"))
from waiting import wait_until  # noqa: E402,F401
from wine_environment import session_environment  # noqa: E402


class WinePrefix:
    """One prefix: its drives, its files and the programs run in it."""

    def __init__(self, path, log):
        self.path = Path(path)
        # The session's Wine on this prefix; Wine's errors and the program's
        # debug output go to the case's log.
        self.env = session_environment(STATE, WINEPREFIX=str(self.path), WINEDEBUG="fixme-all,+debugstr")
        self.log_path = Path(log)
        self.log = open(self.log_path, "ab")

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def desktop(self):
        users = [u for u in (self.drive_c / "users").iterdir() if u.name != "Public"]
        return users[0] / "Desktop"

    def map_drive(self, letter, folder):
        """Maps a drive letter to a Linux folder; Wine reports it as a fixed drive."""
        Path(folder).mkdir(parents=True, exist_ok=True)
        link = self.path / "dosdevices" / f"{letter.lower()}:"
        if link.is_symlink():
            link.unlink()
        link.symlink_to(Path(folder).resolve())

    def install(self, folder="Quillet", program=PROGRAM):
        """Copies the program to C:\\<folder>\\Quillet.exe; returns the Linux folder."""
        target = self.drive_c / folder
        target.mkdir(parents=True, exist_ok=True)
        shutil.copy2(program, target / "Quillet.exe")
        return target

    def start(self, windows_path, args=(), cwd=None):
        """Starts a Windows program; returns its process."""
        return subprocess.Popen(["wine", windows_path, *args], cwd=cwd, env=self.env, stdin=subprocess.DEVNULL,
                                stdout=self.log, stderr=self.log, close_fds=True)

    def run(self, windows_path, args=(), cwd=None, timeout=60):
        """Runs a Windows program and waits for it; returns its exit code."""
        result = subprocess.run(["wine", windows_path, *args], cwd=cwd, env=self.env, stdin=subprocess.DEVNULL,
                                stdout=self.log, stderr=self.log, timeout=timeout, close_fds=True)
        return result.returncode

    def run_and_quit(self, windows_path, cwd=None, timeout=90):
        """Starts the program, ends the game it shows through its Exit command
        and confirmation (quit_quillet.exe), and waits for every program of
        the prefix. Returns the program's exit code and the helper's."""
        shutil.copy2(HELPERS / "quit_quillet.exe", self.drive_c / "quit_quillet.exe")
        program = self.start(windows_path, cwd=cwd)
        try:
            quit_code = self.run("C:\\quit_quillet.exe", ["60"], timeout=timeout)
            code = program.wait(timeout=timeout)
        finally:
            if program.poll() is None:
                program.kill()
        self.wait_all()
        return code, quit_code

    def wait_all(self, timeout=60):
        """Waits until every program of the prefix has ended."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout, check=False)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=30, check=False)
        self.log.close()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Keeps each phase's outcome on the case, for the fixtures' teardown."""
    outcome = yield
    report = outcome.get_result()
    setattr(item, "report_" + report.when, report)


def failed(request):
    report = getattr(request.node, "report_call", None)
    return report is not None and report.failed


def failure_folder(request):
    folder = FAILURES / request.node.name
    folder.mkdir(parents=True, exist_ok=True)
    return folder


@pytest.fixture(scope="session", autouse=True)
def fresh_failures():
    """Only the failures of this run are kept."""
    shutil.rmtree(FAILURES, ignore_errors=True)


@pytest.fixture(scope="session")
def display():
    """An Xvfb display and a template prefix for the whole run."""
    if not PROGRAM.exists():
        pytest.fail(f"{PROGRAM} is missing: build the windows preset first")
    subprocess.run([str(SESSION), "start", str(STATE)], check=True, stdout=subprocess.DEVNULL)
    display = (STATE / "display").read_text().strip()
    yield display
    subprocess.run([str(SESSION), "stop", str(STATE)], check=False)


@pytest.fixture
def prefix(display, tmp_path, request):
    """A fresh prefix for one case, copied from the template, ended afterwards."""
    path = tmp_path / "prefix"
    subprocess.run([str(SESSION), "prefix", str(STATE), str(path)], check=True)
    wine_prefix = WinePrefix(path, tmp_path / "wine.log")
    yield wine_prefix
    if failed(request):
        folder = failure_folder(request)
        # The screen as the case left it, before its programs are ended.
        subprocess.run(["import", "-display", display, "-window", "root", str(folder / "screen.png")],
                       check=False, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wine_prefix.stop()
    if failed(request):
        shutil.copy2(wine_prefix.log_path, failure_folder(request) / "wine.log")


def event_log(folder):
    """The events of the program's log in folder ("Quillet.log"), each
    without its time and process id; [] when there is no log."""
    path = Path(folder) / "Quillet.log"
    if not path.exists():
        return []
    lines = path.read_bytes().decode("utf-8", errors="replace").split("\r\n")
    return [line.split("] ", 1)[1] for line in lines if "] " in line]


class Origin:
    """The loopback test origin playing the update CDN, the resource CDN and
    the site; files under root are served by their path. A case may stop it
    to put another peer on its port, and start it again."""

    def __init__(self, root, port, state):
        self.root = Path(root)
        self.port = port
        self.state = Path(state)
        self.base = f"http://127.0.0.1:{port}"

    def start(self):
        subprocess.run([sys.executable, str(ORIGIN_SCRIPT), "start", "--state", str(self.state), "--port",
                        str(self.port), "--root", str(self.root)], check=True, stdout=subprocess.DEVNULL)

    def stop(self):
        subprocess.run([sys.executable, str(ORIGIN_SCRIPT), "stop", "--state", str(self.state)], check=False,
                       stdout=subprocess.DEVNULL)

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=20) as response:
            return response.read()

    def count(self, path):
        return int(self.get(f"/__count?path={path}"))

    def put(self, path, data):
        """Places a file the origin serves at path."""
        target = self.root / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data if isinstance(data, bytes) else data.encode())
        return target


@pytest.fixture
def origin(tmp_path, request):
    state = tmp_path / "origin"
    root = tmp_path / "origin-files"
    root.mkdir()
    served = Origin(root, ORIGIN_PORT, state)
    served.start()
    yield served
    if failed(request) and (state / "requests.jsonl").exists():
        shutil.copy2(state / "requests.jsonl", failure_folder(request) / "origin-requests.jsonl")
    served.stop()
