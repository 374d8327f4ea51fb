"""The Windows build's resource server under Wine, reached from Linux with
curl: it answers on 127.0.0.1:12315 only and keeps its cache under its
working directory."""
import hashlib
import subprocess

import pytest

from conftest import BUILD, wait_until

SERVER = BUILD / "bin" / "quillet-resource-server.exe"


def curl(url, *options):
    return subprocess.run(["curl", "-s", "--max-time", "20", *options, url], capture_output=True, timeout=30)


@pytest.fixture
def server(prefix, origin):
    folder = prefix.drive_c / "Server"
    folder.mkdir()
    process = prefix.start(str(SERVER), cwd=folder)
    assert wait_until(lambda: curl("http://127.0.0.1:12315/").returncode == 0, 30), "server did not answer"
    yield folder
    process.kill()
    process.wait(timeout=30)


def test_serves_curl_and_caches_under_its_working_directory(server, origin):
    response = curl("http://127.0.0.1:12315/len/5000", "-i")
    head, body = response.stdout.split(b"\r\n\r\n", 1)
    assert head.startswith(b"HTTP/1.0 200 OK\r\n")
    assert b"\r\nContent-Length: 5000\r\n" in head
    assert body == bytes((i * 31 + 7) & 0xFF for i in range(5000))
    # The file takes its name once its bytes are on the disk, just after
    # the answer.
    cached = server / "wz_cdn" / "cdn" / hashlib.md5(b"/len/5000").hexdigest()
    assert wait_until(cached.exists, 10)
    assert cached.read_bytes() == body
    assert origin.count("/len/5000") == 1
    assert curl("http://127.0.0.1:12315/len/5000").stdout == body
    assert origin.count("/len/5000") == 1


def test_refuses_other_local_addresses(server):
    assert curl("http://127.0.0.2:12315/len/1").returncode == 7   # connection refused
    assert curl("http://127.0.0.1:12315/len/1").returncode == 0
