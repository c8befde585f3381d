"""The user's own playlists through the control link: the playlist file as the
web interface reads it after list and songs answers, each edit with its
dialog and the request it sends, the add-songs batch, a delete of the
playlist being played, and a refusal that switches everything off."""

import pytest

from conftest import SWITCHED_OFF, SWITCHED_ON, sent, store_tokens, switch_on
from fakes import scaled
from fakes.answers import error_answer, items_answer, song_item
from fakes.playlists import playlist_entry, playlist_songs_answer, playlists_answer
from fakes.published import (AT_START, NO_DIALOG, WAIT_DIALOG, WAIT_HIDDEN, error_dialog,
                             listed_song, masked, playlist_file, published, published_json,
                             status, user_playlist, wait_dialog, wait_for_dialog, wait_for_file,
                             wait_for_status)

MODIFIED = "2024-05-01 10:00:00"

LIST = playlists_answer([
    playlist_entry(9, "Evening", 2),
    # Escaped in the answer, and again, as JSON, in the file.
    playlist_entry(7, 'Mine &amp; &quot;yours&quot; a/b', 1),
    playlist_entry(8, "No order", None),  # lacks "sort": left out
])
WITHOUT_7 = playlists_answer([playlist_entry(9, "Evening", 2)])

SONGS_7 = [song_item(1), song_item(2, genre=None, ondemand_play="false")]
SONGS_9 = [song_item(5)]
PUBLISHED_7 = [listed_song(1), listed_song(2, genre="", play="false")]
PUBLISHED_9 = [listed_song(5)]


def mine(songs=()):
    return user_playlist(7, 'Mine & \\"yours\\" a\\/b', MODIFIED, 1, songs)


def evening(songs=()):
    return user_playlist(9, "Evening", MODIFIED, 2, songs)


@pytest.fixture
def switched_on(root, service, control_server, linked_daemon):
    """Tokens stored and the service switched on. A first switch-on leaves the
    start-up chain at its start, where a list answer would move it on; off
    and on again leaves it at rest."""
    store_tokens(root)
    switch_on(control_server)
    mark = control_server.mark()
    control_server.send('<set_ondemand status="off"/>')
    control_server.send('<set_ondemand status="on"/>')
    control_server.wait_for('<set_seq time="0" />', after=mark)
    return linked_daemon


def fetch_list(service, control_server, root, answer, playlists):
    service.route("GET", "/user/playlists", body=answer)
    control_server.send('<set_ondemand cmd="playlists"/>')
    wait_for_file(root, "playlist", playlist_file(playlists))


def fetch_songs(service, control_server, root, id_, items, playlists, delay=0.0):
    service.route("GET", f"/user/playlists/{id_}", body=playlist_songs_answer(items), delay=delay)
    control_server.send(f'<set_ondemand cmd="playlist" id="{id_}"/>')
    if playlists is not None:
        wait_for_file(root, "playlist", playlist_file(playlists))


def test_the_playlist_file_holds_the_list_and_the_songs_of_playlists_still_listed(
        root, service, control_server, switched_on):
    fetch_list(service, control_server, root, LIST, [mine(), evening()])

    fetch_songs(service, control_server, root, 7, SONGS_7, None, delay=scaled(0.5))
    service.wait_for_requests(2)
    wait_for_file(root, "dialog", WAIT_DIALOG)
    wait_for_file(root, "playlist", playlist_file([mine(PUBLISHED_7), evening()]))
    wait_for_file(root, "dialog", WAIT_HIDDEN)
    fetch_songs(service, control_server, root, 9, SONGS_9,
                [mine(PUBLISHED_7), evening(PUBLISHED_9)])

    # Songs of 7 are on their way when a newer list drops 7: they arrive
    # last and are not kept; 9 keeps its songs.
    fetch_songs(service, control_server, root, 7, SONGS_9, None, delay=scaled(1))
    service.wait_for_requests(4)
    fetch_list(service, control_server, root, WITHOUT_7, [evening(PUBLISHED_9)])
    assert service.wait_all_finished()
    wait_for_status(root, download=0)
    assert masked(published(root, "playlist")) == playlist_file([evening(PUBLISHED_9)])
    assert [r.path for r in service.requests] == [
        "/user/playlists", "/user/playlists/7", "/user/playlists/9", "/user/playlists/7",
        "/user/playlists"]


CREATING, ADDING, COPYING = ("modal_create_message_creating",
                             "modal_add_message_adding_playlist", "modal_copy_message_copying")
DELETING, RENAMING, SORTING = ("modal_delete_message_deleting", "modal_rename_message_renaming",
                               "modal_sort_message_changing")

# The command's fields, the wait dialog it shows (None: none), and the
# request it sends: path and form fields. Every edit is a POST.
EDITS = {
    "create": ('cmd="createPlaylist" name="My 100% list"', CREATING,
               "/user/playlists/", [("name", "My 100% list")]),
    # An "items" field, even an empty one, makes it an add.
    "create-empty-items": ('cmd="createPlaylist" name="A" items=""', ADDING,
                           "/user/playlists/", [("name", "A")]),
    "create-with-items": ('cmd="createPlaylist" name="A" items="[11,12]"', ADDING,
                          "/user/playlists/", [("name", "A"), ("items", "[11,12]")]),
    "copy": ('cmd="copyPlaylist" name="B" items="[5]"', COPYING,
             "/user/playlists/", [("name", "B"), ("items", "[5]")]),
    "delete": ('cmd="deletePlaylist" id="9"', DELETING, "/user/playlists/9/delete", []),
    "rename": ('cmd="updatePlaylist" id="9" name="C" ctrl="Rename"', RENAMING,
               "/user/playlists/9", [("name", "C")]),
    "add": ('cmd="updatePlaylist" id="9" items="[1,2]" ctrl="add"', ADDING,
            "/user/playlists/9", [("items", "[1,2]")]),
    "remove": ('cmd="updatePlaylist" id="9" items="[1]" ctrl="DELETE"', DELETING,
               "/user/playlists/9", [("items", "[1]")]),
    "sort": ('cmd="updatePlaylist" id="9" sort="[2,1]" ctrl="sort"', SORTING,
             "/user/playlists/9", [("sort", "[2,1]")]),
    # Another "ctrl" shows nothing and is not sent.
    "move": ('cmd="updatePlaylist" id="9" name="D" sort="[1]" ctrl="move"', None,
             "/user/playlists/9", [("name", "D"), ("sort", "[1]")]),
}


@pytest.mark.parametrize("fields, message, path, form", EDITS.values(), ids=EDITS.keys())
def test_an_edit_shows_its_dialog_sends_its_request_and_fetches_the_list_again(
        root, service, control_server, switched_on, fields, message, path, form):
    service.route("POST", path, body="<response/>", delay=scaled(0.5))
    service.route("GET", "/user/playlists", body=LIST)
    control_server.send(f"<set_ondemand {fields}/>")

    edit = service.wait_for_requests(1)[0]
    wait_for_file(root, "dialog", NO_DIALOG if message is None else wait_dialog(message))
    assert (edit.method, edit.path, edit.form_pairs) == ("POST", path, form)

    wait_for_file(root, "playlist", playlist_file([mine(), evening()]))
    assert [r.path for r in service.wait_for_requests(2)][1:] == ["/user/playlists"]
    wait_for_file(root, "dialog", WAIT_HIDDEN)


def add_batch(control_server, items):
    control_server.send_all(f'<set_ondemand cmd="addToPlaylist" id="9" item_id="{item}"/>'
                            for item in ["start", *items, "end"])


def test_an_add_batch_sends_one_song_at_a_time_and_drops_the_rest_after_a_failure(
        root, service, control_server, switched_on):
    add = "/user/playlists/9/add"
    # A batch without songs sends nothing.
    add_batch(control_server, [])
    control_server.sync()
    assert masked(published(root, "dialog")) == WAIT_HIDDEN

    # Song 11 is added slowly; by the time 12 is sent the service fails it.
    service.route("POST", add, body="<response/>", delay=scaled(0.5))
    add_batch(control_server, ["11", "12", "13"])
    service.wait_for_requests(1)
    assert masked(published(root, "dialog")) == wait_dialog(ADDING)
    service.route("POST", add, status=500, body=error_answer("No such song"))
    wait_for_file(root, "dialog",
                  error_dialog("server([500]: add user playlist)\\n[ No such song ]"))

    # The next batch is sent whole; 13 never was.
    service.route("POST", add, body="<response/>")
    add_batch(control_server, ["14"])
    wait_for_file(root, "dialog", WAIT_HIDDEN)
    assert service.wait_all_finished()
    assert [(r.method, r.path, r.form_pairs) for r in service.requests] == [
        ("POST", add, [("item_id", item)]) for item in ("11", "12", "14")]
    # Each song went only after the previous one had been answered.
    assert all(a.finished <= b.arrived for a, b in zip(service.requests, service.requests[1:]))


def test_deleting_the_playlist_being_played_resets_the_play_manager(root, service,
                                                                    control_server, switched_on):
    fetch_list(service, control_server, root, LIST, [mine(), evening()])
    fetch_songs(service, control_server, root, 9, SONGS_9, [mine(), evening(PUBLISHED_9)])
    # The song's addresses never come while the test runs: it stays chosen.
    for path in ("/items/5/downloadurls", "/items/5/downloadurls/gratis"):
        service.route("GET", path, body="<response/>", delay=scaled(30))
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="userplaylist" '
                        'playSongIndex="0" playlistID="9"/>')
    service.wait_for_requests(3)
    control_server.send('<set_ondemand cmd="setRepeat" type="off"/>')

    def manager():
        return published_json(root, "playmanager")["playmanager"]

    wait_for_file(root, "playmanager", lambda text: manager()["playlistID"] == "9")
    assert (manager()["category"], manager()["playSong"]["id"]) == ("userplaylist", "5")

    service.route("POST", "/user/playlists/9/delete", body="<response/>")
    service.route("GET", "/user/playlists", body=playlists_answer([playlist_entry(7, "x", 1)]))
    control_server.send('<set_ondemand cmd="deletePlaylist" id="9"/>')
    wait_for_file(root, "playmanager", lambda text: manager()["category"] == "")
    assert (manager()["playlistID"], manager()["playSong"]["id"]) == ("0", "0")
    # The list fetched again no longer holds it, nor its songs.
    wait_for_file(root, "playlist", playlist_file([user_playlist(7, "x", MODIFIED, 1)]))


def test_a_refused_playlist_request_switches_off_and_empties_every_list(root, service,
                                                                        control_server,
                                                                        switched_on):
    fetch_list(service, control_server, root, LIST, [mine(), evening()])
    fetch_songs(service, control_server, root, 7, SONGS_7, [mine(PUBLISHED_7), evening()])
    service.route("GET", "/items", body=items_answer([song_item(3)]))
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_file(root, "song", lambda text: '"id":"3"' in text)

    service.route("GET", "/user/playlists/9", status=403, body=error_answer("Not here"))
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="playlist" id="9"/>')
    shown = wait_for_dialog(root, type="error")
    assert shown["message"] == "server([403]: get user playlist)\n[ Not here ]"
    control_server.wait_for('<set_rcs mode="normal"/>', after=mark)
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF + SWITCHED_ON + SWITCHED_OFF
    assert wait_for_status(root, status="off")
    for name in ("song", "queuelist", "playlist", "presetPlaylist", "recommendPlaylist"):
        assert masked(published(root, name)) == AT_START[name], name
