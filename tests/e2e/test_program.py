"""The whole program under Wine: its local server while the game runs, the
hand-over from the launcher to the game window, the F9 hotkey pressed on the
X server, two processes of one folder, and the cache across runs."""
import hashlib
import os
import shutil
import subprocess
import time

import pytest

from conftest import HELPERS, event_log, wait_until

# The windows test build opens this play address in its launcher.
PLAY_PATH = "/full/play_gamecode/?client=1&sid=test"
GAME_URL_ADDITION = "&clientlogintype=1&remark=http://127.0.0.1:12315/wz_cdn/cdn/"


def curl(url):
    return subprocess.run(["curl", "-s", "--max-time", "20", url], capture_output=True, timeout=30)


def serving():
    return curl("http://127.0.0.1:12315/len/1").returncode == 0


def visible_windows(title, display):
    """The X windows of that title that are mapped on the display."""
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], capture_output=True,
                            text=True, env=dict(os.environ, DISPLAY=display), timeout=30)
    return result.stdout.split()


def press_on(window, key, display):
    """A real key press through the X server while that X window has the
    keyboard focus. Wine passes key presses to its hotkeys only while one of
    its own windows has the X focus (on Windows a hotkey works whatever has
    the focus); where the focus goes once the game window is hidden depends
    on Wine's choice of the next active window, and is sometimes no Wine
    window at all, so the test puts it where the key must arrive."""
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=True, timeout=30)
    subprocess.run(["xdotool", "key", key], env=env, check=True, timeout=30)


def test_serves_resources_while_the_game_runs_and_exit_ends_it_at_once(prefix, origin):
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    program = prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)
    stalled = None
    try:
        assert wait_until(serving, 60)
        data = curl("http://127.0.0.1:12315/len/3000").stdout
        assert data == bytes((i * 31 + 7) & 0xFF for i in range(3000))
        # Stored once its bytes are on the disk, just after the answer.
        cached = folder / "wz_cdn" / "cdn" / hashlib.md5(b"/len/3000").hexdigest()
        assert wait_until(cached.exists, 10)
        assert cached.read_bytes() == data
        assert curl("http://127.0.0.2:12315/len/1").returncode == 7, "other local addresses are refused"
        # A failed fetch is a line of the log, its query left out.
        assert curl("http://127.0.0.1:12315/status/500/10?code=secret").returncode == 0
        failed = "fetch failed: /status/500/10: answered, status 500"
        assert wait_until(lambda: failed in event_log(folder), 10), event_log(folder)
        assert "secret" not in (folder / "Quillet.log").read_text(encoding="utf-8")

        # A fetch that the upstream holds for a minute is in flight when the
        # player confirms Exit: the process ends all the same, at once.
        stall = "/stall/50000/1000/60"
        stalled = subprocess.Popen(["curl", "-s", "--max-time", "90", "http://127.0.0.1:12315" + stall],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_until(lambda: origin.count(stall) == 1, 20), "the stalled fetch never reached the upstream"
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        confirmed = time.monotonic()
        assert program.wait(timeout=60) == 0
        assert time.monotonic() - confirmed < 2, "the process outlived its Exit by %.1f s" % (
            time.monotonic() - confirmed)
    finally:
        if program.poll() is None:
            prefix.run("C:\\quit_quillet.exe", ["60"])
            program.wait(timeout=90)
        if stalled:
            stalled.kill()
            stalled.wait()
        prefix.wait_all()


def test_launcher_hands_the_play_address_to_the_game_window(prefix, origin):
    folder = prefix.install()
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    log = origin.get("/__log").decode()
    assert PLAY_PATH in log, "the launcher's browser asked for the play page"
    assert origin.count("/full/play_gamecode/") >= 1
    assert PLAY_PATH + GAME_URL_ADDITION in log, "the game window navigated to the composed game address"


def test_f9_hides_and_shows_the_game_window(prefix, origin):
    folder = prefix.install()
    display = prefix.env["DISPLAY"]
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    program = prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)
    try:
        assert prefix.run("C:\\quit_quillet.exe", ["--wait", "1", "60"]) == 0
        game = wait_until(lambda: visible_windows("ZelmicVantorra", display), 30)
        assert game, "the game window is shown"
        # Real key presses through the X server, not posted messages; the
        # hidden game window has no focus to give, Wine's tray window does.
        press_on(game[0], "F9", display)
        assert wait_until(lambda: not visible_windows("ZelmicVantorra", display), 10), "F9 hides the game window"
        tray = visible_windows("Wine System Tray", display)
        assert tray, "the tray icon stays while the game window is hidden"
        press_on(tray[0], "F9", display)
        assert wait_until(lambda: visible_windows("ZelmicVantorra", display), 10), "F9 shows it again"
    finally:
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert program.wait(timeout=60) == 0
        prefix.wait_all()


def test_second_process_of_the_folder_runs_without_update_check_or_server(prefix, origin):
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")

    def start():
        return prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)

    first = start()
    second = None
    try:
        assert wait_until(serving, 60)
        assert origin.count("/weiduan/Zelmic/ver.txt") == 1
        second = start()
        # Both games run at once before either is ended.
        assert prefix.run("C:\\quit_quillet.exe", ["--wait", "2", "60"]) == 0
        assert origin.count("/weiduan/Zelmic/ver.txt") == 1, "only the first process checks for an update"
        # The second process found the port taken and gave up on it: once the
        # first is gone nobody serves, though the second still runs.
        first.kill()
        first.wait(timeout=30)
        assert wait_until(lambda: not serving(), 10)
        assert not wait_until(serving, 3), "the second process took the port over"
        assert second.poll() is None
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert second.wait(timeout=60) == 0
    finally:
        for process in (first, second):
            if process and process.poll() is None:
                process.kill()
        prefix.wait_all()


def test_resource_cache_lasts_across_runs_until_cleared(prefix, origin):
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    expected = bytes((i * 31 + 7) & 0xFF for i in range(2000))

    def run_game(action):
        program = prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)
        try:
            assert wait_until(serving, 60)
            action()
        finally:
            assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
            assert program.wait(timeout=60) == 0
            prefix.wait_all()

    run_game(lambda: curl("http://127.0.0.1:12315/len/2000"))
    assert origin.count("/len/2000") == 1

    def second_run():
        assert curl("http://127.0.0.1:12315/len/2000").stdout == expected
        assert origin.count("/len/2000") == 1, "served from the cache of the first run"
        # "清理缓存" from the main menu empties the cache; the next request goes upstream.
        assert prefix.run("C:\\quit_quillet.exe", ["--clear-cache"]) == 0
        assert list((folder / "wz_cdn" / "cdn").iterdir()) == []
        assert curl("http://127.0.0.1:12315/len/2000").stdout == expected
        assert origin.count("/len/2000") == 2

    run_game(second_run)


# Install folders under two system code pages, 936 (Chinese) and 1252
# (Western European): an ASCII name, one that the code page can write and
# one that it cannot. The cache must work in each. Wine takes the code page
# from LANG; its own cmd shows that the locale took, in the language and
# the code page of the system (its output is in the ANSI/OEM encoding).
CODE_PAGES = {"zh_CN.UTF-8": ("gbk", "当前代码页"), "en_US.UTF-8": ("cp1252", "Active code page")}
INSTALL_FOLDERS = [("zh_CN.UTF-8", "Quillet"), ("zh_CN.UTF-8", "游戏"), ("zh_CN.UTF-8", "게임"),
                   ("en_US.UTF-8", "Quillet"), ("en_US.UTF-8", "Spiele-ü"), ("en_US.UTF-8", "游戏")]


@pytest.mark.parametrize("lang, name", INSTALL_FOLDERS)
def test_cache_works_in_any_install_folder(prefix, origin, lang, name):
    prefix.env.update(LANG=lang, LC_ALL=lang)
    chcp = subprocess.run(["wine", "cmd", "/c", "chcp"], env=prefix.env, capture_output=True, timeout=60,
                          stdin=subprocess.DEVNULL, cwd=prefix.drive_c)
    encoding, said = CODE_PAGES[lang]
    assert said in chcp.stdout.decode(encoding, errors="replace"), "the locale %s did not take: %r" % (lang, chcp)
    folder = prefix.install(name)
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    expected = bytes((i * 31 + 7) & 0xFF for i in range(2500))
    cached = folder / "wz_cdn" / "cdn" / hashlib.md5(b"/len/2500").hexdigest()
    program = prefix.start("C:\\%s\\Quillet.exe" % name, cwd=folder)
    try:
        assert wait_until(serving, 60)
        assert curl("http://127.0.0.1:12315/len/2500").stdout == expected
        assert wait_until(cached.exists, 10), "nothing stored under %s" % name
        assert cached.read_bytes() == expected
        assert curl("http://127.0.0.1:12315/len/2500").stdout == expected
        assert origin.count("/len/2500") == 1, "the second answer came from the disk"
        assert prefix.run("C:\\quit_quillet.exe", ["--clear-cache"]) == 0
        assert list((folder / "wz_cdn" / "cdn").iterdir()) == []
    finally:
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert program.wait(timeout=60) == 0
        prefix.wait_all()


def test_held_port_is_told_in_the_log_and_the_game_window_still_appears(prefix, origin):
    """Another program holds 12315: the windows appear all the same, and
    the log says why the game then loads nothing."""
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    holder_folder = prefix.drive_c / "holder"
    holder_folder.mkdir()
    shutil.copy2(HELPERS / "quillet-resource-server.exe", holder_folder / "quillet-resource-server.exe")
    holder = prefix.start("C:\\holder\\quillet-resource-server.exe", cwd=holder_folder)
    program = None
    try:
        assert wait_until(serving, 60), "the holder never listened"
        started = time.monotonic()
        program = prefix.start("C:\\Quillet\\Quillet.exe", cwd=folder)
        assert wait_until(lambda: visible_windows("ZelmicVantorra", prefix.env["DISPLAY"]), 30)
        print("\nthe game window with the port held: %.1f s" % (time.monotonic() - started))
        refused = [e for e in event_log(folder) if e.startswith("server: not started on 127.0.0.1:12315")]
        assert refused and "the port is taken" in refused[0], event_log(folder)
        print(refused[0])
    finally:
        if program:
            assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
            assert program.wait(timeout=60) == 0
        holder.kill()
        holder.wait(timeout=30)
        prefix.wait_all()


# What the log file is before a start: near its bound (the start rolls it
# over to Quillet.log.1) or read-only (the program runs without it).
@pytest.mark.parametrize("state", ["full", "read-only"])
def test_log_file_that_is_full_or_read_only(prefix, origin, state):
    folder = prefix.install()
    log = folder / "Quillet.log"
    line = ("2026-01-01 00:00:00.000 [1] %s\r\n" % ("x" * 90)).encode()
    earlier = line * ((1 << 20) // len(line) if state == "full" else 1)
    log.write_bytes(earlier)
    if state == "read-only":
        # The tests run as root, whom no permission stops: the file is made
        # immutable, which neither a write nor a rename passes.
        log.chmod(0o444)
        subprocess.run(["chattr", "+i", str(log)], check=True)
    try:
        assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    finally:
        if state == "read-only":
            subprocess.run(["chattr", "-i", str(log)], check=True)
    if state == "full":
        assert (folder / "Quillet.log.1").read_bytes() == earlier
        assert event_log(folder)[0].startswith("start: Quillet 1.0.5")
        assert event_log(folder)[-1] == "exit"
    else:
        assert log.read_bytes() == earlier
        assert not (folder / "Quillet.log.1").exists()
