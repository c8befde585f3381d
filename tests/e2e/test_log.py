"""The operator's log: one line with its journald priority on standard error
for each event, with and without the debug log, and never a secret of the
account in it."""

import os
import re
import subprocess

import pytest

from conftest import REGISTRATION, switch_on
from fakes import scaled
from fakes.daemon import command, daemon_env
from fakes.answers import error_answer, items_answer, song_item
from fakes.play import queue_batch, search
from fakes.songs import midi_file, serve_song

# -q is skipped like any unknown argument: the daemon without the debug log.
MODES = {"plain": ("-q",), "debug": ("-d",)}
LOG_LINE = re.compile(r"^<[346]>.*$", re.M)
RUN_LIMIT_MS = 1500

# Distinctive values for every secret the daemon handles, and a search word
# that travels in a URL's query.
SECRETS = {
    "/usr/local/olc/api_token.txt": "TOKEN-e5b1c9",
    "/usr/local/olc/api_refresh_token.txt": "REFRESH-77a0f2",
    "/tmp/olc/password": "PASSWORD-3d94aa",
    "/usr/local/olc/cookie.txt": "COOKIE-0c6e18",
}
QUERY_WORD = "QUERY-91bb4e"


def log_lines(daemon):
    return LOG_LINE.findall(daemon.stderr_text())


def wait_log(daemon, pattern):
    return daemon.wait_for_stderr(re.compile("^" + pattern + "$", re.M))


def assert_no_secret(daemon, mode):
    """The log lines hold no secret; without -d nothing on standard error does."""
    text = daemon.stderr_text() if mode == "plain" else "\n".join(log_lines(daemon))
    for secret in [*SECRETS.values(), QUERY_WORD]:
        assert secret not in text
    if mode == "plain":
        assert text.splitlines() == log_lines(daemon)


@pytest.fixture(params=MODES)
def mode(request):
    return request.param


@pytest.fixture
def daemon(mode, root, control_server, start_daemon, monkeypatch):
    monkeypatch.setenv("ONDEMAND_CURL_LIMIT_MS", str(int(scaled(RUN_LIMIT_MS))))
    for path, value in SECRETS.items():
        root.write(path, value)
    started = start_daemon(*MODES[mode])
    assert control_server.wait_for_count(2) == REGISTRATION
    return started


def test_start_registration_and_shutdown(mode, root, daemon):
    wait_log(daemon, "<6>registered with the control server at .*")
    assert daemon.terminate() == 0
    lines = [f"<6>ondemand v1.0.2 started, root {root.path}",
             f"<6>registered with the control server at {root.socket_path}",
             "<6>ondemand stopped on signal 15"]
    assert log_lines(daemon) == lines
    if mode == "debug":
        assert daemon.stderr_text().startswith("** ondemand v1.0.2\n")
    assert_no_secret(daemon, mode)


def test_no_control_server(mode, root, start_daemon):
    daemon = start_daemon(*MODES[mode])
    wait_log(daemon, re.escape(f"<4>no control server at {root.socket_path}: running without it"))


def test_the_link_lost(mode, control_server, daemon):
    control_server.close()
    wait_log(daemon, re.escape("<4>the control server closed the link: running on without it"))


def search_answered(status, body):
    def provoke(service, control_server, root):
        service.route("GET", "/items", status=status, body=body)
        control_server.send(f'<set_ondemand cmd="search" title="{QUERY_WORD}"/>')
    return provoke


def stalled_search(service, control_server, root):
    service.route("GET", "/items", body="<response/>", stall=3600)
    control_server.send(f'<set_ondemand cmd="search" title="{QUERY_WORD}"/>')


def too_long_search(service, control_server, root):
    service.route("GET", "/items", body=b"<" * (16 * 1024 * 1024 + 1))
    control_server.send(f'<set_ondemand cmd="search" title="{QUERY_WORD}"/>')


def failed_relogin(service, control_server, root):
    service.route("POST", "/auth/login", status=500, body=error_answer("Down"))
    control_server.send(f'<set_ondemand cmd="relogin" username="me" password="{QUERY_WORD}"/>')


def song_failing(files, status):
    def provoke(service, control_server, root):
        serve_song(service, 7, files, status=status)
        search(service, control_server, root, [7])
        queue_batch(control_server, [7])
    return provoke


def address_failing(service, control_server, root):
    for path in ("/items/7/downloadurls", "/items/7/downloadurls/gratis"):
        service.route("GET", path, status=500, body=error_answer("Down"))
    search(service, control_server, root, [7])
    queue_batch(control_server, [7])


def unwritable_file(service, control_server, root):
    os.mkdir(os.path.join(root.ctrl_dir, "ondemand_song.json.wk"))
    search_answered(200, items_answer([song_item(7)]))(service, control_server, root)


def curl_missing(service, control_server, root):
    os.remove(root.at("/usr/bin/curl"))
    control_server.send(f'<set_ondemand cmd="search" title="{QUERY_WORD}"/>')


def standby(service, control_server, root):
    control_server.send('<rcs status="to_standby"/>')


def switched_off(service, control_server, root):
    control_server.send('<set_ondemand status="off"/>')


URL = r"https://127\.0\.0\.1:\d+"


@pytest.mark.parametrize("provoke, lines", [
    (switched_off, [r"<6>service switched on \(set_ondemand status\)",
                    r"<6>service switched off \(set_ondemand status\)"]),
    (standby, [r"<6>service switched off \(standby\)"]),
    (search_answered(500, error_answer("Down")), [r"<4>request failed: search, status 500"]),
    (search_answered(403, error_answer("Not here")),
     [r"<4>request failed: search, status 403",
      r"<6>service switched off \(the service refused a request with 403\)"]),
    (search_answered(200, "not xml"), [r"<4>answer unreadable: search, status 200"]),
    (stalled_search, [URL.join([r"<4>curl: ", r"/items ran past its limit of \d+ ms and was ended"]),
                      r"<4>request failed: search, no answer"]),
    (too_long_search, [URL.join([r"<4>curl: the answer of ", r"/items is longer than 16777216 "
                                 r"bytes, dropped"]),
                       r"<4>request failed: search, no answer"]),
    (failed_relogin, [r"<4>request failed: re-login, status 500"]),
    (curl_missing, [r"<3>curl: cannot start /.*/usr/bin/curl"]),
    (address_failing, [r"<4>song 7 failed: no download address, status 500"]),
    (song_failing({"midi": midi_file()}, 404),
     [r"<4>song 7 failed: download of its midi file, status 404"]),
    (song_failing({"zip": b"not an archive"}, 200),
     [r"<4>song 7 failed: its zip file cannot be used"]),
    (unwritable_file, [r"<3>cannot write /.*/usr/local/www/ctrl/ondemand_song\.json"]),
], ids=["off", "standby", "500", "403", "unreadable", "run limit", "too long", "re-login",
        "no curl", "no address", "download", "archive", "unwritable"])
def test_each_event_gives_its_line(mode, root, service, control_server, daemon, provoke, lines):
    switch_on(control_server)
    provoke(service, control_server, root)
    found = [wait_log(daemon, line) for line in lines]
    logged = log_lines(daemon)
    # In this order, each once.
    assert [logged.index(line) for line in found] == sorted(logged.index(line) for line in found)
    assert all(logged.count(line) == 1 for line in found)
    assert_no_secret(daemon, mode)


def test_a_full_log_pipe_does_not_hold_the_daemon(root, control_server):
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    try:
        while True:
            os.write(write_end, b"x" * 4096)
    except BlockingIOError:
        pass  # full: every line the daemon writes now would wait for a reader
    os.set_blocking(write_end, True)
    try:
        proc = subprocess.Popen(command("-q"), env=daemon_env(root), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=write_end)
    finally:
        os.close(write_end)
    try:
        assert control_server.wait_for_count(2) == REGISTRATION
        switch_on(control_server)
        control_server.send('<set_ondemand status="off"/>')
        control_server.wait_for('<set_rcs mode="normal"/>')
        proc.terminate()
        assert proc.wait(timeout=scaled(10)) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(read_end)
