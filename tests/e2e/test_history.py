"""The play history: the play event when the sequencer starts a queue song,
the session file that follows the furthest second reached, the stop event
when the play ends, and a session left by a power cut reported at the next
start.

The queue is played as in test_play.py (fakes/play.py): the control server
plays the sequencer's part and reports "load", "stop" and "play"."""

import os

import pytest

from conftest import store_tokens
from fakes.songs import midi_file, serve_song
from fakes.play import (PLAY, SESSION_FILE, queue_batch, requests_to, saved, search,
                        session_record, settled, start_loaded_song, wait_load, wait_saved)


def inode(root):
    """Changes with each rewrite: the file is replaced by a rename."""
    return os.stat(root.at(SESSION_FILE)).st_ino


def history(service):
    return [r for r in service.requests if "/history/" in r.path]


def route_history(service, song_ids, body="<response/>"):
    for song_id in song_ids:
        for event in ("play", "stop"):
            service.route("POST", f"/user/history/event/{event}/{song_id}/", body=body)


def play_queue(root, service, control_server, ids):
    """Queues songs of these ids and starts the first one."""
    for song_id in ids:
        serve_song(service, song_id, {"midi": midi_file(song_id % 7 + 1)})
    search(service, control_server, root, ids)
    mark = control_server.mark()
    queue_batch(control_server, ids)
    wait_load(control_server, mark)
    assert start_loaded_song(control_server) == PLAY


def play_event(service, song_id):
    """The one play event of the song: its session id, after checking its fields."""
    (report,) = requests_to(service, f"/user/history/event/play/{song_id}/")
    names = [name for name, _ in report.form_pairs]
    assert names == ["pinfo", "session_id", "playtime"]
    assert (report.form["pinfo"], report.form["playtime"]) == (["others"], ["0"])
    return report.form["session_id"][0]


def stop_events(service, song_id, count=1):
    return [r.form_pairs for r in requests_to(service, f"/user/history/event/stop/{song_id}/",
                                              count)]


@pytest.fixture
def member(control_server, player):
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    return player


def test_a_play_is_reported_with_the_furthest_second_it_reached(root, service, control_server,
                                                                member):
    route_history(service, [51, 52])
    play_queue(root, service, control_server, [51, 52])
    session = play_event(service, 51)
    wait_saved(root, session_record(51, session, 0))

    # Position reports rewrite the file once per new whole second; one
    # within the same second, or behind the furthest, leaves it alone.
    for time, sec, rewritten in (("1500", 1, True), ("1999", 1, False), ("2000", 2, True),
                                 ("500", 2, False)):
        before = inode(root)
        control_server.send(f'<seq status="play" time="{time}"/>')
        control_server.sync()
        assert saved(root) == session_record(51, session, sec), time
        assert (inode(root) != before) == rewritten, time

    # The song ends: its stop event carries the furthest second; the next
    # song's play opens a new session and its record replaces the file.
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    assert stop_events(service, 51) == [[("session_id", session), ("playtime", "2")]]
    wait_load(control_server, mark)
    assert start_loaded_song(control_server) == PLAY
    second = play_event(service, 52)
    assert second != session
    wait_saved(root, session_record(52, second, 0))

    # Switching off ends that play and removes the file.
    control_server.send('<seq status="play" time="7250"/>')
    control_server.send('<set_ondemand status="off"/>')
    assert stop_events(service, 52) == [[("session_id", second), ("playtime", "7")]]
    assert saved(root) is None
    settled(service, member, control_server)
    assert len(history(service)) == 4


def test_a_play_ended_twice_before_the_next_one_is_reported_once(root, service, control_server,
                                                                 member):
    route_history(service, [61, 62])
    play_queue(root, service, control_server, [61, 62])
    session = play_event(service, 61)
    wait_saved(root, session_record(61, session, 0))

    # The next song is loaded, but the service goes off before it plays:
    # the first song's session has been reported already, and the second
    # song never had one.
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    wait_load(control_server, mark)
    control_server.send('<set_ondemand status="off"/>')
    settled(service, member, control_server)
    assert [r.path for r in history(service)] == ["/user/history/event/play/61/",
                                                  "/user/history/event/stop/61/"]
    assert saved(root) is None


def test_a_play_event_taken_without_a_body_is_recorded(root, service, control_server, member):
    route_history(service, [65], body="")
    play_queue(root, service, control_server, [65])
    wait_saved(root, session_record(65, play_event(service, 65), 0))


def test_a_gratis_member_plays_without_events_or_file(root, service, control_server, player):
    # A gratis account is what the daemon assumes until told otherwise.
    route_history(service, [71, 72])
    play_queue(root, service, control_server, [71, 72])
    control_server.send('<seq status="play" time="3000"/>')
    mark = control_server.mark()
    control_server.send('<seq status="nosong"/>')
    wait_load(control_server, mark)
    assert start_loaded_song(control_server) == PLAY
    control_server.send('<set_ondemand status="off"/>')
    settled(service, player, control_server)
    assert history(service) == []
    assert saved(root) is None


START = '<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>'


def start(service, control_server, daemon, requests_before):
    """A start command, with every request it makes answered."""
    control_server.send(START)
    service.wait_for_requests(requests_before + 1)
    settled(service, daemon, control_server)


def test_a_session_left_by_a_power_cut_is_reported_at_each_start(root, service, control_server,
                                                                  linked_daemon):
    store_tokens(root)
    route_history(service, [77])
    root.write(SESSION_FILE, session_record(77, "cut-session", 42))

    # Reported whatever the account is: here the gratis one assumed at start.
    start(service, control_server, linked_daemon, 0)
    assert stop_events(service, 77) == [[("session_id", "cut-session"), ("playtime", "42")]]
    # The file stays, so the next start reports it again.
    start(service, control_server, linked_daemon, len(service.requests))
    assert len(stop_events(service, 77, 2)) == 2
    assert saved(root) == session_record(77, "cut-session", 42)

    # Switching off removes it; the next start reports nothing.
    control_server.send('<set_ondemand status="off"/>')
    control_server.sync()
    assert saved(root) is None
    start(service, control_server, linked_daemon, len(service.requests))
    assert len(history(service)) == 2


@pytest.mark.parametrize("text, logged", [
    # A command in the file is not run: a start command would read the
    # file again, and again.
    ('<set_ondemand cmd="ondemandStart" pfix="d" id="1"/>', "is no session record"),
    ('<sssn song_id="77" session_id=', "xml_parse: error\n"),
], ids=["another-command", "malformed"])
def test_a_session_file_that_is_no_record_is_dropped(root, service, control_server,
                                                      linked_daemon, text, logged):
    store_tokens(root)
    root.write(SESSION_FILE, text)
    start(service, control_server, linked_daemon, 0)
    linked_daemon.wait_for_stderr(logged)
    assert linked_daemon.alive()
    assert sum(r.path == "/user/account/features" for r in service.requests) == 1
    assert history(service) == []


@pytest.mark.parametrize("kind", ["fifo", "link-to-fifo", "link-to-zero"])
def test_a_session_file_that_is_no_regular_file_is_removed_unread(root, service, control_server,
                                                                  linked_daemon, kind):
    store_tokens(root)
    path = root.at(SESSION_FILE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if kind == "link-to-zero":
        os.symlink("/dev/zero", path)
    else:
        fifo = root.at("/tmp/session-fifo") if kind == "link-to-fifo" else path
        os.mkfifo(fifo)
        if fifo != path:
            os.symlink(fifo, path)
    start(service, control_server, linked_daemon, 0)
    # The daemon never waits on it: it still answers, and the path is gone.
    control_server.sync()
    assert not os.path.lexists(path)
    assert history(service) == []
    assert linked_daemon.alive()
