"""The start-up chain to its end, for a gratis member and for a member who
pays: the requests in order and every list file byte for byte; a new
account's first playlist; a failing step that stops the chain under its
dialog; the recommended songs and the history in the song file; and a
refusal of any catalogue request that switches everything off."""

import pytest

from conftest import SWITCHED_OFF, SWITCHED_ON, sent, store_tokens, switch_on
from fakes import scaled
from fakes.answers import error_answer, items_answer, song_item
from fakes.catalogue import (genre_entry, genres_answer, gratis_answer, preset_entry,
                             presets_answer, recommend_answer, recommend_entry)
from fakes.playlists import playlist_entry, playlists_answer
from fakes.published import (AT_START, WAIT_DIALOG, WAIT_HIDDEN, error_dialog, genre,
                             listed_song, masked, playlist_file, published,
                             recommend_playlist, recommend_playlist_file, search_song, song_file,
                             status, status_file, user_playlist, wait_dialog, wait_for_dialog,
                             wait_for_file)

START = '<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>'
MEMBER = '<set_ondemand cmd="setOption" gratis="false"/>'
STAMP = "2024-04-01 09:00:00"
MINE_STAMP = "2024-05-01 10:00:00"
CONNECTING_LOGIN = wait_dialog("modal_connect_message_connecting_login")

FEATURES = ("GET", "/user/account/features")
GRATIS = ("GET", "/cms/playlist/gratis")
PRESETS = ("GET", "/cms/playlists")
USER_PLAYLISTS = ("GET", "/user/playlists")
CREATE = ("POST", "/user/playlists/")
GENRES = ("GET", "/items/genres")
RECOMMEND_PLAYLISTS = ("GET", "/items/recommend/playlists")
RECOMMEND = ("GET", "/items/recommend/playlist")
HISTORY = ("GET", "/user/history")

GRATIS_ANSWER = gratis_answer(
    [preset_entry(30, "Free picks", modified_at=None), preset_entry(31, "More free")],
    [song_item(n) for n in (5, 1, 3, 2, 4)])
GRATIS_SONGS = [listed_song(n) for n in (5, 1, 3, 2, 4)]

PRESETS_ANSWER = presets_answer([
    preset_entry(12, "Classics"),
    preset_entry(7, "No stamp", modified_at=None),  # left out
    preset_entry(3, "Waltzes"),
])
MEMBER_PRESETS = [user_playlist(12, "Classics", STAMP, 1), user_playlist(3, "Waltzes", STAMP, 2)]
MINE = playlists_answer([playlist_entry(9, "Mine", 1)])
GENRES_ANSWER = genres_answer([
    genre_entry(3, "Jazz", 3), genre_entry(8, "Last", -1), genre_entry(1, "Pop", 1),
    genre_entry(4, "Unsorted", None), genre_entry(2, "Rock", 2)])
MEMBER_GENRES = [genre(4, "Unsorted", 0), genre(1, "Pop", 1), genre(2, "Rock", 2),
                 genre(3, "Jazz", 3), genre(8, "Last", 4294967295)]
RECOMMEND_ANSWER = recommend_answer(
    [recommend_entry("For you", 11, [song_item(21, display_order="2"), song_item(20)]),
     recommend_entry(None, None, [song_item(22)])],
    before=[song_item(99)])  # before every playlist: dropped
MEMBER_RECOMMENDED = [
    recommend_playlist(11, "For you", 1, [listed_song(21, order=2), listed_song(20)]),
    recommend_playlist(0, "", 2, [listed_song(22)]),
]
MEMBER_CHAIN = [FEATURES, PRESETS, USER_PLAYLISTS, GENRES, RECOMMEND_PLAYLISTS]


def requested(service):
    return [(r.method, r.path) for r in service.requests]


def serve_member_chain(service, user_playlists=MINE):
    service.route(*PRESETS, body=PRESETS_ANSWER)
    service.route(*USER_PLAYLISTS, body=user_playlists)
    service.route(*GENRES, body=GENRES_ANSWER)
    service.route(*RECOMMEND_PLAYLISTS, body=RECOMMEND_ANSWER)


def member_status(**changes):
    fields = dict(status="on", gratis=False, original_artist=True, genres=MEMBER_GENRES)
    fields.update(changes)
    return status_file(**fields)


def wait_for_member_chain(root):
    wait_for_file(root, "status", member_status())
    wait_for_file(root, "dialog", WAIT_HIDDEN)


@pytest.fixture
def member(root, service, control_server, linked_daemon):
    """A paying member whose start-up chain has run to its end."""
    store_tokens(root)
    serve_member_chain(service)
    control_server.send_all([MEMBER, START])
    wait_for_member_chain(root)
    return linked_daemon


def test_a_gratis_start_fetches_the_gratis_playlists_and_nothing_else(root, service,
                                                                     control_server,
                                                                     linked_daemon):
    store_tokens(root)
    service.route(*GRATIS, body=GRATIS_ANSWER, delay=scaled(0.5))
    control_server.send(START)
    service.wait_for_requests(2)
    wait_for_file(root, "dialog", CONNECTING_LOGIN)

    # Both playlists hold every song of the answer, in its order.
    wait_for_file(root, "presetPlaylist", playlist_file([
        user_playlist(30, "Free picks", "", 1, GRATIS_SONGS),
        user_playlist(31, "More free", STAMP, 2, GRATIS_SONGS)]))
    wait_for_file(root, "dialog", WAIT_HIDDEN)
    wait_for_file(root, "status", status_file("on", gratis=True, original_artist=True))
    control_server.sync()
    assert requested(service) == [FEATURES, GRATIS]
    for name in ("playlist", "recommendPlaylist", "song"):
        assert masked(published(root, name)) == AT_START[name], name
    assert sent(control_server) == SWITCHED_ON


def test_a_member_start_runs_every_step_in_order(root, service, control_server, linked_daemon):
    store_tokens(root)
    serve_member_chain(service)
    control_server.send_all([MEMBER, START])
    wait_for_member_chain(root)
    assert requested(service) == MEMBER_CHAIN
    assert all(r.header("token") == "access-0" for r in service.requests)
    assert masked(published(root, "presetPlaylist")) == playlist_file(MEMBER_PRESETS)
    assert masked(published(root, "playlist")) == playlist_file(
        [user_playlist(9, "Mine", MINE_STAMP, 1)])
    assert masked(published(root, "recommendPlaylist")) == recommend_playlist_file(
        MEMBER_RECOMMENDED)
    assert sent(control_server) == SWITCHED_ON

    # A second start runs the whole chain again.
    control_server.send(START)
    service.wait_for_requests(2 * len(MEMBER_CHAIN))
    wait_for_member_chain(root)
    control_server.sync()
    assert requested(service) == 2 * MEMBER_CHAIN


def test_a_new_account_gets_its_first_playlist_before_the_genres(root, service, control_server,
                                                                 linked_daemon):
    store_tokens(root)
    serve_member_chain(service, user_playlists=playlists_answer([]))
    service.route(*CREATE, body="<response/>", delay=scaled(0.5))
    control_server.send_all([MEMBER, START])
    create = service.wait_for_requests(4)[3]
    assert (create.method, create.path, create.form_pairs) == (
        "POST", "/user/playlists/", [("name", "My Playlist")])
    assert masked(published(root, "dialog")) == wait_dialog("modal_add_message_adding_playlist")
    service.route(*USER_PLAYLISTS, body=playlists_answer([playlist_entry(40, "My Playlist", 1)]))

    wait_for_member_chain(root)
    assert requested(service) == [FEATURES, PRESETS, USER_PLAYLISTS, CREATE, USER_PLAYLISTS,
                                  GENRES, RECOMMEND_PLAYLISTS]
    assert masked(published(root, "playlist")) == playlist_file(
        [user_playlist(40, "My Playlist", MINE_STAMP, 1)])


@pytest.mark.parametrize("gratis, failing, status_code, message", [
    (True, GRATIS, 500, "server([500]: gratis playlist)\\n[ Try later ]"),
    (False, PRESETS, 500, "server([500]: get all preset playlist)\\n[ Try later ]"),
    (False, USER_PLAYLISTS, 503, "server([503]: all user Playlist)\\n[ Try later ]"),
    (False, GENRES, 401, "server([401]: genres)\\n[ Try later ]"),
    (False, RECOMMEND_PLAYLISTS, 500, "server([500]: recommend Playlist)\\n[ Try later ]"),
    (False, PRESETS, 200, "get all preset playlist"),  # an answer that cannot be read
], ids=["gratis", "presets", "user-playlists", "genres", "recommended", "unreadable"])
def test_a_failing_step_stops_the_chain_under_its_dialog(root, service, control_server,
                                                         linked_daemon, gratis, failing,
                                                         status_code, message):
    store_tokens(root)
    serve_member_chain(service)
    body = error_answer("Try later") if status_code != 200 else "<response><playlists>"
    service.route(*failing, status=status_code, body=body)
    if not gratis:
        control_server.send(MEMBER)
    control_server.send(START)
    wait_for_file(root, "dialog", error_dialog(message))
    control_server.sync()
    chain = [FEATURES, GRATIS] if gratis else MEMBER_CHAIN
    assert requested(service) == chain[:chain.index(failing) + 1]
    # The service stays on; the genres show once their answer is in.
    shown = status(root)
    assert shown["status"] == "on"
    genres_in = failing == RECOMMEND_PLAYLISTS
    assert [g["name"] for g in shown["genres"]] == (
        ["Unsorted", "Pop", "Rock", "Jazz", "Last"] if genres_in else [])
    assert sent(control_server) == SWITCHED_ON


def test_recommended_songs_and_history_fill_the_song_file(root, service, control_server,
                                                          linked_daemon):
    store_tokens(root)
    switch_on(control_server)
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    service.route(*RECOMMEND, body=items_answer([song_item(8, display_order="2"),
                                                  song_item(6, display_order="1"),
                                                  song_item(7, genre=None)]), delay=scaled(0.5))
    service.route(*HISTORY, body=items_answer([song_item(4, ondemand_play="false")]))

    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_file(root, "song", song_file([search_song(1)]))
    control_server.send('<set_ondemand cmd="recommendSong"/>')
    service.wait_for_requests(2)
    wait_for_file(root, "dialog", WAIT_DIALOG)
    # Sorted by display order; an item that lacks a required attribute is
    # left out.
    wait_for_file(root, "song", song_file([search_song(6, order=1), search_song(8, order=2)]))
    wait_for_file(root, "dialog", WAIT_HIDDEN)

    control_server.send('<set_ondemand cmd="historySongs"/>')
    wait_for_file(root, "song", song_file([search_song(4, play="false")]))
    wait_for_file(root, "dialog", WAIT_HIDDEN)
    # Neither replaced the search the interface can return to.
    control_server.send('<set_ondemand cmd="getSongListOldSearch"/>')
    wait_for_file(root, "song", song_file([search_song(1)]))
    assert requested(service) == [("GET", "/items"), RECOMMEND, HISTORY]


def test_opening_a_preset_playlist_publishes_its_songs(root, service, control_server, member):
    service.route("GET", "/cms/playlists/12",
                  body=items_answer([song_item(2, display_order="9"), song_item(1)]))
    control_server.send('<set_ondemand cmd="presetPlaylist" playlistID="12"/>')
    songs = [listed_song(2, order=9), listed_song(1)]
    wait_for_file(root, "presetPlaylist", playlist_file(
        [user_playlist(12, "Classics", STAMP, 1, songs), MEMBER_PRESETS[1]]))
    wait_for_file(root, "dialog", WAIT_HIDDEN)

    # The genres are asked for again on demand and shown at once.
    service.route(*GENRES, body=genres_answer([genre_entry(5, "Folk", 1)]))
    control_server.send('<set_ondemand cmd="genres"/>')
    wait_for_file(root, "status", member_status(genres=[genre(5, "Folk", 1)]))
    assert requested(service) == MEMBER_CHAIN + [("GET", "/cms/playlists/12"), GENRES]


@pytest.mark.parametrize("command, request_, operation", [
    ('cmd="recommendSong"', RECOMMEND, "recommend"),
    ('cmd="historySongs"', HISTORY, "recent"),
    ('cmd="genres"', GENRES, "genres"),
    ('cmd="recommendPlaylist"', RECOMMEND_PLAYLISTS, "recommend Playlist"),
    ('cmd="presetPlaylist" playlistID="12"', ("GET", "/cms/playlists/12"),
     "get preset playlist"),
], ids=["recommend", "history", "genres", "recommended-playlists", "preset"])
def test_a_refused_catalogue_request_switches_off_and_empties_every_list(
        root, service, control_server, member, command, request_, operation):
    # Some songs in the song file as well.
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_file(root, "song", song_file([search_song(1)]))
    root.write("/usr/local/ondemand/4/song.mid", b"MThd")

    service.route(*request_, status=403, body=error_answer("Not in this region"))
    control_server.send(f"<set_ondemand {command}/>")
    wait_for_dialog(root, type="error")
    assert masked(published(root, "dialog")) == error_dialog(
        f"server([403]: {operation})\\n[ Not in this region ]")
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    for name in ("song", "playlist", "presetPlaylist", "recommendPlaylist", "queuelist"):
        assert masked(published(root, name)) == AT_START[name], name
    wait_for_file(root, "status", status_file("off", gratis=False, original_artist=True))
    assert not root.exists("/usr/local/ondemand")
