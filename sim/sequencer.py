"""A stand-in for the instrument's song sequencer, in simulated time.

The daemon talks to the sequencer through the control server: it sends
`set_seq` elements (load a song, play, pause, go to a time) and reads the
sequencer's reports as `seq` elements. This stand-in answers as the tests'
sequencer does (fakes.play): a load is reported "load" then "stop", after
which the daemon says play or pause; while it plays it reports its position
(`<seq status="play" time="MS"/>`) and, at the song's end, "nosong". Time
runs `speed` times faster than the clock, so a song of minutes lasts seconds."""

import queue
import re
import threading
import time
import xml.etree.ElementTree as ET

# Real seconds between two position reports while a song plays.
REPORT_EVERY = 0.5


class Sequencer:
    def __init__(self, send, song_length, speed=20.0):
        """`send(element)` writes to the daemon; `song_length(id)` is the
        song's length in seconds (None when unknown)."""
        self._send = send
        self._song_length = song_length
        self.speed = speed
        self.state = "empty"  # empty, loaded, playing, paused, ended
        self.load_message = ""
        self.song_id = None
        self.length_ms = 0
        self.loads = 0
        self.reports = 0
        self.last_report = ""
        self._position_ms = 0.0
        self._since = time.monotonic()
        self._inbox = queue.Queue()
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    # -- fed by the simulator ------------------------------------------------

    def heard(self, message):
        """A message the daemon sent to the control server."""
        if message.startswith("<set_seq"):
            self._inbox.put(("daemon", message))

    def resume(self):
        """The play button: the control server has the sequencer play on."""
        self._inbox.put(("resume", None))

    def stop(self):
        self._inbox.put(("quit", None))
        self._thread.join(timeout=5)

    def snapshot(self):
        with self._lock:
            return {"state": self.state, "load": self.load_message, "songId": self.song_id,
                    "positionMs": int(self._position()), "lengthMs": self.length_ms,
                    "speed": self.speed, "loads": self.loads, "reports": self.reports,
                    "lastReport": self.last_report}

    def set_speed(self, speed):
        with self._lock:
            self._position_ms = self._position()
            self._since = time.monotonic()
            self.speed = speed

    # -- inside ------------------------------------------------------------------

    def _position(self):
        if self.state != "playing":
            return self._position_ms
        return self._position_ms + (time.monotonic() - self._since) * 1000 * self.speed

    def _report(self, status, with_time=True):
        element = (f'<seq status="{status}" time="{int(self._position())}"/>' if with_time
                   else f'<seq status="{status}"/>')
        with self._lock:
            self.reports += 1
            self.last_report = element
        self._send(element)

    def _set(self, state, position=None):
        with self._lock:
            self._position_ms = self._position() if position is None else position
            self._since = time.monotonic()
            self.state = state

    def _run(self):
        while True:
            timeout = REPORT_EVERY if self.state == "playing" else None
            try:
                what, message = self._inbox.get(timeout=timeout)
            except queue.Empty:
                what, message = "tick", None
            if what == "quit":
                return
            if what == "daemon":
                self._obey(message)
            elif what == "resume" and self.state in ("loaded", "paused"):
                self._set("playing")
                self._report("play")
            if self.state == "playing":
                if self._position() >= self.length_ms:
                    # The last position is the song's end, then no song.
                    self._set("ended", self.length_ms)
                    self._report("play")
                    self._report("nosong", with_time=False)
                elif what == "tick":
                    self._report("play")

    def _obey(self, message):
        try:
            element = ET.fromstring(message)
        except ET.ParseError:
            return
        status, at = element.get("status"), element.get("time")
        if status == "load":
            path = element.get("midi_path", "")
            found = re.search(r"/usr/local/ondemand/(\d+)/", path)
            song_id = int(found.group(1)) if found else None
            with self._lock:
                self.load_message = message.strip()
                self.song_id = song_id
                self.length_ms = (self._song_length(song_id) or 60) * 1000
                self.loads += 1
            self._set("loaded", 0)
            # Loaded and at rest: the daemon answers with play or pause.
            self._report("load", with_time=False)
            self._report("stop", with_time=False)
        elif status == "play" and self.state in ("loaded", "paused"):
            self._set("playing")
            self._report("play")
        elif status == "pause" and self.state == "playing":
            self._set("paused")
            self._report("pause")
        elif at is not None and at.isdigit():
            self._set(self.state, min(int(at), self.length_ms))
            if self.state in ("playing", "paused"):
                self._report(self.state.replace("playing", "play"))
