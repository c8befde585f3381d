"""Playing a preset playlist after the start-up chain has run to its end: the
play and stop events the service receives (origin "pp" with the playlist's
id), the session file that follows the furthest second reached, and the
play manager file; and the gratis playlist played by a gratis member, which
reports nothing.

The control server plays the sequencer's part as in test_play.py."""

import re

import pytest

from conftest import store_tokens
from fakes.answers import items_answer, song_item
from fakes.catalogue import (genres_answer, gratis_answer, preset_entry, presets_answer,
                             recommend_answer)
from fakes.play import (PLAY, SESSION_FILE, requests_to, saved, session_record, settled,
                        song_dir, start_loaded_song, wait_load, wait_saved)
from fakes.playlists import playlist_entry, playlists_answer
from fakes.published import (WAIT_HIDDEN, listed_song, managed_song, masked, playlist_file,
                             playmanager_file, published, user_playlist, wait_for_file)
from fakes.songs import midi_file, serve_song

START = '<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>'
STAMP = "2024-04-01 09:00:00"
UUID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")


def start_chain(service, control_server, daemon, last_path):
    """The start command, with every step of the chain answered: the
    chain is at its end once its last request has been answered."""
    control_server.send(START)
    requests_to(service, last_path)
    settled(service, daemon, control_server)


@pytest.fixture
def member(root, service, control_server, linked_daemon):
    """A paying member after the whole start-up chain, preset playlist 12
    opened: it holds songs 21 and 22, both served."""
    store_tokens(root)
    control_server.write_gap = 0.01
    service.route("GET", "/cms/playlists", body=presets_answer(
        [preset_entry(12, "Classics"), preset_entry(3, "Waltzes")]))
    service.route("GET", "/user/playlists", body=playlists_answer([playlist_entry(9, "Mine", 1)]))
    service.route("GET", "/items/genres", body=genres_answer([]))
    service.route("GET", "/items/recommend/playlists", body=recommend_answer([]))
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    start_chain(service, control_server, linked_daemon, "/items/recommend/playlists")
    assert [r.path for r in service.requests] == [
        "/user/account/features", "/cms/playlists", "/user/playlists", "/items/genres",
        "/items/recommend/playlists"]
    assert masked(published(root, "dialog")) == WAIT_HIDDEN

    # The play manager finds a playlist song by its display order, which is
    # its position in the playlist.
    service.route("GET", "/cms/playlists/12", body=items_answer(
        [song_item(21, display_order="0"), song_item(22, display_order="1")]))
    control_server.send('<set_ondemand cmd="presetPlaylist" playlistID="12"/>')
    wait_for_file(root, "presetPlaylist", playlist_file([
        user_playlist(12, "Classics", STAMP, 1, [listed_song(21, order=0), listed_song(22, order=1)]),
        user_playlist(3, "Waltzes", STAMP, 2)]))
    for song_id in (21, 22):
        serve_song(service, song_id, {"midi": midi_file(song_id % 7 + 1)})
        for event in ("play", "stop"):
            service.route("POST", f"/user/history/event/{event}/{song_id}/", body="<response/>")
    return linked_daemon


def preset_play_event(service, song_id):
    """The song's one play event, from preset playlist 12: its session id."""
    (report,) = requests_to(service, f"/user/history/event/play/{song_id}/")
    session = report.form["session_id"][0]
    assert report.form_pairs == [("pinfo", "pp"), ("playlist_id", "12"), ("session_id", session),
                                 ("playtime", "0")]
    assert UUID.fullmatch(session), session
    return session


def plays(control_server, root, song_id, mark):
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, song_id)}/midi"
    assert start_loaded_song(control_server) == PLAY


def manager_song(id_, order, **fields):
    return managed_song(id_, order, f"Song {id_}", "Artist", "Composer", "Performer", "180",
                        "Jazz", "standard", **fields)


def test_a_preset_playlist_play_is_reported_with_its_playlist(root, service, control_server,
                                                              member):
    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="preset" '
                        'playSongIndex="0" playlistID="12"/>')
    plays(control_server, root, 21, mark)
    session = preset_play_event(service, 21)
    wait_saved(root, session_record(21, session, 0))
    wait_for_file(root, "playmanager", playmanager_file(
        "preset", "off", "preset", 0, 12, manager_song(21, 0, image_downloaded=False),
        manager_song(22, 1)))

    # The file keeps the furthest second; a seek back does not lower it.
    for time, sec in (("1500", 1), ("3200", 3), ("900", 3)):
        control_server.send(f'<seq status="play" time="{time}"/>')
        control_server.sync()
        assert saved(root) == session_record(21, session, sec), time

    # The song ends: its stop event carries that second, and the next song
    # of the playlist opens a new session, still from the playlist.
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    (stop,) = requests_to(service, "/user/history/event/stop/21/")
    assert stop.form_pairs == [("session_id", session), ("playtime", "3")]
    plays(control_server, root, 22, mark)
    second = preset_play_event(service, 22)
    assert second != session
    wait_saved(root, session_record(22, second, 0))
    wait_for_file(root, "playmanager", lambda text: '"playSongIndex":"1","playlistID":"12"' in text
                  and '"where":"preset"' in text)

    control_server.send('<set_ondemand status="off"/>')
    (stop,) = requests_to(service, "/user/history/event/stop/22/")
    assert stop.form_pairs == [("session_id", second), ("playtime", "0")]
    settled(service, member, control_server)
    assert len([r for r in service.requests if "/history/" in r.path]) == 4
    assert saved(root) is None


def test_a_gratis_member_playing_the_gratis_playlist_reports_nothing(root, service,
                                                                     control_server,
                                                                     linked_daemon):
    store_tokens(root)
    control_server.write_gap = 0.01
    service.route("GET", "/cms/playlist/gratis", body=gratis_answer(
        [preset_entry(30, "Free picks")],
        [song_item(41, display_order="0"), song_item(42, display_order="1")]))
    start_chain(service, control_server, linked_daemon, "/cms/playlist/gratis")
    for song_id in (41, 42):
        serve_song(service, song_id, {"midi": midi_file(song_id % 7 + 1)})
        for event in ("play", "stop"):
            service.route("POST", f"/user/history/event/{event}/{song_id}/", body="<response/>")

    mark = control_server.mark()
    control_server.send('<set_ondemand cmd="ondemandPlaySong" category="gratis" '
                        'playSongIndex="0" playlistID="30"/>')
    plays(control_server, root, 41, mark)
    wait_for_file(root, "playmanager", lambda text: '"where":"gratis"' in text
                  and '"playlistID":"30"' in text and '"playSong":{"id":"41"' in text)
    control_server.send('<seq status="play" time="2500"/>')
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    plays(control_server, root, 42, mark)
    settled(service, linked_daemon, control_server)
    assert saved(root) is None
    control_server.send('<set_ondemand status="off"/>')
    settled(service, linked_daemon, control_server)
    assert [r.path for r in service.requests if "/history/" in r.path] == []
