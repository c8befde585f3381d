"""Song files as the music service hands them out, made in memory: a bare
MIDI file, an audio track, an image and zip archives of them; and the routes
that serve a song's download addresses and its files.

The address answer lists one element per file kind, each holding the full
address of the file on the same fake service:

    <response><downloadurls><midi>https://127.0.0.1:PORT/files/7/midi</midi>...
"""

import io
import stat
import struct
import zipfile


def midi_file(notes=4):
    """A format-0 MIDI file with one track of `notes` notes; a different
    count gives different bytes."""
    events = b""
    for n in range(notes):
        key = 60 + n % 12
        events += bytes([0x00, 0x90, key, 0x40, 0x60, 0x80, key, 0x00])
    events += b"\x00\xff\x2f\x00"  # end of track
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96)
    return header + b"MTrk" + struct.pack(">I", len(events)) + events


def mp3_file(frames=3):
    """An ID3 tag and a few silent MPEG-1 layer III frames (128 kbit/s, 44.1 kHz)."""
    tag = b"ID3\x03\x00\x00\x00\x00\x00\x00"
    frame = b"\xff\xfb\x90\x00" + bytes(413)
    return tag + frame * frames


def image_file():
    """A 1x1 PNG."""
    return bytes.fromhex(
        "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
        "1f15c4890000000d49444154789c6360f8cf00000301010018dd8db4"
        "0000000049454e44ae426082")


def symlink(name, target):
    """An archive entry that unpacks as a symbolic link to `target`."""
    return (name, target, "link")


def archive(entries):
    """A zip holding `entries`: (name, bytes) pairs, names ending in "/" for
    directories, and symlink() entries."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as z:
        for entry in entries:
            if len(entry) == 3:
                name, target, _ = entry
                info = zipfile.ZipInfo(name)
                info.create_system = 3  # Unix, so the mode below is read
                info.external_attr = (stat.S_IFLNK | 0o777) << 16
                z.writestr(info, target)
            else:
                name, content = entry
                z.writestr(name, content)
    return data.getvalue()


def song_archive():
    """The usual archive: a MIDI file and its audio track, names in mixed case."""
    return archive([("Song.MID", midi_file(6)), ("Track.Mp3", mp3_file(2))])


def downloadurls_answer(urls):
    """The address answer: `urls` maps element names ("midi", "zip", "mp3",
    "image") to addresses."""
    return ("<response><downloadurls>"
            + "".join(f"<{kind}>{url}</{kind}>" for kind, url in urls.items())
            + "</downloadurls></response>")


def file_path(song_id, kind):
    return f"/files/{song_id}/{kind}"


def address_paths(song_id):
    """The two address requests of a song: the member's and the gratis one."""
    return [f"/items/{song_id}/downloadurls", f"/items/{song_id}/downloadurls/gratis"]


def serve_song(service, song_id, files, delay=0.0, cut=None, status=200, address_delay=0.0,
               listed=None):
    """Routes the song's address answer (after `address_delay`) and its
    files. `files` maps element names ("midi", "zip", "mp3", "image") to
    bytes; `listed` adds kinds whose address text is listed as it stands;
    `delay`, `cut` and `status` apply to each file, or to some when given as
    a dict by kind. Returns {kind: path} of the files."""
    def of(value, kind):
        return value.get(kind) if isinstance(value, dict) else value

    paths = {kind: file_path(song_id, kind) for kind in files}
    answer = downloadurls_answer({**{kind: service.base_url + path for kind, path in paths.items()},
                                  **(listed or {})})
    for path in address_paths(song_id):
        service.route("GET", path, body=answer, delay=address_delay)
    for kind, content in files.items():
        service.route("GET", paths[kind], status=of(status, kind) or 200, body=content,
                      delay=of(delay, kind) or 0.0, cut=of(cut, kind),
                      headers=[("Content-Type", "application/octet-stream")])
    return paths
