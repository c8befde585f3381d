"""The player in ordinary use: answers that arrive late or for another song,
a user who changes their mind while a song is being prepared, songs that
fail over and over, a switch-off with work under way, hand requests beside
a play, the play-session file, and queue input that is not what it should be.

Each test states what the service answers, what the control server sends
and what must come out: the load messages, the requests the service got and
the published files."""

import os
import random
from collections import Counter

import pytest

from conftest import SWITCHED_OFF
from fakes import scaled, wait_until
from fakes.answers import error_answer, song_item
from fakes.play import (LOAD, PLAY, SESSION_FILE, children, queue_batch, requests_to, saved,
                        search, settled, song_dir, start_loaded_song, wait_load, wait_saved,
                        session_record)
from fakes.playlists import playlist_entry, playlist_songs_answer, playlists_answer
from fakes.published import (NAMES, dialog, published, published_json, wait_for_dialog,
                             wait_for_file)
from fakes.songs import archive, file_path, midi_file, serve_song

# Every state file is whole at every moment.
pytestmark = pytest.mark.usefixtures("whole_files")

NO_SONG = '<set_rcs mode="ondemandNoSong"/>\n'


def loads(control_server, after=0):
    """The song ids of the load messages sent from `after` on."""
    return [int(m.split("/ondemand/")[1].split("/")[0])
            for m in control_server.messages[after:] if m.startswith(LOAD)]


def queue_ids(root):
    return [int(song["id"]) for song in published_json(root, "queuelist")["songs"]]


def fetches(service, song_id):
    return sum(r.path == file_path(song_id, "midi") for r in service.requests)


def assert_idle_and_answering(daemon, control_server):
    """No child left, and a control element is still handled at once."""
    assert wait_until(lambda: not children(daemon)), children(daemon)
    control_server.sync()


def serve_all(service, ids, **how):
    for song_id in ids:
        serve_song(service, song_id, {"midi": midi_file(song_id % 5 + 1)}, **how)


# -- the user's last choice is what loads ---------------------------------------------------

def quick_play_during_a_slow_address(service, control_server):
    serve_song(service, 61, {"midi": midi_file()}, address_delay=scaled(1.0))
    serve_song(service, 62, {"midi": midi_file(2)}, address_delay=scaled(1.5))
    queue_batch(control_server, [61])
    requests_to(service, "/items/61/downloadurls/gratis")
    control_server.send('<set_ondemand cmd="quickPlayQueue" category="search" songId="62"/>')
    return 62, [61]


def remove_the_song_being_fetched(service, control_server):
    serve_song(service, 111, {"midi": midi_file()}, delay=scaled(1.0))
    serve_all(service, [112, 113])
    queue_batch(control_server, [111, 112, 113])
    requests_to(service, file_path(111, "midi"))
    queue_batch(control_server, ["0"], cmd="rmvQueueSong", field="display_order")
    return 112, [113]


def all_addresses_by_hand_during_a_play(service, control_server):
    serve_song(service, 121, {"midi": midi_file()}, delay=scaled(1.0))
    serve_all(service, [122, 123])
    queue_batch(control_server, [121])
    requests_to(service, file_path(121, "midi"))
    control_server.send('<set_ondemand cmd="downloadurl" id="0"/>')
    return 121, []


@pytest.mark.parametrize("choose", [quick_play_during_a_slow_address,
                                    remove_the_song_being_fetched,
                                    all_addresses_by_hand_during_a_play])
def test_the_users_last_choice_is_the_song_that_loads(root, service, control_server, player,
                                                      choose):
    search(service, control_server, root, [61, 62, 111, 112, 113, 121, 122, 123])
    mark = control_server.mark()
    chosen, left = choose(service, control_server)
    wait_load(control_server, mark)
    settled(service, player, control_server)
    assert loads(control_server, mark) == [chosen]
    assert fetches(service, chosen) == 1
    assert queue_ids(root) == left
    assert dialog(root)["type"] != "error"


# -- failures end instead of looping ------------------------------------------------------

def empty_the_token(root, service):
    root.write("/usr/local/olc/api_token.txt", "")
    return "downloadUrl"


def refuse_every_address(root, service):
    for song_id in (71, 72, 73):
        for path in (f"/items/{song_id}/downloadurls", f"/items/{song_id}/downloadurls/gratis"):
            service.route("GET", path, status=404, body=error_answer("Gone"))
    return "server([404]: downloadUrl)\n[ Gone ]"


@pytest.mark.parametrize("fail", [empty_the_token, refuse_every_address])
@pytest.mark.parametrize("repeat", ["all", "one"])
def test_a_playlist_whose_every_song_fails_ends_with_its_error(root, service, control_server,
                                                                player, fail, repeat):
    service.route("GET", "/user/playlists", body=playlists_answer([playlist_entry(9, "Mine", 1)]))
    control_server.send('<set_ondemand cmd="playlists"/>')
    wait_for_file(root, "playlist", lambda text: '"id":"9"' in text)
    service.route("GET", "/user/playlists/9", body=playlist_songs_answer(
        [song_item(n, display_order=str(i)) for i, n in enumerate((71, 72, 73))]))
    control_server.send('<set_ondemand cmd="playlist" id="9"/>')
    wait_for_file(root, "playlist", lambda text: '"id":"73"' in text)
    message = fail(root, service)
    control_server.send(f'<set_ondemand cmd="setRepeat" type="{repeat}"/>')

    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="userplaylist" '
                        'playSongIndex="0" playlistID="9"/>')
    control_server.wait_for(NO_SONG, after=mark)
    wait_for_dialog(root, title="Error", message=message, type="error", isShow=True)
    settled(service, player, control_server)
    assert loads(control_server, mark) == []
    # Each song of the list was asked for once at the most.
    asked = [r.path for r in service.requests if "/downloadurls" in r.path]
    assert len(asked) == len(set(asked)) <= 3
    assert_idle_and_answering(player, control_server)


def test_an_optional_file_that_cannot_be_fetched_leaves_the_rest_of_the_set(
        root, service, control_server, player):
    serve_song(service, 81, {"midi": midi_file()}, listed={"image": "-x"})
    search(service, control_server, root, [81])
    mark = control_server.mark()
    queue_batch(control_server, [81])
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 81)}/midi"
    settled(service, player, control_server)
    assert not dialog(root)["isShow"]


def test_a_load_message_too_long_for_the_link_fails_the_song(root, service, control_server,
                                                             player):
    # Each "&" is five characters in the message: 1,000 for the name alone.
    serve_song(service, 95, {"zip": archive([("&" * 200 + ".mid", midi_file())])})
    search(service, control_server, root, [95])
    mark = control_server.mark()
    queue_batch(control_server, [95])
    wait_for_dialog(root, message="server([0]: download)", type="error")
    settled(service, player, control_server)
    assert loads(control_server, mark) == []
    assert all(m.endswith("\n") and len(m) < 1024 for m in control_server.messages)


def test_a_hand_download_beside_a_queue_play_moves_nothing(root, service, control_server,
                                                           player):
    serve_song(service, 71, {"midi": midi_file()}, delay=scaled(1.0))
    serve_all(service, [72, 73])
    search(service, control_server, root, [71, 72, 73])
    mark = control_server.mark()
    queue_batch(control_server, [71, 72, 73])
    requests_to(service, file_path(71, "midi"))
    control_server.send('<set_ondemand cmd="download" id="999"/>')
    wait_for_dialog(root, message="Download Error ( URL is not registered. )", type="error")
    wait_load(control_server, mark)
    settled(service, player, control_server)
    assert loads(control_server, mark) == [71]
    assert queue_ids(root) == [72, 73]


# -- switching off ends the session's work -----------------------------------------------------

def test_switching_off_ends_every_request_and_nothing_of_the_session_follows(
        root, service, control_server, player):
    ids = list(range(1001, 1301))
    serve_song(service, 1001, {"midi": midi_file()}, delay=scaled(30))
    serve_all(service, ids[1:], address_delay=scaled(30))
    service.route("GET", "/user/playlists", delay=scaled(2),
                  body=playlists_answer([playlist_entry(9, "Mine", 1)]))
    search(service, control_server, root, ids)
    queue_batch(control_server, [1001])
    requests_to(service, file_path(1001, "midi"))
    control_server.send('<set_ondemand cmd="playlists"/>')
    requests_to(service, "/user/playlists")
    control_server.send('<set_ondemand cmd="downloadurl" id="0"/>')
    assert wait_until(lambda: published_json(root, "status")["download"] > 200)

    mark = control_server.mark()
    control_server.send('<set_ondemand status="off"/>')
    assert wait_until(lambda: not children(player), timeout=scaled(2)), children(player)
    reset = {name: published(root, name) for name in NAMES}
    asked = len(service.requests)
    # Well past the slow preset answer: nothing of the old session comes.
    assert not wait_until(lambda: len(service.requests) > asked
                          or control_server.messages[mark:] != SWITCHED_OFF, timeout=scaled(3))
    assert {name: published(root, name) for name in NAMES} == reset
    assert published_json(root, "status")["download"] == 0


# -- the play-session file ----------------------------------------------------------------------

def test_the_session_file_holds_only_a_play_the_service_took(root, service, control_server,
                                                             player):
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    # Nothing loaded: a play report opens no session.
    control_server.send('<seq status="play" time="0"/>')
    serve_all(service, [91, 92])
    service.route("POST", "/user/history/event/play/91/", body="<response/>")
    service.route("POST", "/user/history/event/play/92/", status=500, body=error_answer("No"))
    search(service, control_server, root, [91, 92])
    assert [r.path for r in service.requests if "/history/" in r.path] == []

    mark = control_server.mark()
    queue_batch(control_server, [91, 92])
    wait_load(control_server, mark)
    assert start_loaded_song(control_server) == PLAY
    (played,) = requests_to(service, "/user/history/event/play/91/")
    wait_saved(root, session_record(91, played.form["session_id"][0], 0))

    # The next song's play event is refused: the file is gone and stays so.
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandSongCtrl" control="next"/>')
    wait_load(control_server, mark)
    start_loaded_song(control_server)
    requests_to(service, "/user/history/event/play/92/")
    control_server.send('<seq status="play" time="3000"/>')
    settled(service, player, control_server)
    assert saved(root) is None
    assert not os.path.exists(root.at(SESSION_FILE))


# -- queue and id input ---------------------------------------------------------------------------

def test_queue_input_is_read_strictly_and_large_ids_are_kept_whole(root, service,
                                                                     control_server, player):
    big = [3000000001, 3000000002]
    search(service, control_server, root, big)
    assert [song["id"] for song in published_json(root, "song")["songs"]] == [str(n) for n in big]
    control_server.send_all(['<set_ondemand cmd="addQueueBtm" songId="3000000001"/>',
                             '<set_ondemand cmd="addQueueBtm" songId="3000000002"/>',
                             '<set_ondemand cmd="queueList"/>'])
    wait_for_file(root, "queuelist", lambda text: text.count('"id":') == 2)
    assert queue_ids(root) == big
    before = published(root, "queuelist")

    mark = control_server.mark()
    for value in ("abc", "", "-1", "1x"):
        control_server.send(f'<set_ondemand cmd="rmvQueueSong" display_order="{value}"/>')
        control_server.send(f'<set_ondemand cmd="sortQueue" beforeIndex="{value}" afterIndex="0"/>')
    control_server.send('<set_ondemand cmd="quickPlayQueue" category="search" songId="77"/>')
    control_server.sync()
    assert published(root, "queuelist") == before
    assert control_server.messages[mark:] == []


def test_an_answer_for_a_playlist_no_longer_listed_changes_no_file(root, service,
                                                                    control_server, player):
    service.route("GET", "/user/playlists", body=playlists_answer([playlist_entry(9, "Mine", 1)]))
    control_server.send('<set_ondemand cmd="playlists"/>')
    wait_for_file(root, "playlist", lambda text: '"id":"9"' in text)
    service.route("GET", "/user/playlists/8", body=playlist_songs_answer([song_item(5)]))
    before = published(root, "playlist")
    control_server.send('<set_ondemand cmd="playlist" id="8"/>')
    settled(service, player, control_server)
    assert published(root, "playlist") == before


# -- a soak: many songs, many changes of mind ---------------------------------------------------

def open_descriptors(daemon):
    return len(os.listdir(f"/proc/{daemon.pid}/fd"))


def test_two_hundred_songs_with_quick_plays_and_queue_edits(root, service, control_server,
                                                            player):
    # Under a wrapper (valgrind, qemu-arm) a shorter run keeps CI's time.
    count = 200 if not os.environ.get("ONDEMAND_WRAPPER") else 30
    ids = list(range(2001, 2001 + count))
    serve_all(service, ids)
    search(service, control_server, root, ids)
    settled(service, player, control_server)
    descriptors = open_descriptors(player)
    rng = random.Random(16)
    pending, played = list(ids), 0

    last = []  # the song loaded last, which the sequencer holds

    def step(send, offered, may_drop):
        """Runs one action: every song loaded was offered, queued or is held
        again, and no song offered or queued is lost but one the user
        removed."""
        before = Counter(queue_ids(root))
        mark = control_server.mark()
        send()
        settled(service, player, control_server)
        loaded = loads(control_server, mark)
        expected = before + Counter(offered)
        assert not Counter(loaded) - expected - Counter(last), (loaded, expected)
        missing = expected - Counter(queue_ids(root)) - Counter(loaded)
        assert sum(missing.values()) <= may_drop, (missing, loaded)
        last[:] = loaded[-1:] or last
        return len(loaded)

    while pending:
        size = rng.randint(1, 4)
        batch, pending = pending[:size], pending[size:]
        remove = rng.random() < 0.2
        if rng.random() < 0.3:
            offered = batch[:1]
            elements = [f'<set_ondemand cmd="quickPlayQueue" category="search" '
                        f'songId="{batch[0]}"/>']
        else:
            offered = batch
            elements = [f'<set_ondemand cmd="addQueueBtm" songId="{value}"/>'
                        for value in ["start", *batch, "end"]]
        if remove:
            elements += [f'<set_ondemand cmd="rmvQueueSong" display_order="{value}"/>'
                         for value in ("start", "0", "end")]
        played += step(lambda: control_server.send_all(elements), offered, int(remove))
        # The sequencer ends the song: the next queue song loads, or the
        # last one is loaded again and held.
        while played and (not pending or rng.random() < 0.7):
            start_loaded_song(control_server)
            played += step(lambda: control_server.send('<seq status="nosong"/>'), [], 0)
            if not queue_ids(root):
                break

    assert played >= count // 2
    assert wait_until(lambda: not children(player))
    assert open_descriptors(player) == descriptors
