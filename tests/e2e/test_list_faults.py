"""Lists read from the service's answers: records without their identity are
left out, every list is bounded, and the smaller faults of the edits and the
status file."""

import json

import pytest

from conftest import store_tokens
from fakes.answers import error_answer, items_answer, song_item
from fakes.catalogue import (genre_entry, genres_answer, gratis_answer, preset_entry,
                             recommend_answer, recommend_entry)
from fakes.playlists import playlist_entry, playlists_answer
from fakes.published import published, status, wait_for_dialog, wait_for_file

PLAYLISTS = playlists_answer([playlist_entry(9, "Evening", 1)])


def test_the_request_count_goes_down_when_a_search_is_answered(root, service, control_server,
                                                               player):
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_file(root, "song", lambda text: '"id":"1"' in text)
    assert service.wait_all_finished()
    wait_for_file(root, "status", lambda text: status(root)["download"] == 0)


def test_a_rename_turns_the_percent_mark_as_create_and_copy_do(root, service, control_server,
                                                               player):
    service.route("POST", "/user/playlists/9", body="<response/>")
    service.route("GET", "/user/playlists", body=PLAYLISTS)
    control_server.send('<set_ondemand cmd="updatePlaylist" id="9" name="50(%) renamed" '
                        'ctrl="Rename"/>')
    assert service.wait_for_requests(1)[0].form_pairs == [("name", "50% renamed")]


@pytest.mark.parametrize("token", ["", " \n"])
def test_an_update_without_a_token_is_refused_without_a_request(root, service, control_server,
                                                                player, token):
    root.write("/usr/local/olc/api_token.txt", token)
    control_server.send('<set_ondemand cmd="updatePlaylist" id="9" name="C" ctrl="Rename"/>')
    wait_for_dialog(root, type="error")
    control_server.sync()
    assert all(r.path != "/user/playlists/9" for r in service.requests)


# Elements that are no record: an empty genre, a genre in an error text, an
# item nested in a recommended song.
@pytest.mark.parametrize("command, path, answer, name, check", [
    ("genres", "/items/genres",
     genres_answer(["<genre/>", genre_entry(2, "Rock", 1)]).replace(
         "</response>", "<error><genre>x</genre></error></response>"),
     "status", lambda root: [g["id"] for g in status(root)["genres"]] == ["2"]),
    ("recommendPlaylist", "/items/recommend/playlists",
     recommend_answer([recommend_entry("T", 1, [song_item(5).replace("/>", "><item/></item>")])]),
     "recommendPlaylist",
     lambda root: '"id":"5"' in published(root, "recommendPlaylist")
     and '"id":"0"' not in published(root, "recommendPlaylist")),
], ids=["genres", "recommended-songs"])
def test_elements_without_an_id_are_no_records(root, service, control_server, player, command,
                                               path, answer, name, check):
    service.route("GET", path, body=answer)
    control_server.send(f'<set_ondemand cmd="{command}"/>')
    wait_for_file(root, name, lambda text: check(root))


# -- bounds --------------------------------------------------------------------------

LONG = "x" * 40  # every text attribute of a song this long


def full_item(number):
    return song_item(number, title=f"{LONG}{number}", artist=LONG, composer=LONG,
                     performer=LONG)


@pytest.mark.parametrize("command, path, answer, name, count, kept", [
    ('search" title="x', "/items", items_answer([full_item(n) for n in range(1, 1501)]),
     "song", lambda root: published(root, "song").count('"id":'), 200),  # the file shows 200
    ("genres", "/items/genres",
     genres_answer([genre_entry(n, f"G{n}", n) for n in range(1, 1501)]),
     "status", lambda root: len(status(root)["genres"]), 1000),
], ids=["search", "genres"])
def test_a_list_keeps_its_bound(root, service, control_server, player, command, path, answer,
                                name, count, kept):
    service.route("GET", path, body=answer)
    control_server.send(f'<set_ondemand cmd="{command}"/>')
    wait_for_file(root, name, lambda text: count(root) == kept)
    player.wait_for_stderr("elements beyond the limit left out")


TEXT_BOUND = 512  # bytes kept of one text
FILE_BOUND = 2048 * 1024  # bytes of one published file


def shown_title(root):
    text = wait_for_file(root, "song", lambda text: '"id":"1"' in text)
    return json.loads(text)["songs"][0]["title"]


@pytest.mark.parametrize("status_code, answer, shown, check", [
    # A title of 600 two-byte characters keeps 256 of them, none halved.
    (200, items_answer([song_item(1, title="\u00e9" * 600)]), shown_title,
     lambda title: title == "\u00e9" * 256),
    # The service's error words: each message cut, and none after the first
    # that reaches four times the bound.
    (500, error_answer("m" * 2000, *["n" * 100] * 500),
     lambda root: wait_for_dialog(root, type="error")["message"],
     lambda words: "m" * TEXT_BOUND + " ]" in words and words.count("n") < 5 * TEXT_BOUND),
], ids=["song-title", "error-words"])
def test_a_long_text_is_cut_wherever_it_shows(root, service, control_server, player,
                                              status_code, answer, shown, check):
    service.route("GET", "/items", status=status_code, body=answer)
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    assert check(shown(root))


def test_the_largest_gratis_answer_shows_every_playlist_within_the_file_bound(
        root, service, control_server, linked_daemon):
    # 64 playlists sharing 1,000 songs: 64,000 song objects would be about
    # 20 MiB of file; the songs stop at three quarters of the bound.
    store_tokens(root)
    service.route("GET", "/cms/playlist/gratis", body=gratis_answer(
        [preset_entry(100 + n, f"Free {n}") for n in range(64)],
        [full_item(n) for n in range(1, 1001)]))
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>')
    text = wait_for_file(root, "presetPlaylist", lambda text: '"id":"163"' in text)
    assert len(text.encode()) <= FILE_BOUND
    playlists = json.loads(text)["playlists"]
    assert [p["id"] for p in playlists] == [str(100 + n) for n in range(64)]
    counts = [len(p["songs"]) for p in playlists]
    assert counts[0] == 1000 and counts[-1] == 0 and counts == sorted(counts, reverse=True)
    linked_daemon.wait_for_stderr("entries beyond 2048 KiB left out")
