"""The state files the daemon publishes for the web interface, in
/usr/local/www/ctrl/ondemand_NAME.json: readers of what they hold, and
builders of the exact text each should hold.

A built text has its write time as T, like masked() leaves a read one, so
`masked(published(root, name)) == song_file([...])` compares whole files.
Text values are given as they stand between the quotes in the file, escapes
included, so each test states the escaping it expects. Lists are given as
built entries: song_file([search_song(1), search_song(2)])."""

import json
import re
import threading

from .timing import wait_until

CTRL_DIR = "/usr/local/www/ctrl"
NAMES = ("status", "dialog", "song", "queuelist", "playlist", "presetPlaylist",
         "recommendPlaylist", "playmanager")


class JsonWatch:
    """Reads all published files over and over from a thread while a test
    runs, and keeps every text that is not valid JSON."""

    def __init__(self, root):
        self.root = root
        self.bad = []
        self.reads = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            for name in NAMES:
                try:
                    text = published(self.root, name)
                except FileNotFoundError:
                    continue
                self.reads += 1
                try:
                    json.loads(text)
                except ValueError:
                    self.bad.append((name, text))
            self._stop.wait(0.01)

    def stop(self):
        self._stop.set()
        self._thread.join()


def file_name(name):
    return f"ondemand_{name}.json"


def file_path(name):
    """The device path of the file called `name` ("song", "status", ...)."""
    return f"{CTRL_DIR}/{file_name(name)}"


FILE_NAMES = sorted(file_name(name) for name in NAMES)

# -- reading ---------------------------------------------------------------

WRITE_TIME = re.compile(r'^\{"updatetime":("?)(\d+)\1,')


def published(root, name):
    return root.read(file_path(name))


def masked(text):
    """The file's text with its write time replaced by T (quoted or bare)."""
    return WRITE_TIME.sub(r'{"updatetime":\1T\1,', text)


def write_time(text):
    """The write time in microseconds and whether it was quoted."""
    match = WRITE_TIME.match(text)
    assert match, text
    return int(match.group(2)), match.group(1) == '"'


def published_json(root, name):
    return json.loads(published(root, name))


def dialog(root):
    return published_json(root, "dialog")["dialog"]


def status(root):
    return published_json(root, "status")


def _or_none(read):
    """What read() returns, or None while the file is not there yet: the
    daemon writes its files only after it has tried the control link."""
    try:
        return read()
    except FileNotFoundError:
        return None


def wait_for_file(root, name, expected, timeout=None):
    """Waits until the file, its write time masked, equals the text
    `expected` (or makes the callable `expected` true); returns its text.
    Fails the test with what the file last held."""
    matches = expected if callable(expected) else (lambda text: text == expected)
    text = None

    def check():
        nonlocal text
        text = _or_none(lambda: published(root, name))
        return text is not None and matches(masked(text))

    assert wait_until(check, timeout), f"{file_name(name)} holds {text!r}, not {expected!r}"
    return text


def _wait_for_fields(read, what, fields, timeout):
    found = None

    def check():
        nonlocal found
        found = _or_none(read)
        return found is not None and all(found.get(k) == v for k, v in fields.items())

    assert wait_until(check, timeout), f"{what} is {found!r}, expected {fields!r}"
    return found


def wait_for_dialog(root, timeout=None, **fields):
    """Waits until the dialog has these values (type="error", isShow=False,
    ...) and returns all of it."""
    return _wait_for_fields(lambda: dialog(root), "the dialog", fields, timeout)


def wait_for_status(root, timeout=None, **fields):
    """Waits until the status file has these values and returns all of it."""
    return _wait_for_fields(lambda: status(root), "the status", fields, timeout)


# -- building ----------------------------------------------------------------

def _quoted(value):
    return f'"{value}"'


def _flag(value):
    return "true" if value else "false"


def _object(*members):
    """{"key":value,...} of (key, value) pairs whose values are built text."""
    return "{" + ",".join(f'"{key}":{value}' for key, value in members) + "}"


def _array(items):
    return "[" + ",".join(items) + "]"


# The status and dialog files carry their write time as a bare number, the
# others as a quoted one.
BARE_TIME = ("updatetime", "T")
QUOTED_TIME = ("updatetime", '"T"')


def status_file(status="off", gratis=True, staging=False, original_artist=False, genres=(),
                download=0):
    """`download` is the number of service requests under way."""
    return _object(BARE_TIME, ("status", _quoted(status)), ("gratis", _flag(gratis)),
                   ("isStaging", _flag(staging)), ("isOriginalArtist", _flag(original_artist)),
                   ("genres", _array(genres)), ("download", str(download)))


def genre(id_, name, sort):
    return _object(("id", _quoted(id_)), ("name", _quoted(name)), ("sort", _quoted(sort)))


def dialog_file(title="", message="", kind="", shown=False, confirmed=False, progress=False,
                percent=""):
    return _object(BARE_TIME, ("dialog", _object(
        ("title", _quoted(title)), ("message", _quoted(message)), ("type", _quoted(kind)),
        ("isShow", _flag(shown)), ("isProg", _flag(progress)), ("perProg", _quoted(percent)),
        ("confirmed", _flag(confirmed)))))


def error_dialog(message):
    return dialog_file("Error", message, "error", shown=True)


# No dialog: at start-up, and once the user has confirmed one.
NO_DIALOG = dialog_file(confirmed=True)
# The wait while a request is under way, and after its answer.
WAIT_DIALOG = dialog_file("modal_connect_title_message", "modal_connect_message_connecting",
                          "wait", shown=True)
WAIT_HIDDEN = dialog_file(kind="wait")


def _song_head(id_, order, title, artist, composer, performer, length):
    """The members every song object starts with. The order defaults to the
    id and the title to "Song ID", as answers.song_item() makes them."""
    return [("id", _quoted(id_)), ("display_order", _quoted(id_ if order is None else order)),
            ("title", _quoted(f"Song {id_}" if title is None else title)),
            ("artist", _quoted(artist)), ("composer", _quoted(composer)),
            ("performer", _quoted(performer)), ("length", _quoted(length))]


def search_song(id_, order=None, title=None, artist="Artist", composer="Composer",
                performer="Performer", length="180", rollform="standard", play="true"):
    """A song of the song file (a search result)."""
    return _object(*_song_head(id_, order, title, artist, composer, performer, length),
                   ("rollform_type", _quoted(rollform)), ("isPlayOk", _quoted(play)),
                   ("checked", "false"))


def song_file(songs=()):
    return _object(QUOTED_TIME, ("songs", _array(songs)))


def listed_song(id_, order=None, title=None, artist="Artist", composer="Composer",
                performer="Performer", length="180", genre="Jazz", rollform="standard",
                play="true", url_download=False, file_download=False, uid=None):
    """A song of a playlist; with `uid`, an entry of the play queue. The
    flags tell whether its download address and its files have arrived."""
    head = _song_head(id_, order, title, artist, composer, performer, length)
    if uid is not None:
        head.insert(1, ("uid", _quoted(uid)))
    tail = [("checked", "false")] if uid is not None else []
    return _object(*head, ("genre", _quoted(genre)), ("rollform_type", _quoted(rollform)),
                   ("isPlayOk", _quoted(play)), ("url_download", _flag(url_download)),
                   ("file_download", _flag(file_download)), *tail)


def queuelist_file(songs=()):
    """`songs` are listed_song(..., uid=...) entries."""
    return _object(QUOTED_TIME, ("songs", _array(songs)))


def user_playlist(id_, name, modified_at="", sort=0, songs=()):
    """A playlist of the user's or the preset file."""
    return _object(("id", _quoted(id_)), ("name", _quoted(name)),
                   ("modified_at", _quoted(modified_at)), ("sort", _quoted(sort)),
                   ("songs", _array(songs)))


def recommend_playlist(id_, name, sort=0, songs=()):
    return _object(("id", _quoted(id_)), ("name", _quoted(name)), ("sort", _quoted(sort)),
                   ("songs", _array(songs)))


def playlist_file(playlists=()):
    """The user's playlists, or the presets: both files share the layout."""
    return _object(QUOTED_TIME, ("playlists", _array(playlists)))


def recommend_playlist_file(playlists=()):
    return playlist_file(playlists)


def managed_song(id_=0, order=0, title="", artist="", composer="", performer="", length="",
                 genre="", rollform="", image_downloaded=None):
    """A song of the play manager; the empty song by default. Only the song
    playing tells whether its image has arrived: `image_downloaded` True or
    False for it, None (left out) for the next song."""
    image = [] if image_downloaded is None else [("isImageDL", _flag(image_downloaded))]
    return _object(*_song_head(id_, order, title, artist, composer, performer, length),
                   ("genre", _quoted(genre)), *image, ("rollform_type", _quoted(rollform)))


def playmanager_file(category="", repeat="off", where="", play_index=0, playlist_id=0,
                     play_song=None, next_song=None):
    play_song = managed_song(image_downloaded=False) if play_song is None else play_song
    next_song = managed_song() if next_song is None else next_song
    return _object(QUOTED_TIME, ("playmanager", _object(
        ("category", _quoted(category)), ("repeat", _quoted(repeat)), ("where", _quoted(where)),
        ("playSongIndex", _quoted(play_index)), ("playlistID", _quoted(playlist_id)),
        ("playSong", play_song), ("nextSong", next_song))))


# Every file as the daemon publishes it at start-up.
AT_START = {
    "status": status_file(),
    "dialog": NO_DIALOG,
    "song": song_file(),
    "queuelist": queuelist_file(),
    "playlist": playlist_file(),
    "presetPlaylist": playlist_file(),
    "recommendPlaylist": recommend_playlist_file(),
    "playmanager": playmanager_file(),
}


def wait_dialog(message):
    """The wait dialog shown while a request is under way, with its message
    key ("modal_create_message_creating", ...)."""
    return dialog_file("modal_connect_title_message", message, "wait", shown=True)
