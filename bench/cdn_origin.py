#!/usr/bin/python3
"""A CDN-like origin for the page-load benchmark, in user space (the kernel
here has no netem): every answer begins DELAY milliseconds after its
request, and its body goes out at RATE bytes a second on each connection.
It serves the files under ROOT by their path (a query string is ignored, as
a CDN ignores a cache-busting one), keeps HTTP/1.1 connections alive, and
counts the requests it answers.

    cdn_origin.py --root DIR --port P [--port P2 ...] [--delay-ms 40] [--rate BYTES]
                  [--max-age SECONDS]

--rate 0 sends as fast as the socket takes it. --max-age adds
"Cache-Control: max-age=SECONDS" to every answer (the row of a browser's own
cache). Control paths: /__count answers the number of file requests so far,
/__reset sets it to 0.
"""

import argparse
import asyncio
import mimetypes
import signal
from pathlib import Path

# Bodies go out in slices this often, each slice the rate's share.
SLICE_SECONDS = 0.01


class Origin:
    def __init__(self, root, delay_ms, rate, max_age):
        self.root = Path(root).resolve()
        self.delay = delay_ms / 1000.0
        self.rate = rate
        self.max_age = max_age
        self.count = 0
        self.files = {}

    def body(self, path):
        if path not in self.files:
            target = (self.root / path.lstrip("/")).resolve()
            if self.root not in target.parents or not target.is_file():
                return None
            self.files[path] = target.read_bytes()
        return self.files[path]

    async def send_body(self, writer, body):
        if not self.rate:
            writer.write(body)
            await writer.drain()
            return
        step = max(1, int(self.rate * SLICE_SECONDS))
        loop = asyncio.get_running_loop()
        began = loop.time()
        for offset in range(0, len(body), step):
            writer.write(body[offset:offset + step])
            await writer.drain()
            # Paced against the start, so that slow wake-ups do not add up.
            due = began + (offset + step) / self.rate
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)

    async def answer(self, writer, target):
        path = target.split("?", 1)[0]
        if path == "/__count":
            text = str(self.count).encode()
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(text), text))
            return
        if path == "/__reset":
            self.count = 0
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
            return
        self.count += 1
        body = self.body(path)
        if self.delay:
            await asyncio.sleep(self.delay)
        if body is None:
            writer.write(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            return
        kind = mimetypes.guess_type(path)[0] or "application/octet-stream"
        head = "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %d\r\n" % (kind, len(body))
        if self.max_age is not None:
            head += "Cache-Control: max-age=%d\r\n" % self.max_age
        writer.write((head + "\r\n").encode())
        await self.send_body(writer, body)

    async def serve(self, reader, writer):
        try:
            while True:
                head = await reader.readuntil(b"\r\n\r\n")
                line = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
                if len(line) < 2:
                    break
                await self.answer(writer, line[1])
                await writer.drain()
                if b"connection: close" in head.lower():
                    break
        except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
            pass
        finally:
            writer.close()


async def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, action="append", required=True)
    parser.add_argument("--delay-ms", type=float, default=40)
    parser.add_argument("--rate", type=int, default=2 << 20)
    parser.add_argument("--max-age", type=int)
    args = parser.parse_args()
    origin = Origin(args.root, args.delay_ms, args.rate, args.max_age)
    servers = [await asyncio.start_server(origin.serve, "127.0.0.1", port, backlog=1024) for port in args.port]
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    print("cdn_origin: serving %s on %s" % (origin.root, args.port), flush=True)
    await stop.wait()
    for server in servers:
        server.close()


if __name__ == "__main__":
    asyncio.run(main())
