"""What the daemon finds and leaves on the device when it starts."""

import json
import os
import re

from conftest import REGISTRATION

PUBLISHED = sorted(f"ondemand_{name}.json" for name in (
    "status", "dialog", "song", "queuelist", "playlist", "presetPlaylist",
    "recommendPlaylist", "playmanager"))


def test_downloads_of_an_earlier_run_are_removed(root, control_server, start_daemon):
    root.write("/usr/local/ondemand/101/song.mid", b"MThd")
    root.write("/usr/local/ondemand/102/img/cover.jpg", b"\xff\xd8")
    root.write("/usr/local/ondemand/102/.hidden", "")
    # A link inside the tree goes; what it points at stays.
    root.write("/keep/precious", "data")
    os.symlink(root.at("/keep"), root.at("/usr/local/ondemand/101/link"))
    daemon = start_daemon()
    assert control_server.wait_for_count(2) == REGISTRATION
    assert not root.exists("/usr/local/ondemand")
    assert root.read("/keep/precious") == "data"
    assert daemon.alive()


def test_a_stray_file_in_place_of_the_download_folder_does_not_stop_the_daemon(
        root, control_server, start_daemon):
    root.write("/usr/local/ondemand", "not a directory")
    daemon = start_daemon()
    assert control_server.wait_for_count(2) == REGISTRATION
    assert not root.exists("/usr/local/ondemand")
    assert daemon.alive()


def test_the_initial_state_is_published(root, control_server, start_daemon):
    start_daemon()
    control_server.wait_for_count(2)
    control_server.sync()
    ctrl = "/usr/local/www/ctrl"
    assert root.listdir(ctrl) == PUBLISHED
    assert re.fullmatch(
        r'\{"updatetime":\d+,"status":"off","gratis":true,"isStaging":false,'
        r'"isOriginalArtist":false,"genres":\[\],"download":0\}',
        root.read(f"{ctrl}/ondemand_status.json"))
    assert re.fullmatch(r'\{"updatetime":"\d+","songs":\[\]\}', root.read(f"{ctrl}/ondemand_song.json"))
    for name in PUBLISHED:
        json.loads(root.read(f"{ctrl}/{name}"))
