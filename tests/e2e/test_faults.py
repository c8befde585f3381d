"""Faults of the peers, with nothing lost: the control server going away, the
service refusing, stalling or answering what cannot be read, curl killed
mid-download, a full file system under the published files, and a long run
of requests that leaves no process, descriptor or memory behind."""

import fcntl
import json
import os
import signal
import socket
import struct
import subprocess
import termios
import time

import pytest

from conftest import REGISTRATION, store_tokens, switch_on
from fakes import scaled, wait_until
from fakes.daemon import wrapper
from fakes.answers import error_answer, items_answer, song_item
from fakes.play import children, queue_batch, search, song_dir
from fakes.published import FILE_NAMES, masked, published, wait_for_dialog
from fakes.songs import file_path, midi_file, serve_song

RUN_LIMIT_MS = 1500
NO_SONG = '<set_rcs mode="ondemandNoSong"/>\n'
NAMES = [name[len("ondemand_"):-len(".json")] for name in FILE_NAMES]


@pytest.fixture
def short_run_limit(monkeypatch):
    """Children past this limit are ended; set before the daemon starts."""
    limit_ms = int(scaled(RUN_LIMIT_MS))
    monkeypatch.setenv("ONDEMAND_CURL_LIMIT_MS", str(limit_ms))
    return limit_ms


@pytest.fixture
def switched_on(root, service, control_server, short_run_limit, linked_daemon):
    store_tokens(root)
    switch_on(control_server)
    return linked_daemon


def snapshot(root):
    """The published files as they stand, write times masked."""
    return {name: masked(published(root, name)) for name in NAMES}


def assert_published_whole(root):
    """Every published file is there and valid JSON, and no work file is left."""
    assert sorted(os.listdir(root.ctrl_dir)) == FILE_NAMES
    for name in NAMES:
        json.loads(published(root, name))


def assert_idle(daemon):
    """No busy loop: over a measuring window the daemon uses (almost) no
    processor time."""
    ticks = daemon.cpu_ticks()
    time.sleep(1)
    assert daemon.cpu_ticks() - ticks <= 2


def quiet(daemon, control_server):
    """Every child has ended and been reaped, and the daemon has handled its
    end and everything sent before."""
    assert wait_until(lambda: not children(daemon), timeout=10), children(daemon)
    control_server.sync()


def song_ids(root):
    return [song["id"] for song in json.loads(published(root, "song"))["songs"]]


def answered_search(service, control_server, root, song_id):
    """A search answered with one song, once its list is published."""
    service.route("GET", "/items", body=items_answer([song_item(song_id)]))
    control_server.send(f'<set_ondemand cmd="search" title="s{song_id}"/>')
    assert wait_until(lambda: song_ids(root) == [str(song_id)])


# -- the control server --------------------------------------------------------------

def test_the_control_server_closing_mid_message_loses_nothing(root, service, control_server,
                                                              switched_on):
    answered_search(service, control_server, root, 1)
    quiet(switched_on, control_server)
    before = snapshot(root)
    requests = len(service.requests)
    control_server.send(b'<set_ondemand cmd="search" tit')
    control_server.close()
    switched_on.wait_for_stderr("xml_parse: error")
    assert control_server.wait_peer_closed()
    assert switched_on.alive() and not children(switched_on)
    assert len(service.requests) == requests
    assert_published_whole(root)
    assert snapshot(root) == before
    assert_idle(switched_on)


def unread_bytes(conn):
    """What this end wrote that the daemon has not read yet."""
    out = fcntl.ioctl(conn.fileno(), termios.TIOCOUTQ, struct.pack("i", 0))
    return struct.unpack("i", out)[0]


def test_the_control_server_closing_while_the_daemon_writes(root, start_daemon):
    # A control server that stops reading: the daemon's answers fill the
    # socket and then its own output store, and the server goes away with
    # all of that unread.
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(root.socket_path)
    listener.listen(1)
    daemon = start_daemon("-d")
    listener.settimeout(scaled(5))
    conn, _ = listener.accept()
    answers = 800
    for _ in range(answers):
        conn.sendall(b'<set_ondemand cmd="pause"/>')
        assert wait_until(lambda: unread_bytes(conn) == 0), "the daemon stopped reading"
    queued = struct.unpack("i", fcntl.ioctl(conn.fileno(), termios.FIONREAD,
                                            struct.pack("i", 0)))[0]
    # The socket took only part of the answers; the daemon holds the rest.
    assert 0 < queued < answers * len('<set_seq status="pause" />\n')
    conn.close()
    listener.close()
    assert wait_until(lambda: root.exists("/usr/local/www/ctrl/ondemand_status.json"))
    assert daemon.alive() and not children(daemon)
    assert_published_whole(root)
    assert_idle(daemon)


# -- the service -----------------------------------------------------------------------

def closed_port():
    """A local port nothing listens on."""
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


ANSWER = items_answer([song_item(2)])
BAD_ANSWERS = {
    "refused": None,
    "server-error": dict(status=500, body=error_answer("Broken")),
    "server-error-old-server": dict(status=500, body="<html>Internal error</html>",
                                    version="HTTP/1.0"),
    "garbage": dict(body=b"\x00\xffnot xml at all\x89PNG"),
    "truncated": dict(body=ANSWER, cut=len(ANSWER) // 2),
    "stalled-after-headers": dict(body=ANSWER, stall=3600),
}


@pytest.mark.parametrize("answer", BAD_ANSWERS.values(), ids=BAD_ANSWERS.keys())
def test_a_search_the_service_fails_keeps_the_song_list(root, service, control_server,
                                                       switched_on, answer):
    answered_search(service, control_server, root, 1)
    before = snapshot(root)["song"]
    if answer is None:
        root.write("/usr/local/olc/ondemand_base_url", f"https://127.0.0.1:{closed_port()}")
    else:
        service.route("GET", "/items", **answer)
    control_server.send('<set_ondemand cmd="search" title="y"/>')
    sent = time.monotonic()
    wait_for_dialog(root, type="error", timeout=10)
    if answer and answer.get("stall"):
        print(f"stalled search ended after {time.monotonic() - sent:.2f} s")
        switched_on.wait_for_stderr("ran past")
    assert snapshot(root)["song"] == before
    quiet(switched_on, control_server)
    assert_published_whole(root)

    # The next search that is answered goes through as ever.
    service.write_base_url(root)
    answered_search(service, control_server, root, 3)


def test_a_refusal_from_the_service_switches_off_with_every_file_whole(root, service,
                                                                       control_server,
                                                                       switched_on):
    search(service, control_server, root, [1])
    service.route("GET", "/items", status=403, body=error_answer("Not here"))
    control_server.send('<set_ondemand cmd="search" title="y"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    wait_for_dialog(root, type="error")
    assert_published_whole(root)
    assert switched_on.alive()


def test_curl_killed_mid_download_leaves_no_part_of_the_song(root, service, control_server,
                                                             switched_on):
    serve_song(service, 41, {"midi": midi_file(40)})
    # Its file comes no further than the headers until curl is killed.
    service.route("GET", file_path(41, "midi"), body=midi_file(40), stall=3600,
                  headers=[("Content-Type", "application/octet-stream")])
    search(service, control_server, root, [41])
    mark = control_server.mark()
    queue_batch(control_server, [41])
    assert service.wait_until(
        lambda: any(r.path == file_path(41, "midi") for r in service.requests))

    def downloading():
        for pid in children(switched_on):
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if file_path(41, "midi").encode() in f.read():
                    return int(pid)
        return None

    pid = wait_until(downloading)
    assert pid, f"no curl for the file among {children(switched_on)}"
    os.kill(pid, signal.SIGKILL)
    control_server.wait_for(NO_SONG, after=mark)
    shown = wait_for_dialog(root, type="error")
    assert shown["message"] == "server([0]: download)"
    assert not os.path.exists(f"{song_dir(root, 41)}/midi")
    quiet(switched_on, control_server)
    assert_published_whole(root)
    assert switched_on.alive()


# -- a full file system ----------------------------------------------------------------

@pytest.fixture
def small_ctrl_dir(root):
    """The published files on a tmpfs of their own, small enough to fill.
    Mounting needs the right to; without it the test is skipped."""
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k,mode=0755", "od-ctrl",
                              root.ctrl_dir], capture_output=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.decode().strip()}")
    yield root.ctrl_dir
    subprocess.run(["umount", "-l", root.ctrl_dir], capture_output=True)


def fill(directory):
    """Writes a file until the file system refuses more with ENOSPC."""
    with open(os.path.join(directory, "filler"), "wb", buffering=0) as f:
        while True:
            try:
                f.write(b"\0" * 4096)
            except OSError as error:
                assert error.errno == 28, error
                break
    # Below a page, the small remains too.
    with open(os.path.join(directory, "filler"), "ab", buffering=0) as f:
        try:
            while True:
                f.write(b"\0")
        except OSError:
            pass


def test_a_full_file_system_keeps_every_published_file_whole(root, small_ctrl_dir, service,
                                                            control_server, short_run_limit,
                                                            start_daemon):
    store_tokens(root)
    daemon = start_daemon("-d")
    assert control_server.wait_for_count(2) == REGISTRATION
    switch_on(control_server)
    answered_search(service, control_server, root, 1)
    quiet(daemon, control_server)
    before = snapshot(root)

    fill(small_ctrl_dir)
    service.route("GET", "/items", body=items_answer([song_item(n) for n in range(2, 40)]))
    control_server.send('<set_ondemand cmd="search" title="y"/>')
    control_server.send('<set_ondemand status="off"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    quiet(daemon, control_server)
    os.remove(os.path.join(small_ctrl_dir, "filler"))
    assert_published_whole(root)
    assert snapshot(root) == before
    assert daemon.alive()

    # With room again, the next change is published.
    switch_on(control_server)
    assert wait_until(lambda: json.loads(published(root, "status"))["status"] == "on")
    assert_published_whole(root)


# -- a long run ------------------------------------------------------------------------

def open_descriptors(daemon):
    return len(os.listdir(f"/proc/{daemon.pid}/fd"))


def resident_kib(daemon):
    with open(f"/proc/{daemon.pid}/status") as f:
        return int(next(line for line in f if line.startswith("VmRSS:")).split()[1])


def run_searches(service, control_server, daemon, count, batch=10):
    """`count` searches, `batch` at a time, each batch answered before the
    next is sent."""
    for start in range(0, count, batch):
        for n in range(start, min(start + batch, count)):
            control_server.send(f'<set_ondemand cmd="search" title="t{n}"/>')
        assert service.wait_until(lambda: all(r.finished for r in service.requests), timeout=20)
        quiet(daemon, control_server)


def test_a_thousand_requests_leave_no_process_descriptor_or_memory(root, service, control_server,
                                                                   switched_on):
    service.route("GET", "/items", body=items_answer([song_item(n) for n in range(1, 21)]))
    control_server.write_gap = 0
    # Warmed up first: the first requests build what the daemon keeps
    # (song list, buffers, the allocator's own pools).
    run_searches(service, control_server, switched_on, 100)
    descriptors = open_descriptors(switched_on)
    resident = resident_kib(switched_on)
    run_searches(service, control_server, switched_on, 1000)
    assert len(service.requests) >= 1100
    print(f"1,000 requests: descriptors {descriptors} -> {open_descriptors(switched_on)},"
          f" resident {resident} KiB -> {resident_kib(switched_on)} KiB")
    assert not children(switched_on)  # no zombie: every child was reaped
    assert open_descriptors(switched_on) == descriptors
    # Under a wrapper (valgrind, qemu-arm) the resident size is the wrapper's,
    # and a sanitizer's allocator holds freed memory in quarantine: only a
    # daemon that runs as itself says what it keeps.
    if not wrapper() and "ASAN_OPTIONS" not in os.environ:
        assert resident_kib(switched_on) <= resident + 256
