"""The live simulator: the real daemon under a temporary root, with the
end-to-end tests' control server, a music service holding a made-up
catalogue and a sequencer stand-in, and a page on 127.0.0.1 that stands in
for the instrument's web interface.

    python3 sim/live.py [--port N] [--speed F]

The page reads the JSON files the daemon publishes (served from the root's
/usr/local/www/ctrl/ as /ctrl/NAME) and sends control elements through
/api/send, as the control server would pass them on. /api/state gives the
sequencer stand-in, the service's failure mode and the log of the control
link and of the service's requests. Ctrl-C or SIGTERM stops everything and
removes the root."""

import argparse
import json
import os
import re
import signal
import sys
import threading
import time
import http.server

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
sys.path.insert(0, HERE)

from fakes import Daemon, DeviceRoot, FakeControlServer, ondemand_binary  # noqa: E402
from sequencer import Sequencer  # noqa: E402
from service import Catalogue, LiveService  # noqa: E402

PAGE = os.path.join(HERE, "page")
STATIC = {"/": ("index.html", "text/html"), "/live.js": ("live.js", "text/javascript"),
          "/live.css": ("live.css", "text/css")}
# The daemon ends a request that has run this long (its run limit, which it
# reads from ONDEMAND_CURL_LIMIT_MS), so a stalled service shows its error
# within seconds rather than minutes.
CURL_LIMIT_MS = 10000
LOG_KEPT = 2000


class Simulator:
    def __init__(self, speed):
        self.started = time.monotonic()
        self.log = []  # {"n", "t", "kind": "to"/"from"/"service", "text"}
        self._log_lock = threading.Lock()
        self._send_lock = threading.Lock()
        self.root = DeviceRoot(hostname="od-live")
        self.catalogue = Catalogue()
        self.service = LiveService(self.catalogue, on_request=self._request_seen)
        self.service.write_base_url(self.root)
        # A member whose tokens are stored: switching on needs no login.
        self.root.write("/usr/local/olc/api_token.txt", "access-0")
        self.root.write("/usr/local/olc/api_refresh_token.txt", "refresh-0")
        self.control = FakeControlServer(self.root.socket_path, write_gap=0.01)
        self.sequencer = Sequencer(self.send, self._song_length, speed)
        self._watcher = threading.Thread(target=self._watch_messages, daemon=True)
        self._watcher.start()
        os.environ["ONDEMAND_CURL_LIMIT_MS"] = str(CURL_LIMIT_MS)
        self.daemon = Daemon(self.root, ("-d",))

    def _note(self, kind, text):
        with self._log_lock:
            n = self.log[-1]["n"] + 1 if self.log else 1
            self.log.append({"n": n, "t": round(time.monotonic() - self.started, 3),
                             "kind": kind, "text": text})
            del self.log[:-LOG_KEPT]

    def _request_seen(self, request):
        form = "&".join(f"{name}={value}" for name, value in request.form_pairs)
        self._note("service", f"{request.method} {request.target} -> {request.status}"
                   + (f"  [{form}]" if form else ""))

    def _song_length(self, song_id):
        song = self.catalogue.songs.get(song_id)
        return song.length if song else None

    def _watch_messages(self):
        seen = 0
        while True:
            with self.control.changed:
                self.control.changed.wait_for(lambda: len(self.control.messages) > seen
                                              or self.control.peer_closed)
                new = self.control.messages[seen:]
                closed = self.control.peer_closed
            seen += len(new)
            for message in new:
                self._note("from", message.rstrip("\n"))
                self.sequencer.heard(message)
            if closed and not new:
                self._note("from", "(the daemon closed the control link)")
                return

    def send(self, element):
        """Writes one element to the daemon, one writer at a time."""
        with self._send_lock:
            self._note("to", element)
            self.control.send(element, timeout=10)

    def state(self, after):
        with self._log_lock:
            log = [entry for entry in self.log if entry["n"] > after]
        return {"root": self.root.path, "daemon": self.daemon.alive(),
                "failure": self.service.failure, "sequencer": self.sequencer.snapshot(),
                "log": log}

    def close(self):
        self.sequencer.stop()
        status = self.daemon.stop()
        self.control.stop()
        self.service.close()
        self.root.remove()
        return status


class Handler(http.server.BaseHTTPRequestHandler):
    sim = None

    def log_message(self, *args):
        pass

    def _reply(self, status, body, kind="application/json"):
        data = body if isinstance(body, bytes) else body.encode()
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        path, _, query = self.path.partition("?")
        if path in STATIC:
            name, kind = STATIC[path]
            with open(os.path.join(PAGE, name), "rb") as f:
                return self._reply(200, f.read(), kind + "; charset=utf-8")
        published = re.fullmatch(r"/ctrl/(ondemand_[A-Za-z]+\.json)", path)
        if published:
            try:
                with open(os.path.join(self.sim.root.ctrl_dir, published.group(1)), "rb") as f:
                    return self._reply(200, f.read())
            except FileNotFoundError:
                return self._reply(404, "{}")
        if path == "/api/state":
            after = int(re.search(r"after=(\d+)", query).group(1)) if "after=" in query else 0
            return self._reply(200, json.dumps(self.sim.state(after)))
        self._reply(404, "{}")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        try:
            data = json.loads(self.rfile.read(length) or b"{}")
        except ValueError:
            return self._reply(400, '{"error":"not JSON"}')
        sim = self.sim
        try:
            if self.path == "/api/send":
                for element in data.get("elements", []):
                    sim.send(element)
            elif self.path == "/api/resume":
                sim.sequencer.resume()
            elif self.path == "/api/fail":
                sim.service.failure = data.get("mode") or None
            elif self.path == "/api/speed":
                sim.sequencer.set_speed(max(0.1, float(data.get("speed", 1))))
            else:
                return self._reply(404, "{}")
        except (AssertionError, OSError, ValueError) as error:
            return self._reply(500, json.dumps({"error": str(error)}))
        self._reply(200, "{}")


def main():
    parser = argparse.ArgumentParser(description="The daemon with a page on 127.0.0.1.")
    parser.add_argument("--port", type=int, default=8020, help="0 picks a free one")
    parser.add_argument("--speed", type=float, default=20.0,
                        help="simulated seconds of a song per real second")
    args = parser.parse_args()
    if not os.access(ondemand_binary(), os.X_OK):
        sys.exit(f"no daemon at {ondemand_binary()}: run scripts/demo --live, which builds it")

    sim = Simulator(args.speed)
    Handler.sim = sim
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    except OSError as error:
        sim.close()
        sys.exit(f"cannot listen on 127.0.0.1:{args.port}: {error}")
    server.daemon_threads = True
    # SIGTERM and Ctrl-C end the server's loop from another thread (shutdown()
    # waits for the loop), and the daemon and the root go after it.
    def stop(signo, frame):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print(f"ondemand: {ondemand_binary()}")
    print(f"root:     {sim.root.path}")
    print(f"service:  {sim.service.base_url}")
    print(f"page:     http://127.0.0.1:{server.server_address[1]}/", flush=True)
    print("Open the page in a browser; Ctrl-C ends the daemon and removes the root.",
          flush=True)
    try:
        server.serve_forever()
    finally:
        server.server_close()
        status = sim.close()
        print(f"(daemon ended with status {status}, root removed)", flush=True)


if __name__ == "__main__":
    main()
