#!/usr/bin/python3
"""The demo origin: one loopback server playing the three hosts Quillet talks
to, so that `make run` shows the whole program without the internet.

- update CDN: /weiduan/Zelmic/ver.txt advertises the built-in version, so a
  demo run never updates;
- the game's site: the game-code page /client/gamecode/kolt/ with a link to
  the play page /full/play_gamecode/?client=1&sid=demo, which is the demo game;
- upstream resource CDN: /wz_cdn/cdn/demo/... serves the demo game's
  resources, which the game page loads through the base address given in its
  "remark" parameter, that is through Quillet's local server.

Every response carries a Content-Length; every request is logged."""
import argparse
import hashlib
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import urlsplit

GAME = Path(__file__).resolve().parent / "game"
BUILT_IN_VERSION = "1.0.5"
PLAY_PATH = "/full/play_gamecode/"
TYPES = {".html": "text/html; charset=utf-8", ".js": "application/javascript", ".json": "application/json",
         ".png": "image/png"}

GAME_CODE_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quillet demo: game code</title></head>
<body style="background:#111a2a;color:#f0d890;font:16px sans-serif">
<h1>Quillet demo site</h1>
<p><a style="color:#f0d890" href="/full/play_gamecode/?client=1&amp;sid=demo">Play the demo game</a></p>
</body></html>
"""


class DemoHandler(BaseHTTPRequestHandler):
    server_version = "QuilletDemoOrigin/1.0"
    log_lock = threading.Lock()
    log_file = None

    def do_GET(self):  # noqa: N802 (the standard library's name)
        path = urlsplit(self.path).path
        if path == "/weiduan/Zelmic/ver.txt":
            text = f"version={BUILT_IN_VERSION}\nmd5={hashlib.md5(b'').hexdigest()}\nexe=Quillet.exe\n"
            self.answer(200, text.encode(), "text/plain")
        elif path == "/client/gamecode/kolt/":
            self.answer(200, GAME_CODE_PAGE.encode(), TYPES[".html"])
        elif path == PLAY_PATH:
            self.answer(200, (GAME / "index.html").read_bytes(), TYPES[".html"])
        elif path.startswith("/wz_cdn/cdn/demo/"):
            name = path[len("/wz_cdn/cdn/demo/"):]
            file = GAME / name
            if "/" in name or name.startswith(".") or not file.is_file():
                self.answer(404, b"not found", "text/plain")
            else:
                self.answer(200, file.read_bytes(), TYPES.get(file.suffix, "application/octet-stream"))
        else:
            self.answer(404, b"not found", "text/plain")

    def answer(self, status, body, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):  # noqa: A002 (the standard library's name)
        line = "%s %s\n" % (self.log_date_time_string(), format % args)
        with self.log_lock:
            sys.stdout.write(line)
            sys.stdout.flush()
            if self.log_file:
                self.log_file.write(line)
                self.log_file.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=18500)
    parser.add_argument("--log", help="also append every request to this file")
    args = parser.parse_args()
    if args.log:
        DemoHandler.log_file = open(args.log, "a", encoding="utf-8")
    server = ThreadingHTTPServer(("127.0.0.1", args.port), DemoHandler)
    server.daemon_threads = True
    print(f"demo origin: listening on http://127.0.0.1:{args.port}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
