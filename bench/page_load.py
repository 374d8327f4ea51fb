"""The page-load benchmark: a game's first scene loaded in headless Chromium,
as a player waits for it, through each system that can stand between the
browser and a CDN:

    straight     the browser fetches from the CDN itself
    native       quillet-resource-server (native build), cold and warm
    wine         quillet-resource-server.exe under Wine, cold and warm
    nginx        nginx as a caching reverse proxy (proxy_cache) in front of
                 the CDN, cold and warm
    chromium     the browser's own cache: the CDN sends a year's max-age and
                 the second load in one browser profile is measured

The CDN is bench/cdn_origin.py: each answer begins D ms after its request
and its body goes out at R bytes a second per connection. A cold load asks
for paths no cache has seen (a run id in every query string, which the CDN
ignores and every cache keys on), a warm one for the paths of a cold load
before it. Every row is the median of LOADS loads, each in a fresh browser
profile, and counts what reached the CDN. Every request carries the player's
own "Connection: Keep-Alive" (PLAYER_HEADERS); the warm rows of each server
are measured once more with Chromium's own header, for reference. Every row
but the browser's own cache then makes one load more, watched through the
browser's network events, to show where its time goes (connections,
reuse, time to the header, body, gaps between answers).

Used by bench.py (make bench, or bench.py --only page)."""

import json
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SCENE_COUNT = 300
LOADS = 5
# The CDN's ports: the builds' configured upstreams, and one for the
# browser, nginx's proxy and (with max-age) the browser's own cache.
CDN_PORTS = {"native": 18301, "wine": 18302, "direct": 18420, "max_age": 18421}
PROXY_PORT = 18430
LOCAL_PORT = 12315
NODE_MODULES = Path(os.environ.get("QUILLET_CACHE", Path.home() / ".cache" / "quillet")) / "bench-node" / "node_modules"
SETTINGS = [("D = 40 ms, R = 2 MiB/s per connection", 40, 2 << 20), ("D = 0, R unlimited", 0, 0)]
# The player's browser control asks for keep-alive with exactly this header
# line; Chromium's own is "Connection: keep-alive". Every row sends the
# player's, and each server keeps one row with Chromium's own for reference.
PLAYER_HEADERS = {"Connection": "Keep-Alive"}
CHROMIUM_HEADERS = {}

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>scene</title><link rel="icon" href="data:,"></head>
<body><script>
// Every resource of the scene, fetched as the game's loader does; the time
// since navigation start once the last one has arrived (or failed) is the
// load time.
const run = new URLSearchParams(location.search).get("run") || "";
const paths = %s;
Promise.allSettled(paths.map(p => fetch(p + "?run=" + run).then(r => r.arrayBuffer()))).then(results => {
    const ok = results.filter(r => r.status === "fulfilled");
    window.sceneLoaded = {ms: performance.now(), bytes: ok.reduce((n, r) => n + r.value.byteLength, 0),
                          failed: results.length - ok.length,
                          errors: results.filter(r => r.status === "rejected").slice(0, 3).map(r => String(r.reason))};
});
</script></body></html>
"""


def log(text):
    print(f"bench: {text}", flush=True)


def make_scene(folder):
    """300 resources sized like a 2D game's first scene (fixed seed): most of
    a few KiB, some tens of KiB, a few up to 256 KiB, about 5 MiB in all;
    and the page that loads them. Returns (paths, total bytes)."""
    generator = random.Random(20261209)
    sizes = ([generator.randint(1 << 10, 6 << 10) for _ in range(240)] +
             [generator.randint(16 << 10, 64 << 10) for _ in range(45)] +
             [generator.randint(96 << 10, 256 << 10) for _ in range(15)])
    generator.shuffle(sizes)
    kinds = [".png", ".png", ".png", ".json", ".js", ".mp3", ".jpg"]
    scene = folder / "scene"
    shutil.rmtree(scene, ignore_errors=True)
    (scene / "r").mkdir(parents=True)
    paths = []
    for index, size in enumerate(sizes):
        name = f"r/{index:03d}{kinds[index % len(kinds)]}"
        (scene / name).write_bytes(generator.randbytes(size))
        paths.append(name)
    (scene / "index.html").write_text(PAGE % json.dumps(paths))
    return paths, sum(sizes)


class Cdn:
    """The CDN-like origin, on every port it plays."""

    def __init__(self, folder, delay_ms, rate, ports, max_age=None):
        command = [sys.executable, str(ROOT / "bench" / "cdn_origin.py"), "--root", str(folder),
                   "--delay-ms", str(delay_ms), "--rate", str(rate)]
        for port in ports:
            command += ["--port", str(port)]
        if max_age is not None:
            command += ["--max-age", str(max_age)]
        self.port = ports[0]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: self._get("/__count") is not None, 10):
            raise SystemExit("bench: the CDN origin did not start")

    def _get(self, path):
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}{path}", timeout=5) as answer:
                return answer.read()
        except OSError:
            return None

    def count(self):
        return int(self._get("/__count"))

    def reset(self):
        self._get("/__reset")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)


class ProxyCache:
    """nginx as a caching reverse proxy in front of the CDN, with its cache
    on the same disk: proxy_cache_lock on, 200 answers kept for ever,
    keep-alive connections to the CDN."""

    def __init__(self, work):
        self.folder = work / "nginx-proxy"
        self.process = None

    def start(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        (self.folder / "tmp").mkdir(parents=True)
        config = f"""
user root;
worker_processes 2;
daemon off;
pid {self.folder}/nginx.pid;
error_log {self.folder}/error.log warn;
events {{ worker_connections 4096; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    client_body_temp_path {self.folder}/tmp;
    proxy_temp_path {self.folder}/tmp;
    fastcgi_temp_path {self.folder}/tmp;
    uwsgi_temp_path {self.folder}/tmp;
    scgi_temp_path {self.folder}/tmp;
    proxy_cache_path {self.folder}/cache levels=1:2 keys_zone=scene:16m max_size=16g inactive=3650d
                     use_temp_path=off;
    upstream cdn {{
        server 127.0.0.1:{CDN_PORTS["direct"]};
        keepalive 32;
    }}
    server {{
        listen 127.0.0.1:{PROXY_PORT};
        location / {{
            proxy_pass http://cdn;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_cache scene;
            proxy_cache_lock on;
            proxy_cache_valid 200 3650d;
            proxy_ignore_headers Cache-Control Expires Set-Cookie;
        }}
    }}
}}
"""
        (self.folder / "nginx.conf").write_text(config)
        self.process = subprocess.Popen(["nginx", "-p", str(self.folder), "-c", str(self.folder / "nginx.conf")],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not wait_until(lambda: port_answers(PROXY_PORT), 10):
            raise SystemExit("bench: nginx as a proxy did not start; see " + str(self.folder / "error.log"))

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def wait_until(condition, timeout, interval=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return False


def port_answers(port):
    import socket
    with socket.socket() as probe:
        probe.settimeout(0.5)
        return probe.connect_ex(("127.0.0.1", port)) == 0


def run_plan(plan):
    """Runs the Chromium side of a plan; returns its rows' loads."""
    if not (NODE_MODULES / "playwright-core").is_dir():
        raise SystemExit(f"bench: playwright-core is missing in {NODE_MODULES}: run scripts/bootstrap --bench")
    result = subprocess.run(["node", str(ROOT / "bench" / "page_load.js")], input=json.dumps(plan),
                            capture_output=True, text=True, env=dict(os.environ, NODE_PATH=str(NODE_MODULES)),
                            timeout=3600)
    if result.returncode != 0:
        raise SystemExit("bench: the browser run failed:\n" + result.stderr[-3000:])
    return json.loads(result.stdout.strip().splitlines()[-1])


def scene_url(port, run):
    return f"http://127.0.0.1:{port}/scene/index.html?run={run}"


def measure_row(label, port, cdn, runs, warm=False, bytes_expected=None, headers=PLAYER_HEADERS):
    """Loads the scene once per run id through port, sending headers with
    every request; returns the row. Unless the row measures the browser's
    own cache (warm), one load more follows, watched through the browser's
    network events (which cost the browser time of their own, so the timed
    loads go without): with the same run id when every load had it, else
    with a new one. Its summary is the row's "network"."""
    if headers is CHROMIUM_HEADERS:
        label += " (Chromium's own Connection header)"
    cdn.reset()
    try:
        loads = run_plan([{"label": label, "urls": [scene_url(port, run) for run in runs],
                           "warm": warm, "headers": headers}])[0]["loads"]
    except SystemExit as failure:
        # A load that never ended is reported, and the other rows go on.
        log(f"{label}: {failure}")
        return {"label": label, "median_ms": float("nan"), "times_ms": [], "upstream_per_load": cdn.count(),
                "failed_fetches": -1}
    upstream = cdn.count()
    times = [load["ms"] for load in loads]
    failed = sum(load["failed"] for load in loads)
    short = [load["bytes"] for load in loads if bytes_expected is not None and load["bytes"] != bytes_expected]
    if failed or short:
        log(f"{label}: {failed} failed fetches, loads short of bytes: {short}; "
            f"{[load['errors'] for load in loads if load['errors']][:1]}")
    row = {"label": label, "median_ms": statistics.median(times), "times_ms": times,
           "upstream_per_load": upstream / len(runs), "failed_fetches": failed}
    if not warm:
        traced_run = runs[0] if len(set(runs)) == 1 else runs[0] + "-traced"
        try:
            traced = run_plan([{"label": label, "urls": [scene_url(port, traced_run)], "headers": headers,
                                "trace": True}])[0]["loads"][0]
            row["network"] = dict(traced["network"], ms=traced["ms"])
        except SystemExit as failure:
            log(f"{label}, traced load: {failure}")
    return row


def measure_setting(name, delay_ms, rate, work, local_servers, scene_bytes):
    """Every row of one CDN setting. local_servers: the resource servers to
    measure (objects with start(), stop(), clear_cache() and a name)."""
    tag = f"{int(time.time())}-{delay_ms}-{rate}"
    rows = []
    cdn = Cdn(work, delay_ms, rate, [CDN_PORTS["direct"], CDN_PORTS["native"], CDN_PORTS["wine"]])
    try:
        log(f"page load ({name}): straight from the CDN")
        rows.append(measure_row("straight from the CDN", CDN_PORTS["direct"], cdn,
                                [f"straight-{tag}-{k}" for k in range(LOADS)], bytes_expected=scene_bytes))
        for server in local_servers:
            log(f"page load ({name}): {server.name}")
            server.clear_cache()
            server.start()
            try:
                rows.append(measure_row(f"{server.name}, cold", LOCAL_PORT, cdn,
                                        [f"{server.name}-{tag}-{k}" for k in range(LOADS)],
                                        bytes_expected=scene_bytes))
                rows.append(measure_row(f"{server.name}, warm", LOCAL_PORT, cdn,
                                        [f"{server.name}-{tag}-0"] * LOADS, bytes_expected=scene_bytes))
                rows.append(measure_row(f"{server.name}, warm", LOCAL_PORT, cdn,
                                        [f"{server.name}-{tag}-0"] * LOADS, bytes_expected=scene_bytes,
                                        headers=CHROMIUM_HEADERS))
            finally:
                server.stop()
        log(f"page load ({name}): nginx proxy_cache")
        proxy = ProxyCache(work)
        proxy.start()
        try:
            rows.append(measure_row("nginx proxy_cache, cold", PROXY_PORT, cdn,
                                    [f"proxy-{tag}-{k}" for k in range(LOADS)], bytes_expected=scene_bytes))
            rows.append(measure_row("nginx proxy_cache, warm", PROXY_PORT, cdn, [f"proxy-{tag}-0"] * LOADS,
                                    bytes_expected=scene_bytes))
            rows.append(measure_row("nginx proxy_cache, warm", PROXY_PORT, cdn, [f"proxy-{tag}-0"] * LOADS,
                                    bytes_expected=scene_bytes, headers=CHROMIUM_HEADERS))
        finally:
            proxy.stop()
    finally:
        cdn.stop()
    log(f"page load ({name}): the browser's own cache")
    cached = Cdn(work, delay_ms, rate, [CDN_PORTS["max_age"]], max_age=365 * 24 * 3600)
    try:
        row = measure_row("Chromium's own cache, second load", CDN_PORTS["max_age"], cached,
                          [f"browser-{tag}-{k}" for k in range(LOADS)], warm=True, bytes_expected=scene_bytes)
        # The count covers both loads of each profile: the first is cold.
        row["upstream_per_load"] -= SCENE_COUNT + 1
        rows.append(row)
    finally:
        cached.stop()
    return {"setting": name, "delay_ms": delay_ms, "rate": rate, "rows": rows}
