"""What one song may cost the device: files come only over the web and
within the song budget, archives are listed before anything is unpacked, and
unzip runs beside the loop, which keeps answering meanwhile. A song that
breaks a limit is dropped like one that could not be fetched: the next one
plays."""

import io
import os
import time
import zipfile

import pytest

from fakes import scaled, wait_until
from fakes.play import LOAD, queue_batch, search, settled, song_dir, wait_load
from fakes.songs import address_paths, archive, downloadurls_answer, midi_file, serve_song

# Small enough for a quick test, far above the good songs' files.
BUDGET = 1024 * 1024
SET_TIME = '<set_ondemand cmd="setTime" time="1"/>'
TIME_SET = '<set_seq time="1000" />\n'


@pytest.fixture(autouse=True)
def small_budget(monkeypatch):
    """Set before the daemon starts."""
    monkeypatch.setenv("ONDEMAND_SONG_BUDGET_BYTES", str(BUDGET))


def zip_bomb():
    """A MIDI file and 1 GiB of zeros as an audio track, about 1 MB packed."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("Song.mid", midi_file(3))
        with z.open("filler.mp3", "w", force_zip64=True) as f:
            chunk = bytes(1 << 20)
            for _ in range(1024):
                f.write(chunk)
    return data.getvalue()


def stand_in_unzip(root, extract):
    """unzip lists as the real one; `extract` is the shell text run in place
    of the extraction (its arguments: -o -C -W -d DIR ARCHIVE PATTERNS)."""
    os.remove(root.at("/usr/local/bin/unzip"))
    root.write("/usr/local/bin/unzip",
               '#!/bin/sh\ncase "$1" in -l) exec /usr/bin/unzip "$@";; esac\n' + extract + "\n",
               mode=0o755)


def serve_address(service, song_id, url):
    for path in address_paths(song_id):
        service.route("GET", path, body=downloadurls_answer({"midi": url}))


def zip_failing_after_the_midi(root, service):
    stand_in_unzip(root, '/usr/bin/unzip "$@" >/dev/null\nexit 2')
    serve_song(service, 81, {"zip": archive([("Song.mid", midi_file(1))])})


BAD_SONGS = {
    "zip-bomb": lambda root, service: serve_song(service, 81, {"zip": zip_bomb()}),
    "too-many-entries": lambda root, service: serve_song(service, 81, {"zip": archive(
        [("Song.mid", midi_file(1))] + [(f"f{n}.txt", b"") for n in range(1000)])}),
    "unzip-fails-after-writing-the-midi": zip_failing_after_the_midi,
    "file-address": lambda root, service: serve_address(service, 81, "file:///etc/hostname"),
    "over-budget-download": lambda root, service: serve_song(
        service, 81, {"midi": b"MThd" + bytes(BUDGET + 1)}),
}


@pytest.mark.parametrize("serve_bad", BAD_SONGS.values(), ids=BAD_SONGS.keys())
def test_a_song_past_a_limit_is_dropped_and_the_next_one_plays(root, service, control_server,
                                                               player, serve_bad):
    serve_bad(root, service)
    serve_song(service, 82, {"midi": midi_file(82)})
    search(service, control_server, root, [81, 82])
    mark = control_server.mark()
    queue_batch(control_server, [81, 82])
    # The daemon answers while the bad song is tried.
    control_server.send(SET_TIME)
    control_server.wait_for(TIME_SET, after=mark)
    assert wait_load(control_server, mark)[1]["midi_path"] == f"{song_dir(root, 82)}/midi"
    settled(service, player, control_server)
    assert [m for m in control_server.messages[mark:] if m.startswith(LOAD)] == [
        m for m in control_server.messages[mark:] if "/82/" in m]
    # Nothing of the bad song is kept: an unpack that failed took the whole
    # directory, a refused download its file.
    assert not os.path.exists(song_dir(root, 81)) or os.listdir(song_dir(root, 81)) == []


def test_the_daemon_answers_at_once_while_a_song_unpacks(root, service, control_server, player):
    unpacking = root.at("/unpacking")
    stand_in_unzip(root, f'touch "{unpacking}"\nsleep {scaled(3)}\nexec /usr/bin/unzip "$@"')
    serve_song(service, 83, {"zip": archive([("Song.mid", midi_file(3))])})
    search(service, control_server, root, [83])
    mark = control_server.mark()
    queue_batch(control_server, [83])
    assert wait_until(lambda: os.path.exists(unpacking))
    started = time.monotonic()
    control_server.send(SET_TIME)
    control_server.wait_for(TIME_SET, after=mark)
    assert time.monotonic() - started < scaled(1)
    assert not any(m.startswith(LOAD) for m in control_server.messages[mark:])
    message, attributes = wait_load(control_server, mark, timeout=scaled(15))
    assert attributes["midi_path"] == f"{song_dir(root, 83)}/Song.mid"


def test_a_load_message_longer_than_the_frame_is_never_sent_cut(root, service, control_server,
                                                                player):
    # 200 "&" escape to 1,000 characters: the load message cannot fit.
    serve_song(service, 84, {"zip": archive([("&" * 200 + ".mid", midi_file(4))])})
    search(service, control_server, root, [84])
    mark = control_server.mark()
    queue_batch(control_server, [84])
    player.wait_for_stderr("longer than the frame, not sent")
    control_server.sync()
    assert all(m.endswith("\n") and len(m) <= 1023 for m in control_server.messages[mark:])
    assert not any(m.startswith(LOAD) for m in control_server.messages[mark:])
