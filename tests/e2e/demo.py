"""A scripted session with the daemon, printed as a transcript.

The daemon runs under a fresh temporary root with the same fake control
server and music service as the end-to-end tests. The session is the list
SESSION below: add steps there to show more of the daemon.

    → an element the control server sends, or a line typed on the console
    ← a message the daemon sent back
"""

import json
import os
import sys
from dataclasses import dataclass, field

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fakes import (Daemon, DeviceRoot, FakeControlServer, FakeMusicService,  # noqa: E402
                   ondemand_binary, run_ondemand, wait_until)
from fakes.answers import (FEATURES_OA, LOGIN_OK, error_answer, items_answer,  # noqa: E402
                           song_item)
from fakes.catalogue import (genre_entry, genres_answer, preset_entry,  # noqa: E402
                             presets_answer, recommend_answer, recommend_entry)
from fakes.playlists import playlist_entry, playlists_answer  # noqa: E402
from fakes.published import CTRL_DIR, wait_for_file  # noqa: E402
from fakes.songs import image_file, midi_file, mp3_file, serve_song, song_archive  # noqa: E402


# -- steps --------------------------------------------------------------------

@dataclass
class Say:
    """A heading for what follows."""
    text: str

    def run(self, s):
        s.out(f"\n## {self.text}\n")


@dataclass
class Expect:
    """Waits for `count` more messages from the daemon and prints them."""
    count: int

    def run(self, s):
        s.show_answers(self.count)


@dataclass
class Send:
    """The control server sends one element; `answers` messages are expected."""
    element: str
    answers: int = 0

    def run(self, s):
        s.out(f"→ {self.element}")
        s.control.send(self.element)
        s.show_answers(self.answers)


@dataclass
class ShowFiles:
    """Prints published JSON files (all of them when no names are given)."""
    names: list = field(default_factory=list)

    def run(self, s):
        s.control.sync()  # the files of the last element's handling are written
        for name in self.names or s.root.listdir(CTRL_DIR):
            text = s.root.read(f"{CTRL_DIR}/{name}")
            s.out(f"{CTRL_DIR}/{name}:")
            s.out(indent(json.dumps(json.loads(text), indent=2, ensure_ascii=False)))


@dataclass
class Route:
    """Sets what the music service answers to METHOD PATH."""
    method: str
    path: str
    status: int = 200
    body: str = ""

    def run(self, s):
        s.service.route(self.method, self.path, self.status, self.body)
        s.out(f"(the service answers {self.method} {self.path} with {self.status})")


@dataclass
class AwaitFile:
    """Waits until the published file `name` ("song", "status" ...) holds
    `text` (answers arrive later than the element that asked for them)."""
    name: str
    text: str

    def run(self, s):
        wait_for_file(s.root, self.name, lambda text: self.text in text, timeout=15)


@dataclass
class AwaitMessage:
    """Waits for a message from the daemon that contains `text` and prints
    every message up to it (for answers whose number depends on the service)."""
    text: str

    def run(self, s):
        s.control.wait_for(self.text, after=s.shown, timeout=15)
        index = next(i for i, m in enumerate(s.control.messages[s.shown:], s.shown)
                     if self.text in m)
        s.show_answers(index + 1 - s.shown)


@dataclass
class ServeSong:
    """The service hands out a song: its download-address answer and its
    files (element names "midi", "zip", "mp3", "image" to bytes)."""
    song_id: int
    files: dict

    def run(self, s):
        paths = serve_song(s.service, self.song_id, self.files)
        s.out(f"(the service answers GET /items/{self.song_id}/downloadurls with the addresses of "
              + ", ".join(f"{kind} {path} ({len(self.files[kind])} bytes)"
                          for kind, path in paths.items()) + ")")


@dataclass
class ShowSongDirs:
    """Lists the files in the song directories below /usr/local/ondemand."""

    def run(self, s):
        s.control.sync()
        base = "/usr/local/ondemand"
        names = s.root.listdir(base) if s.root.exists(base) else []
        s.out(f"{base}: " + (", ".join(names) if names else "(empty)"))
        for name in names:
            s.out(f"  {name}/: " + ", ".join(s.root.listdir(f"{base}/{name}")))


@dataclass
class ShowSession:
    """Prints the play-session file, which lets a play be reported after a
    power cut; with `until`, once the file holds that text (the file is
    written when the service's answer to the play event is in)."""
    until: str = ""
    path: str = "/usr/local/session/sssn"

    def run(self, s):
        s.control.sync()
        if self.until:
            assert wait_until(lambda: s.root.exists(self.path)
                              and self.until in s.root.read(self.path), timeout=15), (
                f"{self.path} never held {self.until}")
        s.out(f"{self.path}: " + (s.root.read(self.path) if s.root.exists(self.path)
                                  else "(none)"))


@dataclass
class AwaitRequest:
    """Waits until the music service has received a request for `path`."""
    path: str

    def run(self, s):
        done = s.service.wait_until(lambda: any(r.path == self.path for r in s.service.requests),
                                    timeout=15)
        assert done, f"the service got no request for {self.path}"


@dataclass
class ShowRequests:
    """Prints the requests the music service received since the last time."""

    def run(self, s):
        for request in s.service.requests[s.requests_shown:]:
            token = request.header("token")
            fields = "&".join(f"{n}={v}" for n, v in request.form_pairs)
            s.out(f"  service got {request.method} {request.target}"
                  + (f"  [token: {token}]" if token else "") + (f"  {fields}" if fields else ""))
        s.requests_shown = len(s.service.requests)


@dataclass
class Console:
    """Runs `ondemand -d -t` and types each line; a line may be paired with a
    text to wait for on the console's output before the next is typed:
    Console([("login user secret", "token"), "do_song_list"])."""
    lines: list

    def run(self, s):
        console = Daemon(s.root, ("-d", "-t"), stdin_pipe=True)
        shown = 0

        def show_output():
            nonlocal shown
            text = console.stderr_text()
            if text[shown:].strip("\n"):
                s.out(indent(text[shown:].strip("\n")))
            shown = len(text)

        try:
            for line in self.lines:
                text, until = (line, None) if isinstance(line, str) else line
                s.out(f"→ (console) {text}")
                console.write_stdin(text + "\n")
                if until:
                    console.wait_for_stderr(until, timeout=15)
                show_output()
            console.close_stdin()
            status = console.wait_exit()
        finally:
            console.stop()
        show_output()
        s.out(f"(console ended with status {status})")


@dataclass
class Run:
    """A one-shot run of ondemand with these arguments."""
    args: list

    def run(self, s):
        done = run_ondemand(s.root, *self.args)
        s.out("$ ondemand " + " ".join(quote(a) for a in self.args))
        for stream, data in (("stdout", done.stdout), ("stderr", done.stderr)):
            if data:
                s.out(f"  {stream}:")
                s.out(indent(data.decode(errors="replace").rstrip("\n"), 4))
        s.out(f"  (exit status {done.returncode})")


SONGS = items_answer([
    song_item(2, title="Clair de Lune", artist="Debussy"),
    song_item(1, title="Gymnop\u00e9die No. 1", artist="Satie"),
    song_item(3, title="Nocturne &quot;Op. 9&quot;", genre=None),  # lacks a genre: left out
])

PRESETS = presets_answer([preset_entry(12, "Evening classics"), preset_entry(14, "Waltzes")])
MINE = playlists_answer([playlist_entry(9, "My Playlist", 1)])
GENRES = genres_answer([genre_entry(1, "Classical", 1), genre_entry(2, "Jazz", 2)])
RECOMMENDED = recommend_answer([recommend_entry("For you", 1, [song_item(5, title="Reverie")])])
# A playlist's songs keep their position in the playlist as display order.
EVENING = items_answer([
    song_item(2, display_order="0", title="Clair de Lune", artist="Debussy"),
    song_item(1, display_order="1", title="Gymnop\u00e9die No. 1", artist="Satie"),
])

QUEUED = items_answer([
    song_item(4, display_order="0", title="Arabesque No. 1", artist="Debussy"),
    song_item(5, display_order="1", title="Gnossienne No. 1", artist="Satie"),
])

SESSION = [
    Say("The daemon starts (ondemand -d) and registers with the control server"),
    Expect(2),
    ShowFiles(["ondemand_status.json"]),
    Say("The web interface switches the service on"),
    Send('<set_ondemand status="on"/>', answers=4),
    Send('<rcs status="to_standby"/>', answers=2),
    Say("The test console (ondemand -d -t) logs in and searches by hand"),
    Route("POST", "/auth/login", body=LOGIN_OK),
    Route("GET", "/items", body=SONGS),
    Route("GET", "/user/account/features", body=FEATURES_OA),
    Console([("login user@example.com secret", "contents : refresh-1"),
             ("search piano", "*     2: Clair de Lune"), "do_song_list"]),
    ShowRequests(),
    Say("A member's account (not gratis): the start command runs the whole start-up chain, "
        "each step asked once the answer before it is in: account features, preset "
        "playlists, the user's playlists, genres, recommended playlists; the last answer "
        "closes the connecting dialog"),
    Send('<set_ondemand cmd="setOption" gratis="false"/>'),
    Route("GET", "/cms/playlists", body=PRESETS),
    Route("GET", "/user/playlists", body=MINE),
    Route("GET", "/items/genres", body=GENRES),
    Route("GET", "/items/recommend/playlists", body=RECOMMENDED),
    Send('<set_ondemand cmd="ondemandStart" pfix="d" id="1"/>', answers=4),
    AwaitFile("recommendPlaylist", "For you"),
    AwaitFile("dialog", '"isShow":false'),
    ShowRequests(),
    ShowFiles(["ondemand_status.json", "ondemand_dialog.json", "ondemand_presetPlaylist.json"]),
    Say("A failing search shows the service's message in an error dialog, which the user "
        "confirms"),
    Route("GET", "/items", 500, error_answer("Search is resting")),
    Send('<set_ondemand cmd="search" title="organ"/>'),
    AwaitFile("dialog", '"type":"error"'),
    ShowRequests(),
    ShowFiles(["ondemand_dialog.json"]),
    Send('<set_ondemand cmd="dlgConfirmed"/>'),
    Say("The interface opens preset playlist 12: the service answers its songs"),
    Route("GET", "/cms/playlists/12", body=EVENING),
    Send('<set_ondemand cmd="presetPlaylist" playlistID="12"/>'),
    AwaitFile("presetPlaylist", "Clair de Lune"),
    ShowRequests(),
    Say("Its first song is played: the play song's addresses and files are fetched, then the "
        "next song's; the archive is unpacked and the song is loaded into the sequencer"),
    ServeSong(2, {"zip": song_archive(), "image": image_file()}),
    ServeSong(1, {"midi": midi_file(3), "mp3": mp3_file(2)}),
    Route("POST", "/user/history/event/play/2/", body="<response/>"),
    Route("POST", "/user/history/event/stop/2/", body="<response/>"),
    Send('<set_ondemand cmd="ondemandPlaySong" category="preset" playSongIndex="0" '
         'playlistID="12"/>'),
    AwaitMessage('status="load"'),
    ShowRequests(),
    ShowSongDirs(),
    ShowFiles(["ondemand_playmanager.json"]),
    Say("The sequencer reports the song loaded and stopped: the daemon starts it; the first "
        "\"play\" is reported to the service as a play from preset playlist 12 (pinfo=pp), "
        "with a new session id, and the session is written to its file"),
    Send('<seq status="load"/>'),
    Send('<seq status="stop"/>', answers=1),
    Send('<seq status="play" time="0"/>', answers=1),
    AwaitRequest("/user/history/event/play/2/"),
    ShowRequests(),
    ShowSession(until='sec="0"'),
    Say("The sequencer reports its position: the file keeps the furthest second reached, "
        "also after a seek back"),
    Send('<seq status="play" time="95400"/>'),
    Send('<seq status="play" time="12000"/>'),
    ShowSession(),
    Say("The song ends: the play is closed with a stop event that carries the furthest "
        "second, and the playlist's next song is loaded"),
    Send('<seq status="nosong"/>'),
    AwaitRequest("/user/history/event/stop/2/"),
    AwaitMessage('status="load"'),
    ShowRequests(),
    ShowFiles(["ondemand_playmanager.json"]),
    Say("Two songs of a search go into the play queue, which then plays from its first "
        "entry: its addresses and files, then the next song's, and the load message"),
    Route("GET", "/items", body=QUEUED),
    Send('<set_ondemand cmd="search" title="arabesque"/>'),
    AwaitFile("song", "Arabesque"),
    ServeSong(4, {"zip": song_archive()}),
    ServeSong(5, {"midi": midi_file(2)}),
    Route("POST", "/user/history/event/play/4/", body="<response/>"),
    Send('<set_ondemand cmd="addQueueBtm" songId="start"/>'),
    Send('<set_ondemand cmd="addQueueBtm" songId="4"/>'),
    Send('<set_ondemand cmd="addQueueBtm" songId="5"/>'),
    Send('<set_ondemand cmd="addQueueBtm" songId="end"/>'),
    AwaitMessage('status="load"'),
    ShowRequests(),
    Say("The loaded song has left the queue; the play manager shows it and the next song"),
    ShowFiles(["ondemand_queuelist.json", "ondemand_playmanager.json"]),
    Say("The sequencer reports the song loaded and stopped, and plays it"),
    Send('<seq status="load"/>'),
    Send('<seq status="stop"/>', answers=1),
    Send('<seq status="play" time="0"/>'),
    AwaitRequest("/user/history/event/play/4/"),
    ShowRequests(),
    Say("The instrument goes to standby: the service is switched off, the downloads and the "
        "session file removed"),
    Send('<rcs status="to_standby"/>', answers=2),
    ShowSongDirs(),
    ShowSession(),
    Say("One-shot options"),
    Run(["-v"]),
    Run(["-d", "-x", '<a b="1"><c>t</c></a>']),
]


# -- the session ----------------------------------------------------------------

def indent(text, width=2):
    return "\n".join(" " * width + line for line in text.splitlines())


def quote(arg):
    return f"'{arg}'" if any(c in arg for c in " <>\"'") else arg


class Session:
    def __init__(self):
        self.root = DeviceRoot()
        self.control = FakeControlServer(self.root.socket_path)
        self.service = FakeMusicService()
        self.service.write_base_url(self.root)
        self.daemon = None
        self.shown = 0
        self.requests_shown = 0

    def out(self, text):
        print(text, flush=True)

    def show_answers(self, count):
        messages = self.control.wait_for_count(self.shown + count, timeout=10)
        for message in messages[self.shown:]:
            self.out(f"← {message.rstrip()}")
        self.shown += count

    def run(self, steps):
        self.out(f"ondemand: {ondemand_binary()}")
        self.out(f"root:     {self.root.path}")
        self.out(f"service:  {self.service.base_url}")
        self.daemon = Daemon(self.root, ("-d",))
        for step in steps:
            step.run(self)
        self.out("\n## The daemon's debug log")
        self.out(indent(self.daemon.stderr_text().rstrip("\n")))

    def close(self):
        if self.daemon:
            self.daemon.stop()
        self.control.stop()
        self.service.close()
        self.root.remove()


def main():
    if not os.access(ondemand_binary(), os.X_OK):
        sys.exit(f"no daemon at {ondemand_binary()}: run scripts/demo, which builds it")
    session = Session()
    try:
        session.run(SESSION)
    except AssertionError as error:
        print(f"\ndemo stopped: {error}", file=sys.stderr)
        return 1
    finally:
        session.close()
    print("\n(daemon stopped, root removed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
