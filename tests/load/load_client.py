#!/usr/bin/env python3
"""Keep-alive load generator for the local resource server.

Opens N connections to the server at once, then sends R requests in total
over them, one request at a time per connection (the server answers only the
first request of what it has gathered, so nothing is pipelined).  Every
request asks for keep-alive with the exact header line the server
recognises.  Each response is checked: status line, Connection and
Content-Length headers, and the MD5 of the body against the body the test
origin produces for that path.

The request mix (see ``RequestPlan``): most requests go to a pool of hot
paths, which are served from the cache after their first request; a share
goes to a new path each time (a miss that is fetched and stored); a small
share goes to a path the origin answers with 404, which is fetched every time
and never stored.  All generated paths are /len/<n> with a query string that
makes the cache key unique; the origin ignores the query.

Standard library only.  As a script it prints one JSON object:

    load_client.py [--port 12315] [--connections 1000] [--requests 200000]
"""

import argparse
import asyncio
import hashlib
import json
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from test_origin import NOT_FOUND_HTML, pattern  # noqa: E402

HOST = "127.0.0.1"
PORT = 12315
HEAD_LIMIT = 16 * 1024
# The server has stalled when no response at all has completed for this
# long while requests are outstanding: every request still waiting is then
# counted as a failure and its connection ends. This bounds a hang, not the
# latency of one request: with 1,000 requests in flight a response waits for
# the ones ahead of it (under Wine, 1,000 first fetches of new paths queue
# for seconds behind the single wineserver), and how long depends on the
# machine.
STALL_TIMEOUT = 30.0
CONNECT_TIMEOUT = 30.0


def body_for(path):
    """The body the test origin sends for one of the generated paths."""
    route = path.split("?", 1)[0]
    if route == "/notfound":
        return NOT_FOUND_HTML
    if route.startswith("/len/"):
        return pattern(int(route[5:]))
    raise ValueError("no known body for %r" % path)


class RequestPlan:
    """Which path request i asks for; deterministic for a given seed."""

    def __init__(self, hot_paths=400, miss_every=10, notfound_every=50, seed=12315,
                 sizes=(0, 1, 100, 1000, 4096, 10000, 16384, 32768, 65536)):
        rng = random.Random(seed)
        self.sizes = sizes
        self.hot = ["/len/%d?hot=%d" % (rng.choice(sizes), k) for k in range(hot_paths)]
        self.miss_every = miss_every
        self.notfound_every = notfound_every
        self._seed = seed
        self._md5 = {}

    def path(self, i):
        if self.notfound_every and i % self.notfound_every == self.notfound_every - 1:
            return "/notfound?nf=%d" % (i % 7)
        if self.miss_every and i % self.miss_every == 0:
            return "/len/%d?miss=%d.%d" % (self.sizes[(i // self.miss_every) % len(self.sizes)], self._seed, i)
        return self.hot[(i * 7919) % len(self.hot)]

    def expected_md5(self, path):
        route = path.split("?", 1)[0]
        digest = self._md5.get(route)
        if digest is None:
            digest = hashlib.md5(body_for(path)).hexdigest()
            self._md5[route] = digest
        return digest


class Result:
    def __init__(self):
        self.connections_opened = 0
        self.connect_failures = 0
        self.requests_sent = 0
        self.responses_ok = 0
        self.failures = {}        # kind -> count
        self.first_failures = []  # a few examples for the report
        self.bytes_received = 0
        self.seconds = 0.0
        self.connect_seconds = 0.0
        self.slowest_response = 0.0   # seconds from a request's send to its whole body
        self.last_progress = time.monotonic()

    def fail(self, kind, detail):
        self.failures[kind] = self.failures.get(kind, 0) + 1
        if len(self.first_failures) < 10:
            self.first_failures.append("%s: %s" % (kind, detail))

    @property
    def failed(self):
        return sum(self.failures.values()) + self.connect_failures

    def as_dict(self):
        return {
            "connections": self.connections_opened,
            "connect_failures": self.connect_failures,
            "requests": self.requests_sent,
            "ok": self.responses_ok,
            "failed": self.failed,
            "failures": self.failures,
            "examples": self.first_failures,
            "bytes": self.bytes_received,
            "connect_seconds": round(self.connect_seconds, 2),
            "seconds": round(self.seconds, 2),
            "requests_per_second": round(self.requests_sent / self.seconds) if self.seconds else 0,
            "slowest_response_seconds": round(self.slowest_response, 2),
        }


def parse_head(head):
    """(status line, {lower-case name: value}) of a response head."""
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers[name.strip().lower()] = value.strip()
    return lines[0], headers


async def _connect(port, result):
    try:
        return await asyncio.wait_for(asyncio.open_connection(HOST, port, limit=HEAD_LIMIT * 4),
                                      CONNECT_TIMEOUT)
    except (OSError, asyncio.TimeoutError) as e:
        result.connect_failures += 1
        if len(result.first_failures) < 10:
            result.first_failures.append("connect: %r" % e)
        return None


class Hold:
    """Holds every connection after its first response until all of them
    have had one (or failed), so that the server holds them all at once;
    then calls on_held once and lets them go on."""

    def __init__(self, parties, on_held):
        self.waiting = parties
        self.on_held = on_held
        self.released = asyncio.Event()

    def leave(self):
        self.waiting -= 1
        if self.waiting == 0:
            try:
                self.on_held()
            finally:
                self.released.set()

    async def arrive(self):
        self.leave()
        await self.released.wait()


async def _drive(reader, writer, plan, counter, total, result, hold=None):
    """Sends requests on one connection until the plan's total is reached."""
    held = hold is None
    try:
        while True:
            i = counter[0]
            if i >= total:
                return
            counter[0] = i + 1
            path = plan.path(i)
            writer.write(b"GET " + path.encode("ascii") + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                         b"Connection: Keep-Alive\r\n\r\n")
            result.requests_sent += 1
            sent = time.monotonic()
            try:
                head = await reader.readuntil(b"\r\n\r\n")
                status, headers = parse_head(head)
                length = int(headers.get("content-length", "-1"))
                if status != "HTTP/1.0 200 OK" or length < 0:
                    result.fail("bad head", "%s: %r" % (path, head[:200]))
                    return
                body = await reader.readexactly(length)
            except asyncio.IncompleteReadError as e:
                result.fail("connection closed", "%s after %d bytes" % (path, len(e.partial)))
                return
            except asyncio.CancelledError:
                result.fail("stalled", "%s: no response anywhere for %.0f s" % (path, STALL_TIMEOUT))
                return
            except (asyncio.LimitOverrunError, OSError, ValueError) as e:
                result.fail(type(e).__name__, "%s: %r" % (path, e))
                return
            done = time.monotonic()
            result.last_progress = done
            result.slowest_response = max(result.slowest_response, done - sent)
            result.bytes_received += len(head) + length
            if headers.get("connection") != "Keep-Alive":
                result.fail("not kept alive", path)
                return
            if hashlib.md5(body).hexdigest() != plan.expected_md5(path):
                result.fail("corrupt body", "%s (%d bytes)" % (path, length))
                continue
            result.responses_ok += 1
            if not held:
                held = True
                await hold.arrive()
    finally:
        if not held:
            hold.leave()
        writer.close()


async def _cancel_on_stall(drives, result):
    """Cancels every connection still waiting once no response has completed
    for STALL_TIMEOUT seconds."""
    while True:
        await asyncio.sleep(1.0)
        if time.monotonic() - result.last_progress > STALL_TIMEOUT:
            for drive in drives:
                drive.cancel()
            return


async def run_load(port=PORT, connections=1000, requests=200000, plan=None, on_held=None):
    """Opens every connection first, then runs the requests over them.
    With on_held, each connection waits after its first response until every
    one has had its own, and on_held() is called at that moment, when the
    server holds them all. All connections are closed when this returns."""
    plan = plan or RequestPlan()
    result = Result()
    started = time.monotonic()
    opened = await asyncio.gather(*(_connect(port, result) for _ in range(connections)))
    pairs = [p for p in opened if p is not None]
    result.connections_opened = len(pairs)
    result.connect_seconds = time.monotonic() - started
    counter = [0]
    started = result.last_progress = time.monotonic()
    hold = Hold(len(pairs), on_held) if on_held else None
    drives = [asyncio.ensure_future(_drive(r, w, plan, counter, requests, result, hold)) for r, w in pairs]
    watchdog = asyncio.ensure_future(_cancel_on_stall(drives, result))
    await asyncio.gather(*drives)
    watchdog.cancel()
    result.seconds = time.monotonic() - started
    # Wait until every transport has really closed its socket.
    for _, writer in pairs:
        try:
            await writer.wait_closed()
        except OSError:
            pass
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=PORT)
    parser.add_argument("--connections", type=int, default=1000)
    parser.add_argument("--requests", type=int, default=200000)
    args = parser.parse_args(argv)
    result = asyncio.run(run_load(args.port, args.connections, args.requests))
    print(json.dumps(result.as_dict()))
    return 0 if result.failed == 0 and result.responses_ok == args.requests else 1


if __name__ == "__main__":
    sys.exit(main())
