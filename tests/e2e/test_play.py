"""Playing from the queue and from a user playlist: the download addresses
and files asked of the service in the order the play manager prepares songs,
the files unpacked in the song directories, the load message the sequencer
gets, the sequencer's reports that start, move and hold songs, next, back and
repeat, songs that cannot be fetched, the eviction of old downloads, hand
download requests and the queue commands.

The service serves real files made in the test (fakes/songs.py). The
control server plays the sequencer's part: after a load message it reports
"load" and "stop", and "play" once the daemon has told it to play."""

import json
import os
import time
import xml.etree.ElementTree as ET

import pytest

from fakes import scaled, wait_until
from fakes.answers import error_answer, song_item
from fakes.play import (HOLD, LOAD, PLAY, queue_batch, requests_to, search, settled, song_dir,
                        start_loaded_song, wait_load)
from fakes.playlists import playlist_entry, playlist_songs_answer, playlists_answer
from fakes.published import (NAMES, dialog_file, listed_song, managed_song, masked,
                             playmanager_file, published, published_json, queuelist_file, status,
                             wait_for_dialog, wait_for_file, wait_for_status)
from fakes.songs import (address_paths, archive, file_path as served_path, image_file, midi_file,
                         mp3_file, serve_song, song_archive, symlink)

# Every state file is whole at every moment.
pytestmark = pytest.mark.usefixtures("whole_files")

PAUSE = '<set_seq status="pause" />\n'
RESTART = '<set_seq time="0" />\n'
NO_SONG = '<set_rcs mode="ondemandNoSong"/>\n'

# The dialog once a song is loaded: hidden, with the progress bar full.
LOADED_DIALOG = dialog_file(kind="wait", progress=True, percent="100.0")


# -- what the daemon did ---------------------------------------------------------

def song_dirs(root):
    """The ids of the song directories on the device."""
    base = root.at("/usr/local/ondemand")
    return sorted(int(name) for name in os.listdir(base)) if os.path.isdir(base) else []


def loaded(control_server, after):
    """The load messages sent from `after` on."""
    return [m for m in control_server.messages[after:] if m.startswith(LOAD)]


def queue_entries(root):
    return published_json(root, "queuelist")["songs"]


def queue_ids(root):
    return [int(song["id"]) for song in queue_entries(root)]


def assert_idle(daemon):
    """The daemon sleeps: no timer wakes it (each wake-up is a voluntary
    context switch of its only thread). A fixed window, not a wait for an
    event: the count must stay still through it."""
    def switches():
        with open(f"/proc/{daemon.pid}/status") as f:
            line = next(line for line in f if line.startswith("voluntary_ctxt_switches"))
        return int(line.split()[1])

    before = switches()
    time.sleep(0.8)  # three ticks of a 250 ms timer
    assert switches() - before <= 1


def song(id_, **fields):
    """A play-manager song as the search answers of song_item() make it."""
    return managed_song(id_, fields.pop("order", 0), f"Song {id_}", "Artist", "Composer",
                        "Performer", "180", "Jazz", "standard", **fields)


def user_playlist(service, control_server, root, playlist_id, ids, unplayable=()):
    """Fetches the user's playlist `playlist_id` holding songs of these ids,
    each at the position its display order gives."""
    service.route("GET", "/user/playlists",
                  body=playlists_answer([playlist_entry(playlist_id, "Mine", 1)]))
    control_server.send('<set_ondemand cmd="playlists"/>')
    wait_for_file(root, "playlist", lambda text: f'"id":"{playlist_id}"' in text)
    items = [song_item(n, display_order=str(position),
                       ondemand_play="false" if n in unplayable else "true")
             for position, n in enumerate(ids)]
    service.route("GET", f"/user/playlists/{playlist_id}", body=playlist_songs_answer(items))
    control_server.send(f'<set_ondemand cmd="playlist" id="{playlist_id}"/>')
    wait_for_file(root, "playlist", lambda text: f'"id":"{ids[-1]}"' in text)


def wait_playmanager(root, play, next_, index, repeat="off", category="userplaylist"):
    """Waits until the play manager plays song `play` at `index` with
    `next_` (0: none) to follow; returns its record."""
    def check(text):
        pm = json.loads(text)["playmanager"]
        return (pm["playSong"]["id"], pm["nextSong"]["id"], pm["playSongIndex"], pm["repeat"],
                pm["category"]) == (str(play), str(next_), str(index), repeat, category)

    return json.loads(wait_for_file(root, "playmanager", check))["playmanager"]


def play_next(control_server, control, position=None):
    """The user presses next or back (at `position` ms into the song);
    returns the mark before."""
    mark = control_server.mark()
    if position is not None:
        control_server.send(f'<seq status="play" time="{position}"/>')
    control_server.send(f'<set_ondemand cmd="ondemandSongCtrl" control="{control}"/>')
    return mark


# -- a queue is played -----------------------------------------------------------

def test_a_queue_built_from_a_search_plays_from_its_first_entry(root, service, control_server,
                                                                 player):
    served = {
        11: {"zip": song_archive(), "image": image_file()},
        12: {"midi": midi_file(3), "mp3": mp3_file(4), "image": image_file()},
        13: {"midi": midi_file(5)},
    }
    for song_id, files in served.items():
        serve_song(service, song_id, files)
    search(service, control_server, root, [11, 12, 13])
    searched = len(service.requests)

    mark = control_server.mark()
    queue_batch(control_server, [11, 12, 13])
    message, _ = wait_load(control_server, mark)
    d11, d12 = song_dir(root, 11), song_dir(root, 12)
    assert message == (f'<set_seq status="load" midi_path="{d11}/Song.MID" '
                       f'audio_path="{d11}/Track.Mp3"/>\n')
    # Until then the sequencer was only held paused, once per step taken.
    before = control_server.messages[mark:]
    assert set(before[:before.index(message)]) == {PAUSE}

    # The play song's address and files, then the next song's, each stage
    # begun when the one before has ended; nothing of the song after.
    settled(service, player, control_server)
    asked = service.requests[searched:]
    by_path = {r.path: r for r in asked}
    assert sorted(by_path) == sorted(
        ["/items/11/downloadurls/gratis", "/items/12/downloadurls/gratis"]
        + [served_path(11, kind) for kind in served[11]]
        + [served_path(12, kind) for kind in served[12]])
    assert len(asked) == len(by_path)
    order = [r.path for r in asked]
    assert order[0] == "/items/11/downloadurls/gratis"
    assert order.index(served_path(11, "zip")) < order.index("/items/12/downloadurls/gratis")
    assert set(order[-3:]) == {served_path(12, kind) for kind in served[12]}
    assert service.max_in_flight() <= 5

    # Unpacked and downloaded files, byte for byte; the archive is gone.
    assert root.listdir("/usr/local/ondemand/11") == ["Song.MID", "Track.Mp3", "image"]
    with open(f"{d11}/Song.MID", "rb") as f:
        assert f.read() == midi_file(6)
    assert root.listdir("/usr/local/ondemand/12") == ["audio.mp3", "image", "midi"]
    for name, kind in (("audio.mp3", "mp3"), ("image", "image"), ("midi", "midi")):
        with open(f"{d12}/{name}", "rb") as f:
            assert f.read() == served[12][kind]
    assert song_dirs(root) == [11, 12]

    # The loaded song has left the queue; the next one is ready.
    uids = [entry["uid"] for entry in queue_entries(root)]
    assert masked(published(root, "queuelist")) == queuelist_file([
        listed_song(12, 0, uid=uids[0], url_download=True, file_download=True),
        listed_song(13, 1, uid=uids[1]),
    ])
    wait_for_file(root, "playmanager", playmanager_file(
        "queuelist", "off", "queuelist", 0, 0,
        song(11, image_downloaded=True), song(12, order=1)))
    wait_for_file(root, "dialog", LOADED_DIALOG)
    assert_idle(player)

    # The sequencer starts it; a gratis member's plays are not reported: the
    # status file written at the first "play" counts no request under way.
    assert start_loaded_song(control_server) == PLAY
    assert wait_for_status(root, download=0)
    assert not any("/history/" in r.path for r in service.requests)


def test_the_sequencer_starts_ends_and_holds_queue_songs(root, service, control_server, player):
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    serve_song(service, 21, {"midi": midi_file(1)})
    serve_song(service, 22, {"midi": midi_file(2), "mp3": mp3_file()})
    service.route("POST", "/user/history/event/play/21/")
    service.route("POST", "/user/history/event/play/22/")
    search(service, control_server, root, [21, 22])

    mark = control_server.mark()
    queue_batch(control_server, [21, 22])
    message, attributes = wait_load(control_server, mark)
    assert attributes == {"status": "load", "midi_path": f"{song_dir(root, 21)}/midi"}
    assert message == f'<set_seq status="load" midi_path="{song_dir(root, 21)}/midi"/>\n'
    assert [r.path for r in service.requests[1:2]] == ["/items/21/downloadurls"]

    # Ready: the daemon starts it; the first "play" reports the play, and
    # the controller leaves its no-song mode.
    mark = control_server.mark()
    assert start_loaded_song(control_server) == PLAY
    control_server.wait_for('<set_rcs mode="normal"/>', after=mark)
    (report,) = requests_to(service, "/user/history/event/play/21/")
    assert [name for name, _ in report.form_pairs] == ["pinfo", "session_id", "playtime"]
    assert (report.form["pinfo"], report.form["playtime"]) == (["others"], ["0"])
    first_session = report.form["session_id"][0]
    # Paused and played again: the same play, not reported again.
    control_server.send_all(['<seq status="pause"/>', '<seq status="play" time="1500"/>'])
    control_server.sync()
    settled(service, player, control_server)
    assert sum("/history/" in r.path for r in service.requests) == 1

    # The song ends: the next entry is loaded and started, and reported.
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    d22 = song_dir(root, 22)
    message, _ = wait_load(control_server, mark)
    assert message == (f'<set_seq status="load" midi_path="{d22}/midi" '
                       f'audio_path="{d22}/audio.mp3"/>\n')
    wait_for_file(root, "queuelist", queuelist_file())
    wait_for_file(root, "playmanager", playmanager_file(
        "queuelist", "off", "queuelist", 0, 0, song(22, image_downloaded=False)))
    assert start_loaded_song(control_server) == PLAY
    (report,) = requests_to(service, "/user/history/event/play/22/")
    assert report.form["session_id"][0] != first_session

    # The last song ends: it is loaded again and held paused.
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    assert wait_load(control_server, mark)[0] == message
    assert start_loaded_song(control_server) == HOLD


def test_next_and_back_move_within_the_queue(root, service, control_server, player):
    for song_id in (31, 32, 33):
        serve_song(service, song_id, {"midi": midi_file(song_id)})
    search(service, control_server, root, [31, 32, 33])
    mark = control_server.mark()
    queue_batch(control_server, [31, 32, 33])
    wait_load(control_server, mark)
    start_loaded_song(control_server)
    settled(service, player, control_server)

    # "back" restarts a queue song, early or late in it; nothing is fetched.
    asked = len(service.requests)
    for position in ("3000", "7000"):
        mark = control_server.mark()
        control_server.send(f'<seq status="play" time="{position}"/>')
        control_server.send('<set_ondemand cmd="ondemandSongCtrl" control="back"/>')
        control_server.sync()
        assert control_server.messages[mark:] == [RESTART]
    assert len(service.requests) == asked

    # "next" while playing: the next entry is loaded and played.
    service.route("GET", served_path(33, "midi"), body=midi_file(33), delay=scaled(0.5))
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandSongCtrl" control="Next"/>')
    # While it is being prepared, another "next" is not taken.
    control_server.wait_for(PAUSE, after=mark)
    control_server.send('<set_ondemand cmd="ondemandSongCtrl" control="next"/>')
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 32)}/midi"
    settled(service, player, control_server)
    assert len(loaded(control_server, mark)) == 1
    assert start_loaded_song(control_server) == PLAY

    # "next" while paused: the next song is loaded and stays paused.
    control_server.send('<seq status="pause"/>')
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandSongCtrl" control="next"/>')
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 33)}/midi"
    assert start_loaded_song(control_server) == HOLD

    # Repeat does not apply to the queue: "all" is shown, but the last song
    # has no next one, and ends held. (Repeat wraps playlists, which are not
    # played here.)
    control_server.send('<set_ondemand cmd="setRepeat" type="ALL"/>')
    wait_for_file(root, "playmanager", playmanager_file(
        "queuelist", "all", "queuelist", 0, 0, song(33, image_downloaded=False)))
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandSongCtrl" control="next"/>')
    control_server.sync()
    assert control_server.messages[mark:] == []
    control_server.send('<seq status="nosong"/>')
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 33)}/midi"
    settled(service, player, control_server)
    assert not any("/34/" in r.path or "/31/" in r.path
                   for r in service.requests[asked:])


# -- songs that cannot be fetched --------------------------------------------

def addresses(status, body):
    def serve(service):
        for path in address_paths(41):
            service.route("GET", path, status=status, body=body)
    return serve


def files(served, **how):
    return lambda service: serve_song(service, 41, served, **how)


# How song 41 fails: the service's routes for it, the files of its
# directory that must not be left, and the error message.
FAILURES = {
    "file-refused": (files({"midi": error_answer("No file")}, status=404), ["midi"],
                     "server([404]: download)"),
    # The connection drops mid-file: curl fails and the part is no song.
    "cut-mid-file": (files({"midi": midi_file(40)}, cut=30), ["midi"], "server([0]: download)"),
    "audio-cut": (files({"midi": midi_file(), "mp3": mp3_file(8)}, cut={"mp3": 500}),
                  ["audio.mp3"], "server([0]: download)"),
    "archive-without-midi": (files({"zip": archive([("Track.mp3", mp3_file())])}), ["zip"],
                             "server([200]: download)"),
    "not-an-archive": (files({"zip": b"PK\x03\x04 and nothing more"}), ["zip"],
                       "server([200]: download)"),
    "address-refused": (addresses(500, error_answer("Gone")), [],
                        "server([500]: downloadUrl)\n[ Gone ]"),
    "address-unreadable": (addresses(200, "<response><midi>"), [], "downloadUrl"),
    "no-address": (addresses(200, "<response/>"), [],
                   "Download Error ( URL is not retrieved. )"),
}


@pytest.mark.parametrize("serve, gone, message", FAILURES.values(), ids=FAILURES.keys())
def test_a_queue_song_that_cannot_be_fetched_is_dropped(root, service, control_server, player,
                                                       serve, gone, message):
    serve(service)
    serve_song(service, 42, {"midi": midi_file(42)})
    search(service, control_server, root, [41, 42])

    # Another song follows: the failed one leaves the queue and the next plays.
    mark = control_server.mark()
    queue_batch(control_server, [41, 42])
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 42)}/midi"
    settled(service, player, control_server)
    assert len(loaded(control_server, mark)) == 1
    wait_for_file(root, "queuelist", queuelist_file())
    wait_for_file(root, "playmanager", playmanager_file(
        "queuelist", "off", "queuelist", 0, 0, song(42, image_downloaded=False)))
    assert song_dirs(root) == [42]  # nothing of the failed song is kept

    # Nothing follows: the controller is told there is no song, the wait
    # ends, the error shows, and the daemon rests.
    mark = control_server.mark()
    queue_batch(control_server, [41])
    control_server.wait_for(NO_SONG, after=mark)
    wait_for_dialog(root, title="Error", message=message, type="error", isShow=True)
    wait_for_file(root, "playmanager", playmanager_file(where="queuelist"))
    wait_for_file(root, "queuelist", queuelist_file())
    settled(service, player, control_server)
    assert loaded(control_server, mark) == []
    assert RESTART in control_server.messages[mark:]
    for name in gone:
        assert not os.path.exists(f"{song_dir(root, 41)}/{name}")
    if message == "server([0]: download)":  # a cut transfer, once for all
        assert_idle(player)


def test_hand_requests_fetch_and_fail_without_moving_the_player(root, service, control_server,
                                                               player):
    control_server.send('<set_ondemand cmd="downloadurl"/>')  # no id: nothing
    control_server.sync()
    assert service.requests == []

    # A gratis member asks for the gratis addresses, a member for the items'.
    serve_song(service, 51, {"midi": midi_file(51), "mp3": mp3_file(), "image": image_file()})
    control_server.send('<set_ondemand cmd="downloadurl" id="51"/>')
    assert service.wait_for_requests(1)[0].path == "/items/51/downloadurls/gratis"
    settled(service, player, control_server)
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    control_server.send('<set_ondemand cmd="downloadurl" id="51"/>')
    assert service.wait_for_requests(2)[1].path == "/items/51/downloadurls"
    settled(service, player, control_server)

    control_server.send('<set_ondemand cmd="download" id="51"/>')
    assert wait_until(lambda: song_dirs(root) == [51]
                      and root.listdir("/usr/local/ondemand/51") == ["audio.mp3", "image", "midi"])
    settled(service, player, control_server)
    with open(f"{song_dir(root, 51)}/audio.mp3", "rb") as f:
        assert f.read() == mp3_file()
    # The queue shows what has arrived (an id sent outside a batch is
    # added, and "queueList" publishes the queue).
    search(service, control_server, root, [51, 52])
    control_server.send_all(['<set_ondemand cmd="addQueueBtm" songId="51"/>',
                             '<set_ondemand cmd="addQueueBtm" songId="52"/>',
                             '<set_ondemand cmd="queueList"/>'])
    wait_for_file(root, "queuelist", lambda text: '"id":"52"' in text)
    uids = [entry["uid"] for entry in queue_entries(root)]
    assert masked(published(root, "queuelist")) == queuelist_file([
        listed_song(51, 0, uid=uids[0], url_download=True, file_download=True),
        listed_song(52, 1, uid=uids[1])])

    # Refused before any file is asked for.
    service.route("GET", "/items/53/downloadurls", body="<response><nothing/></response>")
    control_server.send('<set_ondemand cmd="downloadurl" id="53"/>')
    settled(service, player, control_server)
    for song_id, message in ((99, "Download Error ( URL is not registered. )"),
                             (53, "Download Error ( URL is not retrieved. )")):
        control_server.send(f'<set_ondemand cmd="download" id="{song_id}"/>')
        wait_for_dialog(root, title="Error", message=message, type="error", isShow=True)
        control_server.send('<set_ondemand cmd="dlgConfirmed"/>')

    # Playing the queue: 51 loaded, 52 next.
    serve_song(service, 52, {"midi": midi_file(52)})
    mark = control_server.mark()
    control_server.send_all(['<set_ondemand cmd="addQueueBtm" songId="start"/>',
                             '<set_ondemand cmd="addQueueBtm" songId="end"/>'])
    wait_load(control_server, mark)
    settled(service, player, control_server)
    pm_before = masked(published(root, "playmanager"))
    queue_before = masked(published(root, "queuelist"))

    # A file fetched by hand that is cut: an error, its part removed, and
    # the song playing and the queue stay as they are.
    serve_song(service, 54, {"midi": midi_file(54)}, cut=10)
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="downloadurl" id="54"/>')
    settled(service, player, control_server)
    control_server.send('<set_ondemand cmd="download" id="54"/>')
    wait_for_dialog(root, title="Error", message="server([0]: download)", type="error")
    settled(service, player, control_server)
    assert os.listdir(song_dir(root, 54)) == []
    # ... and an address refused by hand.
    service.route("GET", "/items/55/downloadurls", status=404, body=error_answer("No such song"))
    control_server.send('<set_ondemand cmd="downloadurl" id="55"/>')
    wait_for_dialog(root, title="Error", message="server([404]: downloadUrl)\n[ No such song ]",
                    type="error")
    settled(service, player, control_server)
    control_server.sync()
    assert control_server.messages[mark:] == []
    assert masked(published(root, "playmanager")) == pm_before
    assert masked(published(root, "queuelist")) == queue_before


def test_once_a_song_is_loaded_the_status_file_counts_no_request(root, service, control_server,
                                                                 player):
    serve_song(service, 56, {"midi": midi_file(56), "image": image_file()})
    search(service, control_server, root, [56])
    mark = control_server.mark()
    queue_batch(control_server, [56])
    wait_load(control_server, mark)
    settled(service, player, control_server)
    assert status(root)["download"] == 0


def test_addresses_of_the_whole_song_list_go_five_at_a_time(root, service, control_server,
                                                           player):
    ids = list(range(60, 72))
    for song_id in ids:
        service.route("GET", f"/items/{song_id}/downloadurls",
                      body="<response><midi>x</midi></response>", delay=scaled(0.3))
    search(service, control_server, root, ids)
    asked = len(service.requests)
    # Always the items' request, also for a gratis member.
    control_server.send('<set_ondemand cmd="downloadurl" id="0"/>')
    control_server.sync()
    assert status(root)["download"] == len(ids)
    settled(service, player, control_server)
    assert sorted(r.path for r in service.requests[asked:]) == sorted(
        f"/items/{n}/downloadurls" for n in ids)
    assert service.max_in_flight() == 5
    # Each song's address was recorded under its own id.
    search(service, control_server, root, ids[:1])
    control_server.send_all(['<set_ondemand cmd="addQueueBtm" songId="60"/>',
                             '<set_ondemand cmd="queueList"/>'])
    wait_for_file(root, "queuelist", lambda text: '"url_download":true' in text)


# -- playlists: unplayable songs, repeat and back ------------------------------

def test_a_user_playlist_skips_unplayable_songs_repeats_and_goes_back(root, service,
                                                                      control_server, player):
    ids = [301, 302, 303, 304]
    for song_id in ids:
        serve_song(service, song_id, {"midi": midi_file(song_id % 9 + 1)})
    user_playlist(service, control_server, root, 7, ids, unplayable={302})

    def loads(song_id, mark):
        assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, song_id)}/midi"
        assert start_loaded_song(control_server) == PLAY

    # Asked to play the unplayable second song, it plays the third.
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="UserPlaylist" '
                        'playSongIndex="1" playlistID="7"/>')
    loads(303, mark)
    pm = wait_playmanager(root, 303, 304, 2)
    assert (pm["where"], pm["playlistID"]) == ("userplaylist", "7")
    loads(304, play_next(control_server, "next"))
    wait_playmanager(root, 304, 0, 3)
    # Repeat off: nothing after the last song.
    mark = play_next(control_server, "next")
    control_server.sync()
    assert control_server.messages[mark:] == []

    # Repeat all: the end wraps to the first song, and the next one skips
    # the unplayable song.
    control_server.send('<set_ondemand cmd="setRepeat" type="all"/>')
    wait_playmanager(root, 304, 301, 3, "all")
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    loads(301, mark)
    wait_playmanager(root, 301, 303, 0, "all")

    # "back" up to 6 s into the song goes to the song before (wrapping,
    # with repeat all); later it starts the song again.
    loads(304, play_next(control_server, "back", 6000))
    wait_playmanager(root, 304, 301, 3, "all")
    mark = play_next(control_server, "back", 6001)
    control_server.sync()
    assert control_server.messages[mark:] == [RESTART]
    loads(303, play_next(control_server, "back", 0))
    loads(301, play_next(control_server, "back", 0))  # over the unplayable song

    # Repeat one: the song follows itself.
    control_server.send('<set_ondemand cmd="setRepeat" type="One"/>')
    wait_playmanager(root, 301, 301, 0, "one")
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    loads(301, mark)
    settled(service, player, control_server)
    assert not any("/302/" in r.path for r in service.requests)


# -- downloads kept --------------------------------------------------------------

def fetch_by_hand(control_server, service, player, ids):
    for song_id in ids:
        control_server.send(f'<set_ondemand cmd="downloadurl" id="{song_id}"/>')
        settled(service, player, control_server)
        control_server.send(f'<set_ondemand cmd="download" id="{song_id}"/>')
        settled(service, player, control_server)


def test_twelve_songs_in_a_row_leave_at_most_ten_downloads(root, service, control_server,
                                                          player):
    ids = list(range(401, 413))
    for song_id in ids + [201, 202]:
        serve_song(service, song_id, {"midi": midi_file(song_id % 7 + 1)})
    fetch_by_hand(control_server, service, player, [201, 202])
    assert song_dirs(root) == [201, 202]
    user_playlist(service, control_server, root, 8, ids)

    # A play from another list keeps only its play and next song; then the
    # ten newest downloads are kept, the play and the next song always.
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="userplaylist" '
                        'playSongIndex="0" playlistID="8"/>')
    for number, song_id in enumerate(ids):
        if number:
            mark = control_server.mark()
            control_server.send('<seq status="nosong"/>')
        assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, song_id)}/midi"
        kept = min(number + 2, len(ids))
        assert song_dirs(root) == ids[max(0, kept - 10):kept]
        assert start_loaded_song(control_server) == PLAY


def test_the_queue_keeps_only_the_play_and_the_next_song(root, service, control_server, player):
    ids = [111, 112, 113, 114]
    for song_id in ids + [201, 202]:
        serve_song(service, song_id, {"midi": midi_file(song_id % 7 + 1)})
    fetch_by_hand(control_server, service, player, [201, 202])
    search(service, control_server, root, ids)
    mark = control_server.mark()
    queue_batch(control_server, ids)
    for number, song_id in enumerate(ids):
        if number:
            mark = control_server.mark()
            control_server.send('<seq status="nosong"/>')
        assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, song_id)}/midi"
        assert song_dirs(root) == ids[number:number + 2]
        assert start_loaded_song(control_server) == PLAY
    assert queue_ids(root) == []


# -- archives are unpacked inside the song's directory only ---------------------

def test_a_hostile_archive_harms_nothing_and_loads_as_well_formed_xml(root, service,
                                                                      control_server, player):
    outside = root.at("/outside")
    os.makedirs(outside)
    secret = root.write("/secret.mid", midi_file(9))
    midi_name = 'Se "quoted" <b> & c.MID'
    serve_song(service, 71, {"zip": archive([
        symlink("Linked.mid", secret),           # a link is never the song
        (midi_name, midi_file(7)),
        ("Track.mp3", mp3_file()),
        symlink("sub", outside),                 # a link, then a file through it
        ("sub/evil.txt", b"through the link"),
        ("../escaped.txt", b"up"),
        ("/absolute.txt", b"absolute"),
        ("Folder.mid/", b""),                    # a directory is never the song
        ("Folder.mid/inner.txt", b"x"),
        symlink("Z.mp3", secret),
    ])})
    search(service, control_server, root, [71])
    mark = control_server.mark()
    queue_batch(control_server, [71])
    message, attributes = wait_load(control_server, mark)

    d71 = song_dir(root, 71)
    assert attributes == {"status": "load", "midi_path": f"{d71}/{midi_name}",
                          "audio_path": f"{d71}/Track.mp3"}
    assert message == (f'<set_seq status="load" midi_path="{d71}/Se &quot;quoted&quot; '
                       f'&lt;b&gt; &amp; c.MID" audio_path="{d71}/Track.mp3"/>\n')
    with open(attributes["midi_path"], "rb") as f:
        assert f.read() == midi_file(7)
    # Nothing was written outside the song's directory, and no link is left in it.
    assert os.listdir(outside) == []
    assert sorted(os.listdir(root.at("/usr/local/ondemand"))) == ["71"]
    assert not os.path.exists(root.at("/escaped.txt"))
    with open(secret, "rb") as f:
        assert f.read() == midi_file(9)
    for folder, dirs, files in os.walk(d71):
        for name in dirs + files:
            assert not os.path.islink(os.path.join(folder, name)), name
    # Only the MIDI files and audio tracks at the archive's top level are
    # unpacked.
    assert sorted(os.listdir(d71)) == sorted(["Track.mp3", midi_name])


def test_a_line_end_in_an_unpacked_name_stays_inside_the_load_message(root, service,
                                                                     control_server, player):
    # The control server reads one message per line. This machine's unzip
    # drops control characters from names; the device's may not, so a
    # stand-in unpacks a name with a line end.
    os.remove(root.at("/usr/local/bin/unzip"))
    root.write("/usr/local/bin/unzip", "#!/bin/sh\n"
               "case \"$1\" in -l) exec /usr/bin/unzip \"$@\";; esac\n"
               "# -o -C -W -d DIR ARCHIVE PATTERNS\n"
               "printf 'MThd' > \"$5/two\nlines.mid\"\n", mode=0o755)
    serve_song(service, 72, {"zip": archive([("anything.mid", midi_file(2))])})
    search(service, control_server, root, [72])
    mark = control_server.mark()
    queue_batch(control_server, [72])
    wait_for_file(root, "playmanager", lambda text: '"playSong":{"id":"72"' in text)
    control_server.sync()
    for message in control_server.messages[mark:]:
        ET.fromstring(message)  # each line a whole element
    loads = loaded(control_server, mark)
    assert len(loads) == 1
    assert ET.fromstring(loads[0]).attrib["midi_path"] == f"{song_dir(root, 72)}/two\nlines.mid"


# -- the queue commands ----------------------------------------------------------

def test_queue_commands_and_the_queue_limit(root, service, control_server, player):
    ids = list(range(1, 102))
    search(service, control_server, root, ids)
    # Ids outside a batch are added; only "queueList" publishes them.
    control_server.send_all([f'<set_ondemand cmd="addQueueBtm" songId="{n}"/>' for n in ids]
                            + ['<set_ondemand cmd="addQueueTop" songId="101"/>',
                               '<set_ondemand cmd="queueList"/>'])
    wait_for_file(root, "queuelist", lambda text: text.count('"uid"') == 100)
    assert queue_ids(root) == ids[:100]

    # A quick play goes on top even of a full queue, and plays at once.
    serve_song(service, 101, {"midi": midi_file(1)}, delay={"midi": scaled(0.5)})
    serve_song(service, 1, {"midi": midi_file(2)})
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="quickPlayQueue" category="search" songId="101"/>')
    # While the song is fetched, the progress figure is shown from the start.
    wait_for_dialog(root, message="modal_connect_message_connecting", isShow=True, isProg=True,
                    perProg="0.0")
    wait_for_file(root, "queuelist", lambda text: text.count('"uid"') == 101)
    assert queue_ids(root)[:2] == [101, 1]
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 101)}/midi"
    wait_for_file(root, "queuelist", lambda text: text.count('"uid"') == 100)
    assert queue_ids(root) == ids[:100]
    wait_for_file(root, "playmanager", playmanager_file(
        "queuelist", "off", "search", 0, 0, song(101, image_downloaded=False),
        song(1, order=1)))
    settled(service, player, control_server)

    # Removals in a batch count from the queue as already shortened; the
    # play manager takes its next song from what is left.
    queue_batch(control_server, ["0", "0", "500"], cmd="rmvQueueSong", field="display_order")
    wait_for_file(root, "playmanager", lambda text: '"nextSong":{"id":"3"' in text)
    assert queue_ids(root) == ids[2:100]
    assert [e["display_order"] for e in queue_entries(root)] == [str(n) for n in range(98)]

    # Moves; one with an index out of range changes nothing.
    for before, after in (("0", "2"), ("0", "500"), ("-1", "0")):
        control_server.send(f'<set_ondemand cmd="sortQueue" beforeIndex="{before}" '
                            f'afterIndex="{after}"/>')
    control_server.sync()
    assert queue_ids(root)[:4] == [4, 5, 3, 6]
    assert [e["display_order"] for e in queue_entries(root)] == [str(n) for n in range(98)]

    # Adds while the queue plays start nothing: the bottom add says so, the
    # top add makes its song the next one. The same song may stand twice.
    mark = control_server.mark()
    asked = len(service.requests)
    queue_batch(control_server, ["50"])
    wait_for_dialog(root, title="Message", message="modal_add_queue_message", type="message",
                    isShow=True)
    entries = queue_entries(root)
    assert [int(e["id"]) for e in entries[-2:]] == [100, 50]
    assert len({e["uid"] for e in entries if e["id"] == "50"}) == 2
    queue_batch(control_server, ["60"], cmd="addQueueTop")
    wait_for_dialog(root, title="Message", message="modal_set_queue_message", type="message",
                    isShow=True)
    assert queue_ids(root)[:2] == [60, 4]
    wait_for_file(root, "playmanager", lambda text: '"nextSong":{"id":"60"' in text)
    control_server.sync()
    assert control_server.messages[mark:] == []
    assert len(service.requests) == asked

    # An unplayable song is never queued; an unknown id neither.
    before = queue_ids(root)
    search(service, control_server, root, [500], ondemand_play="false")
    control_server.send_all(['<set_ondemand cmd="addQueueTop" songId="500"/>',
                             '<set_ondemand cmd="addQueueBtm" songId="501"/>',
                             '<set_ondemand cmd="queueList"/>'])
    control_server.sync()
    assert queue_ids(root) == before
