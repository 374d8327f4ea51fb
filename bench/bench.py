#!/usr/bin/python3
"""Benchmark driver: the local resource server against the peers that do
the same job, in one run on this machine:

    native   quillet-resource-server, the native build
    wine     quillet-resource-server.exe, the Windows build, under Wine
    nginx    nginx with static files (sendfile on, access log off, 2
             workers) for hits, and nginx as a caching reverse proxy
             (proxy_cache) for misses and page loads

It measures a game scene's page load in headless Chromium through each of
them and straight from a CDN-like origin, and through the browser's own
cache (bench/page_load.py); throughput and latency of cache hits (1,000
resources of 1-64 KiB, and one 16 MiB resource) with wrk at 1, 6 and 16
connections, each the median of 3 runs alternating with nginx, 64 as a
stress row, and 6 without keep-alive; cold misses at 1 and 6 connections
against nginx proxy_cache doing the same job; the cost of a miss by size
and the peak memory; and the time from process start to the first answer,
with an empty cache folder and with 100,000 files in it. The static nginx
plays the origin of the wrk rows. Writes bench/RESULTS.md (or --output),
keeping its hand-written section "Reading the figures", and the figures as
JSON under build/bench/.

    bench.py [--seconds S] [--only native,wine,nginx] [--page-load | --no-page-load] [--build DIR]
             [--output FILE]

--page-load runs the page-load benchmark alone, --no-page-load everything
else. --build takes the servers from another build folder (with
bench-native/ and windows/ under it, as make bench builds them), for
comparing two versions of the code in one run.
"""

import argparse
import datetime
import hashlib
import http.client
import json
import os
import platform
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time
from pathlib import Path

import page_load

ROOT = Path(__file__).resolve().parents[1]
WORK = ROOT / "build" / "bench"
FILES = WORK / "files"
SERVER_NAME = "quillet-resource-server"
WINE_SESSION = ROOT / "scripts" / "wine-session"
SPREAD = ROOT / "bench" / "spread.lua"

LOCAL_PORT = 12315
# The native and windows builds fetch their misses from these origins.
NATIVE_ORIGIN_PORT = 18301
WINDOWS_ORIGIN_PORT = 18302
NGINX_PORT = 18400

SMALL_COUNT = 1000
SMALL_PATHS = [f"/bench/small/{i:04d}.png" for i in range(SMALL_COUNT)]
BIG_PATH = "/bench/big/16m.bin"
HUGE_PATH = "/bench/big/64m.bin"
MIB = 1 << 20
CONNECTIONS = (1, 6, 16, 64)
# Rows without a target: the stress row.
STRESS_CONNECTIONS = 64
REPEATS = 3
COLD_COUNT = 200
COLD_CONNECTIONS = (1, 6)
PROXY_PORT = 18440
START_FILES = 100000


def log(text):
    print(f"bench: {text}", flush=True)


# ---------------------------------------------------------------- resources

def make_files():
    """The resource set: 1,000 files of 1-64 KiB, one of 16 MiB, one of 64 MiB.
    Contents are random but fixed by a seed, so every run serves the same bytes."""
    marker = FILES / ".complete"
    if marker.exists():
        return
    shutil.rmtree(FILES, ignore_errors=True)
    generator = random.Random(12315)
    for path in SMALL_PATHS:
        target = FILES / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(generator.randbytes(generator.randint(1024, 64 * 1024)))
    for path, size in ((BIG_PATH, 16 * MIB), (HUGE_PATH, 64 * MIB)):
        target = FILES / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(generator.randbytes(size))
    marker.write_text("ok")


def write_paths(name, paths):
    target = WORK / name
    target.write_text("".join(p + "\n" for p in paths))
    return target


# ---------------------------------------------------------------- servers

def answers(port, path="/", timeout=0.5):
    """True once the server on port gives any HTTP answer to a GET of path."""
    try:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        connection.request("GET", path)
        connection.getresponse().read()
        connection.close()
        return True
    except OSError:
        return False
    except http.client.HTTPException:
        return False


def wait_until(condition, timeout, interval=0.002):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return False


def port_free(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) != 0


class Nginx:
    """One nginx on three ports: the peer under test and the origin of both builds."""

    name = "nginx"

    def __init__(self):
        self.folder = WORK / "nginx"
        self.process = None

    def write_config(self):
        self.folder.mkdir(parents=True, exist_ok=True)
        listens = "\n".join(f"        listen 127.0.0.1:{port};"
                            for port in (NATIVE_ORIGIN_PORT, WINDOWS_ORIGIN_PORT, NGINX_PORT))
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
    keepalive_timeout 120s;
    open_file_cache max=4096;
    default_type application/octet-stream;
    client_body_temp_path {self.folder}/tmp;
    proxy_temp_path {self.folder}/tmp;
    fastcgi_temp_path {self.folder}/tmp;
    uwsgi_temp_path {self.folder}/tmp;
    scgi_temp_path {self.folder}/tmp;
    server {{
{listens}
        root {FILES};
    }}
}}
"""
        (self.folder / "tmp").mkdir(exist_ok=True)
        (self.folder / "nginx.conf").write_text(config)

    def start(self):
        self.write_config()
        self.process = subprocess.Popen(["nginx", "-p", str(self.folder), "-c", str(self.folder / "nginx.conf")],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not wait_until(lambda: answers(NGINX_PORT, SMALL_PATHS[0]), 10):
            raise SystemExit("bench: nginx did not start; see " + str(self.folder / "error.log"))

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    port = NGINX_PORT


class LocalServer:
    """quillet-resource-server in a folder of its own: its cache is the
    folder's wz_cdn/cdn."""

    port = LOCAL_PORT

    def __init__(self, name, folder):
        self.name = name
        self.folder = folder
        self.process = None
        self.cache = folder / "wz_cdn" / "cdn"

    def clear_cache(self):
        shutil.rmtree(self.cache, ignore_errors=True)

    def wait_stored(self, path, timeout=60):
        """Waits until the cache file of path has its name: the server
        stores a fetched body after answering, and a server stopped before
        then has nothing to serve the next start from."""
        name = hashlib.md5(path.encode()).hexdigest()
        if not wait_until(lambda: (self.cache / name).exists(), timeout):
            raise SystemExit(f"bench: {self.name} did not store {path} within {timeout} s")

    def start(self, probe="/__bench_probe"):
        if not wait_until(lambda: port_free(LOCAL_PORT), 30):
            raise SystemExit(f"bench: port {LOCAL_PORT} is taken by another program")
        self.folder.mkdir(parents=True, exist_ok=True)
        self.process = subprocess.Popen(self.command(), cwd=self.folder, env=self.environment(),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not wait_until(lambda: answers(LOCAL_PORT, probe), 60):
            raise SystemExit(f"bench: {self.name} server did not answer")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
        wait_until(lambda: port_free(LOCAL_PORT), 30)

    def restart(self):
        self.stop()
        self.start()

    def pid(self):
        return self.process.pid

    def peak_memory(self):
        """Peak resident set size of the server process, in bytes."""
        for line in Path(f"/proc/{self.pid()}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
        return 0


class NativeServer(LocalServer):
    def __init__(self, build):
        super().__init__("native", WORK / "native-run")
        self.program = build / "bench-native" / "bin" / SERVER_NAME

    def command(self):
        return [str(self.program)]

    def environment(self):
        return os.environ


class WineServer(LocalServer):
    """The Windows build under Wine, in the bench's own prefix. Its folder is
    under the build tree, which the prefix reaches as drive T:."""

    def __init__(self, build):
        super().__init__("wine", WORK / "wine-run")
        self.program = build / "windows" / "bin" / (SERVER_NAME + ".exe")
        self.state = WORK / "wine"
        self.env = None

    def start(self, probe="/__bench_probe"):
        if self.env is None:
            subprocess.run([str(WINE_SESSION), "start", str(self.state)], check=True, stdout=subprocess.DEVNULL)
            exports = subprocess.run([str(WINE_SESSION), "env", str(self.state)], check=True,
                                     capture_output=True, text=True).stdout
            self.env = dict(os.environ)
            for line in exports.splitlines():
                for assignment in line.replace("export ", "").split():
                    name, _, value = assignment.partition("=")
                    self.env[name] = value.strip("'\"")
        self.folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.program, self.folder / self.program.name)
        super().start(probe)

    def command(self):
        return ["wine", "T:\\wine-run\\" + self.program.name]

    def environment(self):
        return self.env

    def pid(self):
        # Wine shows a Windows process's command line as the Windows one.
        wanted = self.command()[1].encode()
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                command = (entry / "cmdline").read_bytes()
            except OSError:
                continue
            if command.startswith(wanted):
                return int(entry.name)
        raise SystemExit("bench: cannot find the Wine server process")

    def close_session(self):
        if self.env is not None:
            subprocess.run([str(WINE_SESSION), "stop", str(self.state)], check=False, stdout=subprocess.DEVNULL)
            self.env = None


# ---------------------------------------------------------------- measurements

def run_wrk(port, paths_file, connections, seconds, close=False):
    threads = 1 if connections == 1 else 2
    command = ["wrk", "-t", str(threads), "-c", str(connections), "-d", f"{seconds}s", "--timeout", "10s",
               "-s", str(SPREAD), f"http://127.0.0.1:{port}", "--", str(paths_file)] + (["close"] if close else [])
    output = subprocess.run(command, capture_output=True, text=True, timeout=seconds + 120).stdout
    line = [text for text in output.splitlines() if text.startswith("{")]
    if not line:
        raise SystemExit("bench: wrk printed no result:\n" + output)
    result = json.loads(line[-1])
    seconds_taken = result["duration_us"] / 1e6
    result["rps"] = result["requests"] / seconds_taken
    result["bytes_per_s"] = result["bytes"] / seconds_taken
    result["errors"] = sum(result[k] for k in ("connect_errors", "read_errors", "write_errors",
                                               "status_errors", "timeouts"))
    return result


def median_run(runs):
    """The run with the median throughput, with every run's throughput."""
    ordered = sorted(runs, key=lambda run: run["rps"])
    chosen = dict(ordered[len(ordered) // 2])
    chosen["all_rps"] = [run["rps"] for run in runs]
    return chosen


def fetch_all(port, paths):
    """GETs every path in order over one keep-alive connection; returns seconds."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    start = time.perf_counter()
    for path in paths:
        connection.request("GET", path, headers={"Connection": "Keep-Alive"})
        response = connection.getresponse()
        body = response.read()
        if response.status != 200 or not body:
            raise SystemExit(f"bench: {path} on port {port} answered {response.status} with {len(body)} bytes")
        if response.will_close:
            connection.close()
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    elapsed = time.perf_counter() - start
    connection.close()
    return elapsed


def fetch_parallel(port, paths, connections):
    """GETs every path over `connections` keep-alive connections at once,
    each taking the next path not yet asked for; returns seconds."""
    import threading
    pending = list(reversed(paths))
    lock = threading.Lock()
    failures = []

    def worker():
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
        while True:
            with lock:
                if not pending:
                    break
                path = pending.pop()
            connection.request("GET", path, headers={"Connection": "Keep-Alive"})
            response = connection.getresponse()
            body = response.read()
            if response.status != 200 or not body:
                failures.append((path, response.status))
            if response.will_close:
                connection.close()
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
        connection.close()

    workers = [threading.Thread(target=worker) for _ in range(connections)]
    start = time.perf_counter()
    for worker_thread in workers:
        worker_thread.start()
    for worker_thread in workers:
        worker_thread.join()
    elapsed = time.perf_counter() - start
    if failures:
        raise SystemExit(f"bench: port {port} failed {failures[:3]}")
    return elapsed


class ProxyCache:
    """nginx as a caching reverse proxy in front of the bench's origin (the
    static nginx), doing what the local server does on a miss: fetch,
    store, answer. Its cache is on the same disk; proxy_cache_lock on, 200
    answers kept for ever, keep-alive connections upstream."""

    port = PROXY_PORT
    name = "nginx proxy_cache"

    def __init__(self):
        self.folder = WORK / "nginx-cold"
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
    proxy_cache_path {self.folder}/cache levels=1:2 keys_zone=cold:16m max_size=16g inactive=3650d
                     use_temp_path=off;
    upstream origin {{
        server 127.0.0.1:{NGINX_PORT};
        keepalive 32;
    }}
    server {{
        listen 127.0.0.1:{PROXY_PORT};
        location / {{
            proxy_pass http://origin;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_cache cold;
            proxy_cache_lock on;
            proxy_cache_valid 200 3650d;
        }}
    }}
}}
"""
        (self.folder / "nginx.conf").write_text(config)
        self.process = subprocess.Popen(["nginx", "-p", str(self.folder), "-c", str(self.folder / "nginx.conf")],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not wait_until(lambda: answers(PROXY_PORT, SMALL_PATHS[0]), 10):
            raise SystemExit("bench: nginx as a proxy did not start; see " + str(self.folder / "error.log"))

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


def cold_misses(server, proxy, repeats=3):
    """Seconds to serve COLD_COUNT uncached resources through the server and
    through nginx proxy_cache, at each of COLD_CONNECTIONS (medians of
    repeats, run in turn). Each repeat asks for paths never asked before (a
    query string of its own, which the origin ignores and both caches key
    on) instead of deleting a cache between repeats: on this machine's ext4,
    creating files right after deleting thousands costs several times the
    usual, and that would be measured as the server's cost."""
    run = f"{time.time_ns():x}"
    figures = {}
    for connections in COLD_CONNECTIONS:
        through, peer = [], []
        for repeat in range(repeats):
            paths = [f"{path}?cold={run}-{connections}-{repeat}" for path in SMALL_PATHS[:COLD_COUNT]]
            through.append(fetch_parallel(server.port, paths, connections))
            peer.append(fetch_parallel(proxy.port, paths, connections))
        figures[connections] = {"server_s": statistics.median(through), "proxy_s": statistics.median(peer)}
    figures["store_s"] = store_cost(server, COLD_COUNT)
    return figures


def store_cost(server, count):
    """Seconds to create, write and rename count files of the cold set's
    sizes in the server's cache folder, as storing its misses does: the file
    system's share of a cold miss."""
    folder = server.cache
    folder.mkdir(parents=True, exist_ok=True)
    bodies = [(FILES / path.lstrip("/")).read_bytes() for path in SMALL_PATHS[:count]]
    start = time.perf_counter()
    for index, body in enumerate(bodies):
        temporary = folder / f"bench-store-{index}.part"
        with open(temporary, "wb") as file:
            file.write(body)
        os.replace(temporary, folder / f"bench-store-{index}")
    elapsed = time.perf_counter() - start
    for index in range(count):
        (folder / f"bench-store-{index}").unlink()
    return elapsed


def size_costs(server):
    """For the 16 and 64 MiB resources: seconds for a miss and a hit, and the
    server's peak memory during each (a fresh process for every figure)."""
    costs = {}
    for name, path in (("16", BIG_PATH), ("64", HUGE_PATH)):
        server.clear_cache()
        server.restart()
        miss = fetch_all(server.port, [path])
        server.wait_stored(path)
        miss_peak = server.peak_memory()
        server.restart()
        hit = fetch_all(server.port, [path])
        hit_peak = server.peak_memory()
        costs[name] = {"miss_s": miss, "hit_s": hit, "miss_peak": miss_peak, "hit_peak": hit_peak}
    return costs


def start_to_first_answer(server, path, repeats=5):
    """Median milliseconds from starting the process to its first answered request."""
    times = []
    for _ in range(repeats):
        server.stop()
        began = time.perf_counter()
        server.start(path)
        times.append((time.perf_counter() - began) * 1000)
    return statistics.median(times)


def fill_cache_folder(folder, count):
    """count small files with cache-file names, as a folder of a year's play
    holds them (the server counts them when it starts)."""
    folder.mkdir(parents=True, exist_ok=True)
    for index in range(count):
        (folder / f"{index:032x}").write_bytes(b"x" * 64)


def measure_hits(server, nginx, seconds, small_file, big_file):
    """wrk rows for the server and for nginx, run in turn REPEATS times at
    each connection count (the stress row and the 16 MiB set once each);
    each figure is the median run."""
    rows = []
    plans = [("small", small_file, connections, False, 1 if connections == STRESS_CONNECTIONS else REPEATS)
             for connections in CONNECTIONS]
    plans.append(("small", small_file, 6, True, REPEATS))
    plans += [("16m", big_file, connections, False, 1) for connections in (1, 16)]
    for label, paths_file, connections, close, repeats in plans:
        log(f"{server.name}: {label} hits, {connections} connections{' without keep-alive' if close else ''}")
        runs = {server.name: [], "nginx": []}
        for _ in range(repeats):
            for peer in (server, nginx):
                runs[peer.name].append(run_wrk(peer.port, paths_file, connections, seconds, close))
        for name, peer_runs in runs.items():
            row = median_run(peer_runs)
            row.update(server=name, peer_of=server.name, set=label, connections=connections, close=close)
            rows.append(row)
    return rows


def measure_server(server, nginx, seconds, small_file, big_file):
    figures = {"name": server.name}
    server.clear_cache()
    server.start()
    proxy = ProxyCache()
    proxy.start()
    try:
        log(f"{server.name}: cold misses against nginx proxy_cache")
        figures["cold"] = cold_misses(server, proxy)
    finally:
        proxy.stop()
    try:
        log(f"{server.name}: miss and hit cost by size, peak memory")
        figures["sizes"] = size_costs(server)
        # Fill the cache with the whole set before measuring hits.
        fetch_all(server.port, SMALL_PATHS + [BIG_PATH])
        for path in SMALL_PATHS + [BIG_PATH]:
            server.wait_stored(path)
        figures["hits"] = measure_hits(server, nginx, seconds, small_file, big_file)
        log(f"{server.name}: start to first answer")
        figures["start_ms"] = start_to_first_answer(server, SMALL_PATHS[0])
        server.stop()
        fill_cache_folder(server.cache, START_FILES)
        figures["start_full_ms"] = start_to_first_answer(server, SMALL_PATHS[0])
    finally:
        server.stop()
        server.clear_cache()
    return figures


def nginx_start_ms(nginx):
    times = []
    for _ in range(5):
        nginx.stop()
        began = time.perf_counter()
        nginx.start()
        times.append((time.perf_counter() - began) * 1000)
    return statistics.median(times)


# ---------------------------------------------------------------- report

def machine_line():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    memory = int(Path("/proc/meminfo").read_text().split()[1]) // (1024 * 1024)
    return f"{model}, {os.cpu_count()} cores, {memory} GiB, {platform.system()} {platform.release()}"


def tool_versions():
    def first_line(command):
        result = subprocess.run(command, capture_output=True, text=True)
        return (result.stdout + result.stderr).strip().splitlines()[0]
    versions = [first_line(["wrk", "--version"]), first_line(["nginx", "-v"]),
                first_line(["/usr/bin/chromium", "--version"])]
    if shutil.which("wine"):
        arch = subprocess.run([str(WINE_SESSION), "arch"], capture_output=True, text=True).stdout.strip()
        versions.append(f"{first_line(['wine', '--version'])} ({arch} prefix)")
    return versions


def ratio(value, anchor):
    return f"{value / anchor:.2f}x" if anchor else "n/a"


def hits_tables(results, seconds):
    hits = [row for figures in results.values() for row in figures.get("hits", [])]
    lines = [f"## Cache hits (wrk, {seconds} s a run)", "",
             "1,000 resources of 1-64 KiB. Each server's runs alternate with nginx's (static files); each "
             f"figure is the median of {REPEATS} runs, the 64-connection stress row of one. nginx's own "
             "figure moves by up to 20 % between runs, so the ratio is taken against the nginx runs made "
             "in turn with that server.", "",
             "| server | connections | keep-alive | requests/s | p50 ms | p99 ms | errors | nginx req/s | "
             "req/s vs nginx | p99 vs nginx |",
             "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|"]
    for row in (r for r in hits if r["set"] == "small" and r["server"] != "nginx"):
        peer = next(r for r in hits if r["server"] == "nginx" and r["peer_of"] == row["server"]
                    and r["set"] == "small" and r["connections"] == row["connections"] and r["close"] == row["close"])
        lines.append(f"| {row['server']} | {row['connections']}{' (stress)' if row['connections'] == STRESS_CONNECTIONS else ''} | "
                     f"{'no' if row['close'] else 'yes'} | {row['rps']:,.0f} | {row['p50_us'] / 1000:.2f} | "
                     f"{row['p99_us'] / 1000:.2f} | {row['errors']} | {peer['rps']:,.0f} | "
                     f"{ratio(row['rps'], peer['rps'])} | {ratio(row['p99_us'], peer['p99_us'])} |")
    lines += ["", "One 16 MiB resource, one run each:", "",
              "| server | connections | MiB/s | p50 ms | p99 ms | errors | nginx MiB/s | MiB/s vs nginx |",
              "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for row in (r for r in hits if r["set"] == "16m" and r["server"] != "nginx"):
        peer = next(r for r in hits if r["server"] == "nginx" and r["peer_of"] == row["server"]
                    and r["set"] == "16m" and r["connections"] == row["connections"])
        lines.append(f"| {row['server']} | {row['connections']} | {row['bytes_per_s'] / MIB:,.0f} | "
                     f"{row['p50_us'] / 1000:.1f} | {row['p99_us'] / 1000:.1f} | {row['errors']} | "
                     f"{peer['bytes_per_s'] / MIB:,.0f} | {ratio(row['bytes_per_s'], peer['bytes_per_s'])} |")
    return lines


def page_load_tables(page):
    lines = ["## Page load of a game scene in headless Chromium", "",
             f"{page_load.SCENE_COUNT} resources, {page['scene_bytes'] / MIB:.1f} MiB, and the page that fetches "
             "them (bench/page_load.py). Each row is the median of "
             f"{page_load.LOADS} loads, each in a fresh browser profile; the time is the page's own, from "
             "navigation start until the last resource had arrived. \"upstream\" is what reached the CDN per "
             "load (the scene and its page: every resource once when cold, none when warm).", ""]
    for setting in page["settings"]:
        rows = {row["label"]: row for row in setting["rows"]}
        straight = rows["straight from the CDN"]["median_ms"]
        proxy = {kind: rows[f"nginx proxy_cache, {kind}"]["median_ms"] for kind in ("cold", "warm")}
        lines += [f"### {setting['setting']}", "",
                  "| path | median ms | loads ms | upstream per load | vs straight | vs nginx proxy_cache |",
                  "|---|---:|---|---:|---:|---:|"]
        for row in setting["rows"]:
            kind = "warm" if "warm" in row["label"] or "own cache" in row["label"] else "cold"
            failed = ""
            if row.get("failed_fetches", 0) < 0:
                failed = " (a load did not end within 5 minutes)"
            elif row.get("failed_fetches"):
                failed = f" ({row['failed_fetches']} fetches failed)"
            lines.append(f"| {row['label']}{failed} | {row['median_ms']:,.0f} | "
                         f"{', '.join(f'{t:,.0f}' for t in row['times_ms'])} | {row['upstream_per_load']:.0f} | "
                         f"{ratio(row['median_ms'], straight)} | {ratio(row['median_ms'], proxy[kind])} |")
        lines.append("")
        lines += network_table(setting["rows"])
    return lines


def network_table(rows):
    """Where one load of each row spent its time, from the browser's own
    network events (a load of its own after the timed ones)."""
    traced = [row for row in rows if row.get("network")]
    if not traced:
        return []

    def both(figures):
        if figures["median"] is None:
            return ""
        return f"{figures['median']:.1f} / {figures['p90']:.1f}"

    lines = ["One more load of each row, watched through the browser's network events: the connections it "
             "used, the answers that came on a connection used before, and per answer (median / 90th "
             "percentile, ms) the wait for a connection, the time from the request sent to the answer's "
             "header, the body, and on each connection the gap from one answer's last byte to the next "
             "request sent.", "",
             "| path | load ms | connections | answers on a reused connection | wait for a connection | "
             "request to header | body | gap between answers |",
             "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for row in traced:
        network = row["network"]
        lines.append(f"| {row['label']} | {network['ms']:,.0f} | {network['connections']} | "
                     f"{network['reused']} of {network['answers']} | {both(network['wait'])} | "
                     f"{both(network['firstByte'])} | {both(network['body'])} | {both(network['gap'])} |")
    lines.append("")
    return lines


def report(results, seconds):
    lines = ["# Benchmark results", "",
             f"Written by `make bench` (bench/bench.py) on {datetime.date.today().isoformat()}.", "",
             f"Machine: {machine_line()}.  ",
             "Tools: " + "; ".join(tool_versions()) + ".  ",
             "Servers: `native` = quillet-resource-server (native build, with the shipped cache bound); "
             "`wine` = quillet-resource-server.exe under Wine (the 32-bit build in a 32-bit prefix; only "
             "where the kernel runs no 32-bit programs, the 64-bit build under 64-bit Wine); "
             "`nginx` = nginx 2 workers, static files or proxy_cache. The load generators and the servers "
             "share the machine's cores.", ""]
    if "page" in results:
        lines += page_load_tables(results["page"])
    local = [figures for name, figures in results.items() if name in ("native", "wine")]
    if any("hits" in figures for figures in local):
        lines += hits_tables(results, seconds)
    if local:
        lines += ["", f"## Cold misses: {COLD_COUNT} uncached resources, against nginx proxy_cache", "",
                  "Through the server (fetch from the origin, store, answer) and through nginx proxy_cache doing "
                  "the same job, both in front of the same origin (static nginx), run in turn; medians of 3, each "
                  "repeat with paths never asked before. \"store\" is what creating, writing and renaming files of "
                  "the same sizes in the cache folder costs by itself on this file system.", "",
                  "| server | connections | through the server s | through nginx proxy_cache s | ratio | store s |",
                  "|---|---:|---:|---:|---:|---:|"]
        for figures in local:
            for connections in COLD_CONNECTIONS:
                cold = figures["cold"][connections]
                lines.append(f"| {figures['name']} | {connections} | {cold['server_s']:.3f} | "
                             f"{cold['proxy_s']:.3f} | {ratio(cold['server_s'], cold['proxy_s'])} | "
                             f"{figures['cold']['store_s']:.3f} |")

        lines += ["", "## Cost by size, and peak memory (VmHWM of the server process)", "",
                  "| server | size | miss s | hit s | peak on miss MiB | x size | peak on hit MiB | x size |",
                  "|---|---:|---:|---:|---:|---:|---:|---:|"]
        for figures in local:
            for size, cost in figures["sizes"].items():
                mib = int(size)
                lines.append(f"| {figures['name']} | {mib} MiB | {cost['miss_s']:.3f} | {cost['hit_s']:.3f} | "
                             f"{cost['miss_peak'] / MIB:.0f} | {cost['miss_peak'] / (mib * MIB):.2f} | "
                             f"{cost['hit_peak'] / MIB:.0f} | {cost['hit_peak'] / (mib * MIB):.2f} |")

        lines += ["", "## Start to first answered request (median of 5)", "",
                  f"With an empty cache folder, and with {START_FILES:,} files in it, which the server counts "
                  "on a thread of its own when it starts.", "",
                  "| server | empty folder ms | 100,000 files ms | vs nginx (empty) |", "|---|---:|---:|---:|"]
        nginx_start = results.get("nginx", {}).get("start_ms")
        for figures in local:
            lines.append(f"| {figures['name']} | {figures['start_ms']:.0f} | {figures['start_full_ms']:.0f} | "
                         f"{ratio(figures['start_ms'], nginx_start) if nginx_start else 'n/a'} |")
        if nginx_start:
            lines.append(f"| nginx | {nginx_start:.0f} | | 1.00x |")
    return "\n".join(lines) + "\n"


# The tables are the driver's; what they mean is written by hand below this
# heading and carried over each time the report is written again.
READING_HEADING = "## Reading the figures"


def kept_reading(output):
    """The hand-written section of an earlier report in `output`, or nothing."""
    if not output.exists():
        return ""
    text = output.read_text()
    start = text.find("\n" + READING_HEADING)
    return "" if start < 0 else text[start:]


def measure_page_load(build, wanted):
    folder = WORK / "page"
    folder.mkdir(parents=True, exist_ok=True)
    paths, scene_bytes = page_load.make_scene(folder)
    servers = []
    if "native" in wanted:
        servers.append(NativeServer(build))
    wine = WineServer(build) if "wine" in wanted else None
    if wine:
        servers.append(wine)
    try:
        settings = [page_load.measure_setting(name, delay, rate, folder, servers, scene_bytes)
                    for name, delay, rate in page_load.SETTINGS]
    finally:
        if wine:
            wine.close_session()
    return {"scene_bytes": scene_bytes, "settings": settings}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=5, help="duration of each wrk run")
    parser.add_argument("--only", default="native,wine,nginx", help="servers to measure")
    parser.add_argument("--page-load", action="store_true", help="only the page-load benchmark")
    parser.add_argument("--no-page-load", action="store_true", help="everything but the page-load benchmark")
    parser.add_argument("--build", default=str(ROOT / "build"), help="build folder holding the servers")
    parser.add_argument("--output", help="report file (bench/RESULTS.md; with --page-load, "
                                         "build/bench/page-load.md)")
    args = parser.parse_args(argv)
    if not args.output:
        args.output = str(WORK / "page-load.md" if args.page_load else ROOT / "bench" / "RESULTS.md")
    wanted = args.only.split(",")
    for program in ("wrk", "nginx", "node", "/usr/bin/chromium"):
        if not shutil.which(program):
            raise SystemExit(f"bench: {program} is missing: run scripts/bootstrap --bench")
    WORK.mkdir(parents=True, exist_ok=True)
    build = Path(args.build).resolve()
    results = {}
    if not args.page_load:
        log("preparing the resource set")
        make_files()
        small_file = write_paths("small-paths.txt", SMALL_PATHS)
        big_file = write_paths("big-paths.txt", [BIG_PATH])
        nginx = Nginx()
        nginx.start()
        wine = WineServer(build)
        try:
            if "native" in wanted:
                results["native"] = measure_server(NativeServer(build), nginx, args.seconds, small_file, big_file)
            if "wine" in wanted:
                results["wine"] = measure_server(wine, nginx, args.seconds, small_file, big_file)
            if "nginx" in wanted:
                results["nginx"] = {"name": "nginx", "start_ms": nginx_start_ms(nginx)}
        finally:
            wine.close_session()
            nginx.stop()
            # Kept as they come, so that a later failure loses nothing.
            (WORK / (Path(args.output).stem + ".json")).write_text(json.dumps(results, indent=1))
    # The page-load rows need the builds' origin ports, which the static
    # nginx held until now.
    if not args.no_page_load:
        results["page"] = measure_page_load(build, wanted)
    (WORK / (Path(args.output).stem + ".json")).write_text(json.dumps(results, indent=1))
    text = report(results, args.seconds) + kept_reading(Path(args.output))
    Path(args.output).write_text(text)
    print(text)
    log(f"written to {args.output}")


if __name__ == "__main__":
    sys.exit(main())
