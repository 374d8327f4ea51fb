#!/usr/bin/python3
"""Benchmark driver: the local resource server against a tuned static server.

Serves one resource set with one load generator (wrk) from three servers in
one run on this machine:

    native   quillet-resource-server, the native build
    wine     quillet-resource-server.exe, the Windows build, under Wine
    nginx    nginx with static files, sendfile on, access log off, 2 workers

and measures throughput and latency of cache hits (1,000 resources of 1-64
KiB, and one 16 MiB resource) at 1, 16 and 64 connections, the cost of cache
misses against fetching straight from the origin, the cost of a miss by
size, peak memory while serving a 64 MiB resource, and the time from process
start to the first answered request. The same nginx plays the origin (the
upstream the builds are configured with). Writes bench/RESULTS.md (or
--output) and the figures as JSON under build/bench/.

    bench.py [--seconds S] [--only native,wine,nginx] [--build DIR] [--output FILE]

--build takes the servers from another build folder (with native/ and
windows/ under it), for comparing two versions of the code in one run.
"""

import argparse
import datetime
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
CONNECTIONS = (1, 16, 64)
COLD_COUNT = 200


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
        self.program = build / "native" / "bin" / SERVER_NAME

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

def run_wrk(port, paths_file, connections, seconds):
    threads = 1 if connections == 1 else 2
    command = ["wrk", "-t", str(threads), "-c", str(connections), "-d", f"{seconds}s", "--timeout", "10s",
               "-s", str(SPREAD), f"http://127.0.0.1:{port}", "--", str(paths_file)]
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


def cold_misses(server, repeats=3):
    """Seconds to serve COLD_COUNT uncached resources through the server, and
    to fetch the same straight from the server's origin (medians).

    Each repeat asks for paths never asked before (a query string of its
    own, which the origin ignores and the cache keys on) instead of deleting
    the cache between repeats: on this machine's ext4, creating files right
    after deleting thousands costs several times the usual, and that would be
    measured as the server's cost."""
    origin = NATIVE_ORIGIN_PORT if server.name == "native" else WINDOWS_ORIGIN_PORT
    run = f"{time.time_ns():x}"
    through, direct = [], []
    for repeat in range(repeats):
        paths = [f"{path}?cold={run}-{repeat}" for path in SMALL_PATHS[:COLD_COUNT]]
        direct.append(fetch_all(origin, paths))
        through.append(fetch_all(server.port, paths))
    return statistics.median(through), statistics.median(direct), store_cost(server, COLD_COUNT)


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


def measure_hits(server, seconds, small_file, big_file):
    rows = []
    for label, paths_file in (("small", small_file), ("16m", big_file)):
        for connections in CONNECTIONS:
            log(f"{server.name}: {label} hits, {connections} connections")
            result = run_wrk(server.port, paths_file, connections, seconds)
            result.update(server=server.name, set=label, connections=connections)
            rows.append(result)
    return rows


def measure_server(server, seconds, small_file, big_file):
    figures = {"name": server.name}
    server.clear_cache()
    server.start()
    try:
        log(f"{server.name}: cold misses")
        figures["cold"] = cold_misses(server)
        log(f"{server.name}: miss and hit cost by size, peak memory")
        figures["sizes"] = size_costs(server)
        # Fill the cache with the whole set before measuring hits.
        fetch_all(server.port, SMALL_PATHS + [BIG_PATH])
        figures["hits"] = measure_hits(server, seconds, small_file, big_file)
        log(f"{server.name}: start to first answer")
        figures["start_ms"] = start_to_first_answer(server, SMALL_PATHS[0])
    finally:
        server.stop()
    return figures


def measure_nginx(nginx, seconds, small_file, big_file):
    figures = {"name": "nginx", "hits": measure_hits(nginx, seconds, small_file, big_file)}
    times = []
    for _ in range(5):
        nginx.stop()
        began = time.perf_counter()
        nginx.start()
        times.append((time.perf_counter() - began) * 1000)
    figures["start_ms"] = statistics.median(times)
    return figures


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
    return {"wrk": first_line(["wrk", "--version"]), "nginx": first_line(["nginx", "-v"]),
            "wine": first_line(["wine", "--version"])}


def ratio(value, anchor):
    return f"{value / anchor:.2f}x" if anchor else "n/a"


def report(results, seconds):
    hits = [row for figures in results.values() for row in figures.get("hits", [])]
    anchor = {(row["set"], row["connections"]): row for row in hits if row["server"] == "nginx"}
    lines = ["# Benchmark results", "",
             f"Written by `make bench` (bench/bench.py) on {datetime.date.today().isoformat()}.", "",
             f"Machine: {machine_line()}.  ",
             "Tools: " + "; ".join(tool_versions().values()) + ".  ",
             f"Load: wrk, {seconds} s per row, requests spread over the whole set, \"Connection: Keep-Alive\".",
             "Servers: `native` = quillet-resource-server (native build); `wine` = quillet-resource-server.exe "
             "under Wine; `nginx` = static files, sendfile on, access log off, 2 workers. wrk and the server "
             "share the machine's cores.", ""]

    lines += ["## Cache hits: 1,000 resources of 1-64 KiB", "",
              "| server | connections | requests/s | p50 ms | p99 ms | errors | req/s vs nginx | p99 vs nginx |",
              "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for row in (r for r in hits if r["set"] == "small"):
        peer = anchor.get(("small", row["connections"]))
        lines.append(f"| {row['server']} | {row['connections']} | {row['rps']:,.0f} | {row['p50_us'] / 1000:.2f} | "
                     f"{row['p99_us'] / 1000:.2f} | {row['errors']} | "
                     f"{ratio(row['rps'], peer['rps']) if peer else 'n/a'} | "
                     f"{ratio(row['p99_us'], peer['p99_us']) if peer else 'n/a'} |")
    lines += ["", "## Cache hits: one 16 MiB resource", "",
              "| server | connections | MiB/s | p50 ms | p99 ms | errors | MiB/s vs nginx |",
              "|---|---:|---:|---:|---:|---:|---:|"]
    for row in (r for r in hits if r["set"] == "16m"):
        peer = anchor.get(("16m", row["connections"]))
        lines.append(f"| {row['server']} | {row['connections']} | {row['bytes_per_s'] / MIB:,.0f} | "
                     f"{row['p50_us'] / 1000:.1f} | {row['p99_us'] / 1000:.1f} | {row['errors']} | "
                     f"{ratio(row['bytes_per_s'], peer['bytes_per_s']) if peer else 'n/a'} |")

    local = [figures for name, figures in results.items() if name != "nginx"]
    lines += ["", f"## Cold misses: {COLD_COUNT} uncached resources, one keep-alive connection", "",
              "Through the server (fetch from the origin, store, answer) against the same requests sent "
              "straight to the origin (nginx); medians of 3, each repeat with paths never asked before. "
              "\"store\" is what creating, writing and renaming files of the same sizes in the cache folder "
              "costs by itself on this file system.", "",
              "| server | through the server s | straight from the origin s | ratio | store s |",
              "|---|---:|---:|---:|---:|"]
    for figures in local:
        through, direct, store = figures["cold"]
        lines.append(f"| {figures['name']} | {through:.3f} | {direct:.3f} | {ratio(through, direct)} | "
                     f"{store:.3f} |")

    lines += ["", "## Cost by size, and peak memory (VmHWM of the server process)", "",
              "| server | size | miss s | hit s | peak on miss MiB | x size | peak on hit MiB | x size |",
              "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for figures in local:
        for size, cost in figures["sizes"].items():
            mib = int(size)
            lines.append(f"| {figures['name']} | {mib} MiB | {cost['miss_s']:.3f} | {cost['hit_s']:.3f} | "
                         f"{cost['miss_peak'] / MIB:.0f} | {cost['miss_peak'] / (mib * MIB):.2f} | "
                         f"{cost['hit_peak'] / MIB:.0f} | {cost['hit_peak'] / (mib * MIB):.2f} |")
    lines += ["", "| server | 64 MiB miss / 16 MiB miss |", "|---|---:|"]
    for figures in local:
        sizes = figures["sizes"]
        lines.append(f"| {figures['name']} | {ratio(sizes['64']['miss_s'], sizes['16']['miss_s'])} |")

    lines += ["", "## Start to first answered request (median of 5)", "",
              "| server | ms | vs nginx |", "|---|---:|---:|"]
    nginx_start = results.get("nginx", {}).get("start_ms")
    for name, figures in results.items():
        lines.append(f"| {name} | {figures['start_ms']:.0f} | "
                     f"{ratio(figures['start_ms'], nginx_start) if nginx_start else 'n/a'} |")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=5, help="duration of each wrk row")
    parser.add_argument("--only", default="native,wine,nginx", help="servers to measure")
    parser.add_argument("--build", default=str(ROOT / "build"), help="build folder holding the servers")
    parser.add_argument("--output", default=str(ROOT / "bench" / "RESULTS.md"))
    args = parser.parse_args(argv)
    wanted = args.only.split(",")
    for program in ("wrk", "nginx"):
        if not shutil.which(program):
            raise SystemExit(f"bench: {program} is missing: run scripts/bootstrap --bench")
    WORK.mkdir(parents=True, exist_ok=True)
    log("preparing the resource set")
    make_files()
    small_file = write_paths("small-paths.txt", SMALL_PATHS)
    big_file = write_paths("big-paths.txt", [BIG_PATH])

    nginx = Nginx()
    nginx.start()
    results = {}
    build = Path(args.build).resolve()
    wine = WineServer(build)
    try:
        if "native" in wanted:
            results["native"] = measure_server(NativeServer(build), args.seconds, small_file, big_file)
        if "wine" in wanted:
            results["wine"] = measure_server(wine, args.seconds, small_file, big_file)
        if "nginx" in wanted:
            results["nginx"] = measure_nginx(nginx, args.seconds, small_file, big_file)
    finally:
        wine.close_session()
        nginx.stop()
    (WORK / (Path(args.output).stem + ".json")).write_text(json.dumps(results, indent=1))
    text = report(results, args.seconds)
    Path(args.output).write_text(text)
    print(text)
    log(f"written to {args.output}")


if __name__ == "__main__":
    sys.exit(main())
