"""The state files of the web interface as the running daemon publishes them:
all eight from start-up on, byte-exact, with their write times, never left
half-written, and a daemon that goes on when they cannot be written."""

import json
import os
import shutil
import time

from conftest import store_tokens, switch_on
from fakes import wait_until
from fakes.answers import items_answer, song_item
from fakes.published import AT_START, FILE_NAMES, NAMES, masked, published, write_time


def all_published(root):
    return wait_until(lambda: sorted(os.listdir(root.ctrl_dir)) == FILE_NAMES)


def test_all_eight_files_are_published_exactly_from_start_up(root, control_server,
                                                             linked_daemon):
    assert all_published(root)
    for name in NAMES:
        assert masked(published(root, name)) == AT_START[name], name


def test_write_times_are_microseconds_bare_in_status_and_dialog_and_quoted_elsewhere(
        root, control_server, linked_daemon):
    assert all_published(root)
    now = time.time() * 1_000_000
    times = {}
    for name in NAMES:
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
    assert sorted(os.listdir(root.ctrl_dir)) == FILE_NAMES


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
    assert sorted(os.listdir(root.ctrl_dir)) == sorted(FILE_NAMES + ["ondemand_song.json.wk"])
    assert os.listdir(os.path.join(root.ctrl_dir, "ondemand_song.json.wk")) == []
    assert masked(published(root, "status")) == AT_START["status"]


def test_an_unwritable_publishing_folder_leaves_the_daemon_running(root, service, control_server,
                                                                   start_daemon):
    shutil.rmtree(root.ctrl_dir)
    root.write("/usr/local/www/ctrl", "not a folder")
    store_tokens(root)
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    daemon = start_daemon()
    control_server.wait_for_count(2)
    switch_on(control_server)
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    service.wait_for_requests(1)
    control_server.send('<rcs status="to_standby"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    assert daemon.alive()
    daemon.wait_for_stderr(f"json: cannot write {root.ctrl_dir}/ondemand_song.json\n")
    assert root.read("/usr/local/www/ctrl") == "not a folder"
    assert json.dumps(root.listdir("/usr/local/www")) == '["ctrl"]'
