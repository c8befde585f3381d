"""The catalogue keeps to the newest answer: a repeated start that must not
write to the account, late answers that must not refill files or hide
errors, a cancel outside the start-up chain, two fetches of one list, two
add batches, and refused edits of the playlist being played.

Each test states what the service answers (with delays), what the control
server sends, and what the service receives and the files hold."""

import pytest

from conftest import store_tokens
from fakes import scaled, wait_until
from fakes.answers import error_answer, items_answer, song_item
from fakes.catalogue import genres_answer, presets_answer, recommend_answer
from fakes.play import requests_to, settled, wait_load
from fakes.playlists import playlist_entry, playlists_answer
from fakes.published import dialog, published, published_json, wait_for_dialog, wait_for_file
from fakes.songs import midi_file, serve_song

START = '<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>'
OFF = '<set_ondemand status="off"/>'
MEMBER = '<set_ondemand cmd="setOption" gratis="false"/>'
MINE = playlists_answer([playlist_entry(9, "Mine", 1)])

pytestmark = pytest.mark.usefixtures("whole_files")


def requested(service):
    return [(r.method, r.path) for r in service.requests]


def playlist_names(root):
    return [p["name"] for p in published_json(root, "playlist")["playlists"]]


@pytest.fixture
def member(root, service, control_server, linked_daemon):
    """A paying member with tokens, the chain's answers routed."""
    store_tokens(root)
    control_server.write_gap = 0.01
    service.route("GET", "/cms/playlists", body=presets_answer([]))
    service.route("GET", "/user/playlists", body=MINE)
    service.route("GET", "/items/genres", body=genres_answer([]))
    service.route("GET", "/items/recommend/playlists", body=recommend_answer([]))
    control_server.send(MEMBER)
    return linked_daemon


def run_chain(service, control_server, daemon):
    control_server.send(START)
    requests_to(service, "/items/recommend/playlists")
    settled(service, daemon, control_server)


@pytest.mark.parametrize("between", [[START], [START, OFF, START]], ids=["twice", "off-between"])
def test_a_repeated_start_never_creates_a_playlist_the_account_has(root, service,
                                                                   control_server, member,
                                                                   between):
    # The first start's features answer comes first, the second's later; the
    # account's playlists come last.
    service.route("GET", "/user/account/features", body="<response/>", delay=scaled(0.3))
    service.route("GET", "/user/playlists", body=MINE, delay=scaled(1.5))
    control_server.send(START)
    requests_to(service, "/user/account/features")
    service.route("GET", "/user/account/features", body="<response/>", delay=scaled(1.0))
    control_server.send_all(between)
    requests_to(service, "/items/recommend/playlists")
    settled(service, member, control_server)
    assert ("POST", "/user/playlists/") not in requested(service)
    assert playlist_names(root) == ["Mine"]
    assert not dialog(root)["isShow"]


def test_late_answers_leave_errors_and_switched_off_files_alone(root, service, control_server,
                                                                member):
    run_chain(service, control_server, member)
    # A search fails; a playlists answer that comes later hides nothing.
    service.route("GET", "/items", status=500, body=error_answer("Busy"))
    service.route("GET", "/user/playlists", body=MINE, delay=scaled(0.5))
    control_server.send('<set_ondemand cmd="playlists"/>')
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_dialog(root, message="server([500]: search)\n[ Busy ]", type="error")
    settled(service, member, control_server)
    assert dialog(root)["type"] == "error"

    # A refusal switches off; the slow playlists answer refills nothing.
    control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
    service.route("GET", "/user/playlists", body=playlists_answer(
        [playlist_entry(9, "Mine", 1), playlist_entry(10, "Late", 2)]), delay=scaled(0.5))
    service.route("GET", "/items/genres", status=403, body=error_answer("Region"))
    control_server.send('<set_ondemand cmd="playlists"/>')
    control_server.send('<set_ondemand cmd="genres"/>')
    wait_for_dialog(root, message="server([403]: genres)\n[ Region ]", type="error")
    reset = published(root, "playlist")
    assert not wait_until(lambda: published(root, "playlist") != reset, timeout=scaled(1.0))
    assert dialog(root)["message"] == "server([403]: genres)\n[ Region ]"


def test_a_cancel_outside_the_chain_switches_nothing_off(root, service, control_server, member):
    run_chain(service, control_server, member)
    control_server.send('<set_ondemand cmd="ondemandCancel"/>')
    control_server.send('<set_ondemand cmd="playlists"/>')
    settled(service, member, control_server)
    assert published_json(root, "status")["status"] == "on"
    assert playlist_names(root) == ["Mine"]


def test_an_older_list_answer_never_overwrites_a_newer_one(root, service, control_server,
                                                           member):
    run_chain(service, control_server, member)
    service.route("POST", "/user/playlists/", body="<response/>")
    service.route("GET", "/user/playlists", delay=scaled(1.0), body=playlists_answer(
        [playlist_entry(9, "Mine", 1), playlist_entry(12, "Party", 2)]))
    control_server.send('<set_ondemand cmd="createPlaylist" name="Party"/>')
    assert wait_until(lambda: sum(r.path == "/user/playlists" for r in service.requests) == 2)
    service.route("GET", "/user/playlists", body=MINE)
    service.route("POST", "/user/playlists/12/delete", body="<response/>")
    control_server.send('<set_ondemand cmd="deletePlaylist" id="12"/>')
    settled(service, member, control_server)
    assert playlist_names(root) == ["Mine"]


def test_a_second_add_batch_waits_for_the_first(root, service, control_server, member):
    run_chain(service, control_server, member)
    for playlist in (9, 7):
        service.route("POST", f"/user/playlists/{playlist}/add", body="<response/>",
                      delay=scaled(0.3))

    def batch(playlist, items):
        return [f'<set_ondemand cmd="addToPlaylist" id="{playlist}" item_id="{item}"/>'
                for item in ("start", *items, "end")]

    control_server.send_all(batch(9, [11, 12, 13]))
    requests_to(service, "/user/playlists/9/add")
    control_server.send_all(batch(7, [21]))
    requests_to(service, "/user/playlists/7/add")
    settled(service, member, control_server)
    added = [(r.path, r.form_pairs) for r in service.requests if r.path.endswith("/add")]
    assert added == [(f"/user/playlists/{p}/add", [("item_id", str(i))])
                     for p, i in ((9, 11), (9, 12), (9, 13), (7, 21))]


@pytest.mark.parametrize("edit, path", [
    ('<set_ondemand cmd="deletePlaylist" id="9"/>', "/user/playlists/9/delete"),
    ('<set_ondemand cmd="updatePlaylist" id="9" items="2,1" ctrl="sort"/>', "/user/playlists/9"),
], ids=["delete", "update"])
def test_a_refused_edit_leaves_the_play_manager(root, service, control_server, member, edit,
                                                path):
    run_chain(service, control_server, member)
    service.route("GET", "/user/playlists/9", body=items_answer(
        [song_item(n, display_order=str(i)) for i, n in enumerate((1, 2))]))
    control_server.send('<set_ondemand cmd="playlist" id="9"/>')
    wait_for_file(root, "playlist", lambda text: '"id":"2"' in text)
    for song_id in (1, 2):
        serve_song(service, song_id, {"midi": midi_file(song_id)})
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="userplaylist" '
                        'playSongIndex="0" playlistID="9"/>')
    wait_load(control_server, 0)
    settled(service, member, control_server)
    before = published_json(root, "playmanager")["playmanager"]
    assert before["category"] == "userplaylist"
    service.route("POST", path, status=500, body=error_answer("No"))
    control_server.send(edit)
    wait_for_dialog(root, type="error")
    settled(service, member, control_server)
    assert published_json(root, "playmanager")["playmanager"] == before
