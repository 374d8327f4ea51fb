"""A real browser as the local server's client: headless Chromium opens the
demo game page, whose resources all arrive through Quillet.exe's server
under Wine; the second load is served from the cache alone."""
import hashlib
import shutil
import subprocess

import pytest

from conftest import HELPERS, ROOT, wait_until

GAME = ROOT / "tools" / "demo_origin" / "game"
RESOURCES = ["level.js", "rules.js", "tile-1.png", "tile-2.png", "tile-3.png", "tile-4.png"]
LOCAL_BASE = "http://127.0.0.1:12315/wz_cdn/cdn/"


def chromium_title(url, profile):
    """Loads url in headless Chromium and gives the page's title after its scripts ran."""
    result = subprocess.run(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         f"--user-data-dir={profile}", "--virtual-time-budget=10000", "--dump-dom", url],
        capture_output=True, text=True, timeout=120)
    dom = result.stdout
    start = dom.find("<title>")
    return dom[start + 7:dom.find("</title>", start)] if start >= 0 else ""


@pytest.fixture
def game_online(prefix, origin):
    """The demo game's files on the origin (as the upstream resource CDN) and
    Quillet.exe running under Wine, serving on 127.0.0.1:12315."""
    for name in RESOURCES:
        origin.put(f"/wz_cdn/cdn/demo/{name}", (GAME / name).read_bytes())
    origin.put("/play/index.html", (GAME / "index.html").read_bytes())
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    program = prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)
    try:
        ready = wait_until(lambda: subprocess.run(["curl", "-s", "--max-time", "1", LOCAL_BASE]).returncode == 0, 60)
        assert ready, "the local server did not answer"
        yield folder
    finally:
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert program.wait(timeout=60) == 0
        prefix.wait_all()


@pytest.mark.skipif(shutil.which("chromium") is None, reason="chromium is not installed")
def test_demo_game_loads_every_resource_through_the_local_server(game_online, origin, tmp_path):
    page = f"{origin.base}/play/index.html?client=1&remark={LOCAL_BASE}"
    assert chromium_title(page, tmp_path / "profile-1") == "Quillet demo: ready"
    for name in RESOURCES:
        assert origin.count(f"/wz_cdn/cdn/demo/{name}") == 1, name
        cached = game_online / "wz_cdn" / "cdn" / hashlib.md5(f"/wz_cdn/cdn/demo/{name}".encode()).hexdigest()
        assert wait_until(cached.exists, 10), name   # stored just after the answer
        assert cached.read_bytes() == (GAME / name).read_bytes(), name

    # A second load, in a fresh browser profile, asks the upstream for nothing.
    assert chromium_title(page, tmp_path / "profile-2") == "Quillet demo: ready"
    for name in RESOURCES:
        assert origin.count(f"/wz_cdn/cdn/demo/{name}") == 1, name
