"""What the daemon finds and leaves on the device when it starts."""

import os

from conftest import REGISTRATION
from fakes.published import AT_START, FILE_NAMES, masked, published, published_json


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
    assert root.listdir("/usr/local/www/ctrl") == FILE_NAMES
    for name in ("status", "song"):
        assert masked(published(root, name)) == AT_START[name], name
    for name in AT_START:
        published_json(root, name)  # each one valid JSON
