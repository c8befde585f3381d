"""An archive whose unpacking does not end: unzip is given 30 seconds, then
killed, the song's directory removed, and the song counts as one that could
not be fetched. Kept apart from test_play.py because it takes those 30
seconds."""

import os
import time

from fakes import wait_until
from fakes.songs import archive, midi_file, serve_song
from fakes.play import LOAD, queue_batch, search, song_dir, wait_load

UNZIP_LIMIT = 30  # seconds


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def test_an_unzip_that_does_not_end_is_killed_and_the_song_skipped(root, service,
                                                                  control_server, player):
    # A stand-in that never ends on its own (within the test's time).
    os.remove(root.at("/usr/local/bin/unzip"))
    pid_file = root.at("/unzip.pid")
    root.write("/usr/local/bin/unzip", f"#!/bin/sh\necho $$ > '{pid_file}'\nexec sleep 300\n",
               mode=0o755)
    serve_song(service, 91, {"zip": archive([("Song.mid", midi_file(1))])})
    serve_song(service, 92, {"midi": midi_file(2)})
    search(service, control_server, root, [91, 92])

    mark = control_server.mark()
    started = time.monotonic()
    queue_batch(control_server, [91, 92])
    assert wait_until(lambda: os.path.exists(pid_file) and open(pid_file).read().strip())
    pid = int(open(pid_file).read())

    message, attributes = wait_load(control_server, mark, timeout=UNZIP_LIMIT + 15)
    assert time.monotonic() - started >= UNZIP_LIMIT - 1
    assert attributes["midi_path"] == f"{song_dir(root, 92)}/midi"
    assert [m for m in control_server.messages[mark:] if m.startswith(LOAD)] == [message]
    assert not alive(pid)
    assert not os.path.exists(song_dir(root, 91))
    # The daemon answers again at once.
    control_server.send('<set_ondemand cmd="setTime" time="1"/>')
    control_server.wait_for('<set_seq time="1000" />', after=mark)
