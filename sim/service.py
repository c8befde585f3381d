"""The music service of the live simulator: the end-to-end tests' fake
service (fakes.FakeMusicService) holding a small made-up catalogue that it
answers from, and that can be told to fail.

The catalogue is made the same on every run: genres, a few dozen songs (a
bare MIDI file or a zip with MIDI and audio track, and an image each),
preset and recommended playlists, and the user's playlists, which the
daemon's edits change. Its answers are built with the tests' own builders
(fakes.answers, fakes.catalogue, fakes.playlists, fakes.songs)."""

import json
import re
import threading

from fakes import FakeMusicService
from fakes.answers import FEATURES_OA, LOGIN_OK, error_answer, items_answer, song_item
from fakes.catalogue import (genre_entry, genres_answer, gratis_answer, preset_entry,
                             presets_answer, recommend_answer, recommend_entry)
from fakes.music_service import Route
from fakes.playlists import playlist_entry, playlists_answer
from fakes.songs import archive, image_file, midi_file, mp3_file, serve_song

GENRES = [(1, "Classical"), (2, "Jazz"), (3, "Ragtime"), (4, "Film"), (5, "Folk")]
_MOODS = ["Quiet", "Golden", "Northern", "Velvet", "Paper", "Silver", "Late", "Open", "Little"]
_THINGS = ["Waltz", "Harbour", "Lantern", "Garden", "Morning", "Rain", "Carousel", "Letter"]
_PEOPLE = ["Ada Brenner", "Tomas Ilves", "Mira Okafor", "Jun Hayase", "Lena Marsh",
           "Paulo Reis"]

# How the service fails when told to: a status and the error answer it
# sends, or a stall (it never answers; the daemon's run limit ends curl).
FAILURES = {
    "500": (500, "The service is resting"),
    "403": (403, "Not in this region"),
}
STALL_SECONDS = 600.0


class Song:
    def __init__(self, number):
        self.id = 100 + number
        self.title = f"{_MOODS[number % len(_MOODS)]} {_THINGS[(number * 5) % len(_THINGS)]}"
        self.artist = _PEOPLE[number % len(_PEOPLE)]
        self.composer = _PEOPLE[(number * 7 + 3) % len(_PEOPLE)]
        self.genre_id, self.genre = GENRES[number % len(GENRES)]
        self.length = 60 + (number * 37) % 181  # seconds
        # Even songs come as an archive with an audio track, odd ones as a
        # bare MIDI file; each has its own notes, so its own bytes.
        midi = midi_file(4 + number % 9)
        self.files = ({"zip": archive([("Song.MID", midi), ("Track.Mp3", mp3_file(2))]),
                       "image": image_file()} if number % 2 == 0
                      else {"midi": midi, "image": image_file()})

    def item(self, order):
        return song_item(self.id, display_order=str(order), title=self.title, artist=self.artist,
                         composer=self.composer, performer=self.artist,
                         length=str(self.length), genre=self.genre)


class Catalogue:
    """The service's data. The user's playlists change with the daemon's
    edits; everything else stays as made."""

    def __init__(self, count=36):
        self.songs = {song.id: song for song in (Song(n) for n in range(1, count + 1))}
        ids = sorted(self.songs)
        self.presets = {11: ("Evening classics", ids[0:6]), 12: ("Piano rolls", ids[6:13]),
                        13: ("Dance hall", ids[13:18])}
        self.recommended = [("For you", 1, ids[18:23]), ("Something new", 2, ids[23:27])]
        self.user = {21: {"name": "Sunday morning", "songs": ids[27:31]},
                     22: {"name": "Practice", "songs": ids[31:34]}}
        self.next_playlist_id = 23
        self.history = []

    def items(self, ids):
        return items_answer([self.songs[i].item(n) for n, i in enumerate(ids) if i in self.songs])

    def search(self, query):
        def first(name):
            return (query.get(name) or [""])[0].lower()

        title, artist, genre = first("title"), first("artist_composer"), first("genre_id")
        found = [song.id for song in self.songs.values()
                 if title in song.title.lower()
                 and (artist in song.artist.lower() or artist in song.composer.lower())
                 and (not genre or genre == str(song.genre_id))]
        return self.items(found)

    def user_playlists(self):
        return playlists_answer([playlist_entry(id_, entry["name"], n)
                                 for n, (id_, entry) in enumerate(self.user.items(), 1)])

    def presets_answer(self):
        return presets_answer([preset_entry(id_, name) for id_, (name, _) in self.presets.items()])

    def recommended_answer(self):
        return recommend_answer([recommend_entry(title, genre, [self.songs[i].item(n)
                                                                for n, i in enumerate(ids)])
                                 for title, genre, ids in self.recommended])

    def edit(self, path, form):
        """A user playlist edit (every edit is a POST); False for a path that
        names no playlist."""
        def field(name):
            return (form.get(name) or [None])[0]

        def id_list(text):
            return [int(n) for n in json.loads(text)] if text else []

        if path == "/user/playlists/":
            self.user[self.next_playlist_id] = {"name": field("name") or "",
                                                "songs": id_list(field("items"))}
            self.next_playlist_id += 1
            return True
        match = re.fullmatch(r"/user/playlists/(\d+)(/add|/remove|/delete)?", path)
        if not match or int(match.group(1)) not in self.user:
            return False
        playlist_id, action = int(match.group(1)), match.group(2)
        entry = self.user[playlist_id]
        if action == "/delete":
            del self.user[playlist_id]
        elif action == "/add":
            entry["songs"].append(int(field("item_id") or 0))
        elif action == "/remove":
            index = int(field("index") or -1)
            if 0 <= index < len(entry["songs"]):
                del entry["songs"][index]
        else:
            if field("name"):
                entry["name"] = field("name")
            if field("sort"):
                entry["songs"] = [i for i in id_list(field("sort")) if i in entry["songs"]]
            # An add and a removal send the same field: songs the playlist
            # holds are taken out, the others added.
            for song_id in id_list(field("items")):
                if song_id in entry["songs"]:
                    entry["songs"].remove(song_id)
                else:
                    entry["songs"].append(song_id)
        return True


class LiveService(FakeMusicService):
    """FakeMusicService answering from the catalogue. The song files are
    fixed routes (serve_song); every other answer is made when asked, so it
    follows the catalogue's changes. `failure` ("500", "403", "stall" or
    None) makes every request fail that way."""

    def __init__(self, catalogue, on_request=None):
        super().__init__()
        self.catalogue = catalogue
        self.failure = None
        self.on_request = on_request
        self._lock = threading.Lock()
        for song in catalogue.songs.values():
            serve_song(self, song.id, song.files)

    def _record(self, request):
        fixed = super()._record(request)
        with self._lock:
            route = self._failing() or fixed or self._answer(request)
        request.status = "stall" if route.stall else route.status
        if self.on_request:
            self.on_request(request)
        return route

    def _failing(self):
        if self.failure == "stall":
            return Route(200, b"<response/>", stall=STALL_SECONDS)
        if self.failure in FAILURES:
            status, message = FAILURES[self.failure]
            return Route(status, error_answer(message).encode())
        return None

    def _answer(self, request):
        c, path = self.catalogue, request.path
        fixed = {"/auth/login": LOGIN_OK, "/auth/refresh": LOGIN_OK,
                 "/user/account/features": FEATURES_OA,
                 "/items/genres": genres_answer([genre_entry(id_, name, id_)
                                                 for id_, name in GENRES]),
                 "/cms/playlists": c.presets_answer(),
                 "/cms/playlist/gratis": gratis_answer(
                     [preset_entry(id_, name) for id_, (name, _) in c.presets.items()],
                     [c.songs[i].item(n) for n, i in enumerate(sorted(c.songs)[:8])]),
                 "/items/recommend/playlists": c.recommended_answer(),
                 "/items/recommend/playlist": c.items([i for _, _, ids in c.recommended
                                                       for i in ids]),
                 "/user/history": c.items(list(reversed(c.history))[:20])}
        body = fixed.get(path)
        if request.method == "GET" and path == "/items":
            body = c.search(request.query)
        elif request.method == "GET" and path == "/user/playlists":
            body = c.user_playlists()
        elif request.method == "GET" and re.fullmatch(r"/(user|cms)/playlists/\d+", path):
            playlist_id = int(path.rsplit("/", 1)[1])
            table = c.user if path.startswith("/user") else c.presets
            if playlist_id not in table:
                return Route(404, error_answer("No such playlist").encode())
            entry = table[playlist_id]
            body = c.items(entry["songs"] if isinstance(entry, dict) else entry[1])
        elif request.method == "POST" and path.startswith("/user/history/event/"):
            match = re.fullmatch(r"/user/history/event/play/(\d+)/", path)
            if match:
                c.history.append(int(match.group(1)))
            body = "<response/>"
        elif request.method == "POST" and path.startswith("/user/playlists/"):
            body = "<response/>" if c.edit(path, request.form) else None
        if body is None:
            return Route(404, error_answer("Not found").encode())
        return Route(200, body.encode())
