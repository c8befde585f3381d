"""The state files of the web interface as the running daemon publishes them:
all eight from start-up on, byte-exact, with their write times, and never
left half-written."""

import os
import re
import time

from fakes import wait_until
from fakes.answers import masked, published

FILES = ["status", "dialog", "song", "queuelist", "playlist", "presetPlaylist",
         "recommendPlaylist", "playmanager"]

EMPTY_SONG = ('{"id":"0","display_order":"0","title":"","artist":"","composer":"",'
              '"performer":"","length":"","genre":""')
AT_START = {
    "status": ('{"updatetime":T,"status":"off","gratis":true,"isStaging":false,'
               '"isOriginalArtist":false,"genres":[],"download":0}'),
    "dialog": ('{"updatetime":T,"dialog":{"title":"","message":"","type":"","isShow":false,'
               '"isProg":false,"perProg":"","confirmed":true}}'),
    "song": '{"updatetime":"T","songs":[]}',
    "queuelist": '{"updatetime":"T","songs":[]}',
    "playlist": '{"updatetime":"T","playlists":[]}',
    "presetPlaylist": '{"updatetime":"T","playlists":[]}',
    "recommendPlaylist": '{"updatetime":"T","playlists":[]}',
    "playmanager": ('{"updatetime":"T","playmanager":{"category":"","repeat":"off","where":"",'
                    '"playSongIndex":"0","playlistID":"0","playSong":' + EMPTY_SONG +
                    ',"isImageDL":false,"rollform_type":""},"nextSong":' + EMPTY_SONG +
                    ',"rollform_type":""}}}'),
}


def file_names():
    return sorted(f"ondemand_{name}.json" for name in FILES)


def write_time(text):
    """The write time and whether it was quoted."""
    match = re.match(r'\{"updatetime":("?)(\d+)\1,', text)
    assert match, text
    return int(match.group(2)), match.group(1) == '"'


def test_all_eight_files_are_published_exactly_from_start_up(root, control_server,
                                                             linked_daemon):
    assert wait_until(lambda: sorted(os.listdir(root.ctrl_dir)) == file_names())
    for name in FILES:
        assert masked(published(root, name)) == AT_START[name], name


def test_write_times_are_microseconds_bare_in_status_and_dialog_and_quoted_elsewhere(
        root, control_server, linked_daemon):
    assert wait_until(lambda: sorted(os.listdir(root.ctrl_dir)) == file_names())
    now = time.time() * 1_000_000
    times = {}
    for name in FILES:
        times[name], quoted = write_time(published(root, name))
        assert quoted == (name not in ("status", "dialog")), name
        # Microseconds since 1970: within a minute of the test's own clock.
        assert abs(times[name] - now) < 60_000_000, name

    # A search while the service is off rewrites the status file only; the
    # song list and the dialog are rewritten by their own commands.
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    control_server.send('<set_ondemand cmd="clearSonglist"/>')
    control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
    control_server.sync()
    for name in ("status", "song", "dialog"):
        later, _ = write_time(published(root, name))
        assert later > times[name], name
        assert masked(published(root, name)) == AT_START[name], name
    for name in ("queuelist", "playlist", "presetPlaylist", "recommendPlaylist"):
        assert write_time(published(root, name))[0] == times[name], name
    assert sorted(os.listdir(root.ctrl_dir)) == file_names()


def test_a_blocked_file_keeps_its_old_text_and_the_others_go_on(root, control_server,
                                                                start_daemon):
    # The song file's work name is taken by a folder, so it cannot be opened.
    os.mkdir(os.path.join(root.ctrl_dir, "ondemand_song.json.wk"))
    root.write("/usr/local/www/ctrl/ondemand_song.json", "old")
    # The queue file's place is taken by a folder, so the rename fails.
    os.makedirs(os.path.join(root.ctrl_dir, "ondemand_queuelist.json", "keep"))
    daemon = start_daemon()
    control_server.wait_for_count(2)
    control_server.send('<set_ondemand cmd="clearSonglist"/>')
    control_server.sync()
    assert daemon.alive()
    daemon.wait_for_stderr(f"json: cannot write {root.ctrl_dir}/ondemand_song.json\n")
    daemon.wait_for_stderr(f"json: cannot write {root.ctrl_dir}/ondemand_queuelist.json\n")
    assert root.read("/usr/local/www/ctrl/ondemand_song.json") == "old"
    assert sorted(os.listdir(root.ctrl_dir)) == sorted(file_names() + ["ondemand_song.json.wk"])
    assert os.listdir(os.path.join(root.ctrl_dir, "ondemand_song.json.wk")) == []
    assert masked(published(root, "status")) == AT_START["status"]
