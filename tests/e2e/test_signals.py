"""SIGTERM and SIGINT end the daemon in order: the curl children it started
end with it, the published files stay whole, and it exits with status 0."""

import json
import os
import signal

import pytest

from fakes import scaled, wait_until
from fakes.play import children, queue_batch, requests_to, search
from fakes.published import CTRL_DIR
from fakes.songs import file_path as served_path, midi_file, serve_song


def processes_naming(text):
    """Pids of the processes whose command line holds `text`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if text.encode() in f.read():
                    found.append(int(entry))
        except OSError:
            pass  # ended meanwhile
    return found


def assert_published_files_whole(root):
    names = root.listdir(CTRL_DIR)
    assert names and not [n for n in names if not n.endswith(".json")], names
    for name in names:
        json.loads(root.read(f"{CTRL_DIR}/{name}"))


@pytest.mark.parametrize("signo", [signal.SIGTERM, signal.SIGINT])
def test_a_signal_during_a_download_ends_curl_and_the_daemon(root, service, control_server,
                                                             player, signo):
    # The song's file stalls: its curl is still running when the signal comes.
    serve_song(service, 5, {"midi": midi_file(2)}, delay={"midi": scaled(60)})
    search(service, control_server, root, [5])
    queue_batch(control_server, [5])
    requests_to(service, served_path(5, "midi"))
    assert children(player)
    assert processes_naming(root.path + "/usr/local/ondemand/")

    assert player.terminate(signo) == 0
    assert wait_until(lambda: not processes_naming(root.path + "/usr/local/ondemand/"))
    assert not processes_naming(root.path)
    assert_published_files_whole(root)
    assert f"signal {int(signo)}, ending" in player.stderr_text()


def test_an_idle_daemon_without_control_server_ends_on_sigterm(start_daemon):
    daemon = start_daemon("-d")
    daemon.wait_for_stderr("** ondemand ")
    assert daemon.terminate() == 0
