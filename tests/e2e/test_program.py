"""The whole program under Wine: its local server while the game runs, and
the hand-over from the launcher to the game window."""
import hashlib
import shutil
import subprocess

from conftest import HELPERS, wait_until

# The windows test build opens this play address in its launcher.
PLAY_PATH = "/full/play_gamecode/?client=1&sid=test"
GAME_URL_ADDITION = "&clientlogintype=1&remark=http://127.0.0.1:12315/wz_cdn/cdn/"


def curl(url):
    return subprocess.run(["curl", "-s", "--max-time", "20", url], capture_output=True, timeout=30)


def test_serves_resources_while_the_game_runs(prefix, origin):
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")
    program = subprocess.Popen(["wine", "C:\\Quillet\\Quillet.exe"], cwd=folder, env=prefix.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert wait_until(lambda: curl("http://127.0.0.1:12315/len/1").returncode == 0, 60)
        data = curl("http://127.0.0.1:12315/len/3000").stdout
        assert data == bytes((i * 31 + 7) & 0xFF for i in range(3000))
        cached = folder / "wz_cdn" / "cdn" / hashlib.md5(b"/len/3000").hexdigest()
        assert cached.read_bytes() == data
        assert curl("http://127.0.0.2:12315/len/1").returncode == 7, "other local addresses are refused"
    finally:
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert program.wait(timeout=60) == 0
        prefix.wait_all()


def test_launcher_hands_the_play_address_to_the_game_window(prefix, origin):
    folder = prefix.install()
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    log = origin.get("/__log").decode()
    assert PLAY_PATH in log, "the launcher's browser asked for the play page"
    assert origin.count("/full/play_gamecode/") >= 1
    assert PLAY_PATH + GAME_URL_ADDITION in log, "the game window navigated to the composed game address"


def test_second_process_of_the_folder_runs_without_update_check_or_server(prefix, origin):
    folder = prefix.install()
    shutil.copy2(HELPERS / "quit_quillet.exe", prefix.drive_c / "quit_quillet.exe")

    def start():
        return subprocess.Popen(["wine", "C:\\Quillet\\Quillet.exe"], cwd=folder, env=prefix.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    first = start()
    second = None
    try:
        assert wait_until(lambda: curl("http://127.0.0.1:12315/len/1").returncode == 0, 60)
        assert origin.count("/weiduan/Zelmic/ver.txt") == 1
        second = start()
        # Both games run at once before either is ended.
        assert prefix.run("C:\\quit_quillet.exe", ["--wait", "2", "60"]) == 0
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert prefix.run("C:\\quit_quillet.exe", ["60"]) == 0
        assert first.wait(timeout=60) == 0
        assert second.wait(timeout=60) == 0
        assert origin.count("/weiduan/Zelmic/ver.txt") == 1, "only the first process checks for an update"
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
        program = subprocess.Popen(["wine", "C:\\Quillet\\Quillet.exe"], cwd=folder, env=prefix.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            assert wait_until(lambda: curl("http://127.0.0.1:12315/len/1").returncode == 0, 60)
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
