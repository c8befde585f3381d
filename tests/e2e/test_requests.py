"""Requests to the music service as the daemon's curl sends them: identity,
tokens and base URL read again for every request, the cookie file, redirects,
and the status and time-out read from curl's verbose standard error."""

import hashlib
import os

import pytest

from fakes import scaled, wait_until
from fakes.answers import LOGIN_OK, error_answer, items_answer, song_item
from fakes.published import dialog, status, wait_for_dialog
from fakes.timing import DEFAULT_TIMEOUT


def device_id(hostname):
    return hashlib.md5(hostname.encode()).hexdigest().upper()


@pytest.fixture
def console(root, music_service, start_daemon):
    music_service.write_base_url(root)
    music_service.route("GET", "/items", body=items_answer([song_item(1)]))
    return start_daemon("-d", "-t", stdin_pipe=True)


def test_each_request_reads_identity_token_and_base_url_again(root, console, music_service):
    root.write("/usr/local/olc/api_token.txt", "tok-A")
    console.write_stdin("search a\n")
    first = music_service.wait_for_requests(1)[0]
    assert first.header("token") == "tok-A"
    assert first.header("user-agent") == "PNM10/3.10 (BR; REGION_JAPAN)"
    assert first.header("x-vqat-did") == device_id("od-test-device")

    # The device's other software changes its files between two requests.
    root.write("/usr/local/olc/api_token.txt", "tok-B")
    root.write("/usr/local/etc/vellichord.conf", "ver:7")
    root.write("/usr/local/etc/destination.conf", "japan")
    root.write("/etc/hostname", "  other-host \n")
    console.write_stdin("search b\n")
    second = music_service.wait_for_requests(2)[1]
    assert second.header("token") == "tok-B"
    assert second.header("user-agent") == "PNM10/7.0 (BR; REGION_WORLDWIDE)"
    assert second.header("x-vqat-did") == device_id("other-host")

    # A removed token file: the search is not sent at all.
    os.remove(root.at("/usr/local/olc/api_token.txt"))
    console.write_stdin("search c\n")
    console.write_stdin("login user pw\n")
    third = music_service.wait_for_requests(3)[2]
    assert third.path == "/auth/login" and third.header("token") is None
    assert [r.query.get("title") for r in music_service.requests[:2]] == [["a"], ["b"]]


def test_cookies_set_by_the_service_are_kept_and_sent_back(root, console, music_service):
    music_service.route("POST", "/auth/login", body=LOGIN_OK,
                        headers=[("Set-Cookie", "sid=abc123; Path=/")])
    console.write_stdin("login user pw\n")
    assert music_service.wait_for_requests(1)[0].header("cookie") is None
    console.wait_for_stderr("contents : refresh-1\n")
    assert "abc123" in root.read("/usr/local/olc/cookie.txt")
    console.write_stdin("search a\n")
    assert music_service.wait_for_requests(2)[1].header("cookie") == "sid=abc123"


def test_a_missing_base_url_file_sends_nothing_and_harms_nothing(root, console, music_service):
    os.remove(root.at("/usr/local/olc/ondemand_base_url"))
    root.write("/usr/local/olc/api_token.txt", "tok")
    console.write_stdin("login user pw\n")
    console.write_stdin("search a\n")
    # Both fail in curl and answer with nothing, which does not parse.
    console.wait_for_stderr("xml_parse: error\n", count=2)
    assert root.read("/usr/local/olc/api_token.txt") == "tok"
    music_service.write_base_url(root)
    console.write_stdin("search b\n")
    assert music_service.wait_for_requests(1)[0].query["title"] == ["b"]
    assert console.alive()


# Through the control link: the search shows the answer's status in its
# error dialog.

@pytest.fixture
def searching(root, music_service, control_server, linked_daemon):
    music_service.write_base_url(root)
    root.write("/usr/local/olc/api_token.txt", "tok")
    control_server.send('<set_ondemand status="on"/>')
    control_server.wait_for('<set_seq time="0" />')
    return linked_daemon


def search(control_server, title):
    control_server.send(f'<set_ondemand cmd="search" title="{title}"/>')


def test_a_redirect_reports_the_status_of_the_last_answer(root, music_service, control_server,
                                                          searching):
    music_service.route("GET", "/items", status=302, headers=[("Location", "/elsewhere")])
    music_service.route("GET", "/elsewhere", status=500, body=error_answer("Moved and failed"))
    search(control_server, "x")
    assert [r.path for r in music_service.wait_for_requests(2)] == ["/items", "/elsewhere"]
    wait_for_dialog(root, type="error")
    assert dialog(root)["message"] == "server([500]: search)\n[ Moved and failed ]"


def fake_curl(root, script):
    """Puts a stand-in for curl in place of the real one."""
    os.remove(root.at("/usr/bin/curl"))
    root.write("/usr/bin/curl", "#!/bin/sh\n" + script, mode=0o755)


def test_a_status_line_split_between_two_reads_is_still_read(root, control_server, searching):
    # The pause makes the daemon read the two halves of the line apart.
    fake_curl(root, "printf '* Connected\\r\\n< HT' >&2\n"
                    f"sleep {scaled(0.3)}\n"
                    "printf 'TP/1.1 404 Not Found\\r\\n< Content-Type: text/xml\\r\\n' >&2\n"
                    "printf '<error><message>No such song</message></error>'\n")
    search(control_server, "x")
    wait_for_dialog(root, type="error")
    assert dialog(root)["message"] == "server([404]: search)\n[ No such song ]"


def test_a_time_out_is_shown_at_once_and_the_answer_follows(root, control_server, searching):
    release = root.at("/release")
    # The stand-in ends when the test releases it, or on its own well after
    # any wait of the test, so a failed test leaves no process looping.
    tries = int(scaled(2 * DEFAULT_TIMEOUT) / 0.02)
    fake_curl(root, "printf '* Operation timed out after 60000 milliseconds"
                    " with 0 bytes received\\n' >&2\n"
                    f"i=0; while [ ! -e '{release}' ] && [ $i -lt {tries} ]; do\n"
                    "  sleep 0.02; i=$((i + 1))\n"
                    "done\n"
                    "exit 28\n")
    search(control_server, "x")
    wait_for_dialog(root, message="Connection timed out")
    shown = dialog(root)
    assert (shown["type"], shown["title"]) == ("error", "Error")
    # The request is still outstanding until curl ends.
    assert status(root)["download"] == 1
    root.write("/release", "")
    assert wait_until(lambda: dialog(root)["message"] != "Connection timed out")
    assert searching.alive()


def test_a_token_file_with_a_line_end_does_not_break_the_request(root, console, music_service):
    # Written by other software with a line end: the header still ends where
    # it should, and the form data after it arrives whole.
    root.write("/usr/local/olc/api_token.txt", "stale\n")
    music_service.route("POST", "/auth/login", body=LOGIN_OK)
    console.write_stdin("login user pw\n")
    request = music_service.wait_for_requests(1)[0]
    assert request.header("token") == "stale"
    assert request.form_pairs == [("username", "user"), ("password", "pw"),
                                  ("device_id", "od-test-device")]
