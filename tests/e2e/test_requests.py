"""Requests to the music service as the daemon's curl sends them: identity,
tokens and base URL read again for every request, the cookie file, redirects,
and the status and time-out read from curl's verbose standard error."""

import hashlib
import os

import pytest

from conftest import switch_on
from fakes import scaled, wait_until
from fakes.answers import LOGIN_OK, error_answer, items_answer, song_item
from fakes.published import dialog, published, status, wait_for_dialog, wait_for_status
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


# -- what other servers answer ------------------------------------------------------

@pytest.mark.parametrize("version", ["HTTP/1.0", "HTTP/1.1"])
def test_the_status_of_an_older_server_is_read(root, music_service, control_server, searching,
                                               version):
    music_service.route("GET", "/items", status=500, body=error_answer("Broken"), version=version)
    search(control_server, "x")
    wait_for_dialog(root, type="error")
    assert dialog(root)["message"] == "server([500]: search)\n[ Broken ]"


def test_a_refusal_from_an_older_server_switches_the_service_off(root, music_service,
                                                                 control_server, searching):
    music_service.route("GET", "/items", status=403, body=error_answer("Not here"),
                        version="HTTP/1.0")
    search(control_server, "x")
    control_server.wait_for('<set_rcs mode="normal"/>')
    wait_for_status(root, status="off")


def test_a_compressed_answer_is_read_and_the_header_lines_stay(root, music_service,
                                                               control_server, searching):
    music_service.route("GET", "/items", body=items_answer([song_item(7)]), compress=True)
    # Requests made before curl's probe has answered go without "--compressed".
    searching.wait_for_stderr("curl: compressed answers decoded")
    search(control_server, "x")
    assert wait_until(lambda: '"id":"7"' in published(root, "song"))
    request = music_service.requests[0]
    assert [v for n, v in request.headers if n.lower() == "accept-encoding"] == [
        "gzip, deflate, br"]


def test_a_curl_without_compression_support_still_runs_every_request(root, music_service,
                                                                     control_server,
                                                                     start_daemon):
    # Such a curl refuses the option that asks it to decode.
    fake_curl(root, 'for a in "$@"; do\n'
                    '  if [ "$a" = --compressed ]; then\n'
                    "    echo \"curl: option --compressed: the installed libcurl version"
                    " doesn't support this\" >&2; exit 2\n"
                    "  fi\n"
                    "done\n"
                    'exec /usr/bin/curl "$@"\n')
    music_service.write_base_url(root)
    root.write("/usr/local/olc/api_token.txt", "tok")
    music_service.route("GET", "/items", body=items_answer([song_item(8)]))
    daemon = start_daemon("-d")
    assert control_server.wait_for_count(2)
    daemon.wait_for_stderr("curl: compressed answers not asked for")
    switch_on(control_server)
    search(control_server, "x")
    assert wait_until(lambda: '"id":"8"' in published(root, "song"))


def test_registration_and_commands_do_not_wait_for_curls_probe(root, control_server,
                                                               start_daemon):
    # A probe that does not answer until the test lets it.
    release = root.at("/release-probe")
    fake_curl(root, f'if [ "$2" = --version ]; then\n'
                    f'  while [ ! -e "{release}" ]; do sleep 0.05; done\n'
                    "fi\n"
                    'exec /usr/bin/curl "$@"\n')
    daemon = start_daemon("-d")
    assert control_server.wait_for_count(2)
    switch_on(control_server)
    assert "compressed answers" not in daemon.stderr_text()
    open(release, "w").close()
    daemon.wait_for_stderr("curl: compressed answers decoded")


# -- the runner's own limit ----------------------------------------------------------

RUN_LIMIT_MS = 1500


@pytest.fixture
def short_run_limit(monkeypatch):
    limit_ms = int(scaled(RUN_LIMIT_MS))
    monkeypatch.setenv("ONDEMAND_CURL_LIMIT_MS", str(limit_ms))
    return limit_ms


def test_logins_that_stall_are_ended_and_free_their_places(root, music_service, short_run_limit,
                                                           start_daemon):
    # Logging in has no time limit of curl's own; five stalled logins held
    # every place for good.
    music_service.write_base_url(root)
    music_service.route("POST", "/auth/login", body=LOGIN_OK, delay=3600)
    music_service.route("GET", "/items", body=items_answer([song_item(1)]))
    root.write("/usr/local/olc/api_token.txt", "tok")
    console = start_daemon("-d", "-t", stdin_pipe=True)
    console.write_stdin("".join(f"login u{n} pw\n" for n in range(5)) + "search a\n")
    music_service.wait_for_requests(5)
    # The search waits for a place and gets one once the logins are ended.
    searched = requests_to(music_service, "/items", timeout=scaled(4 * RUN_LIMIT_MS / 1000) + 5)
    first = min(r.arrived for r in music_service.requests if r.path == "/auth/login")
    print(f"a place came free {searched.arrived - first:.2f} s after the first stalled login"
          f" arrived (limit {short_run_limit} ms)")
    console.wait_for_stderr("ran past", count=5)
    console.wait_for_stderr("Song 1")  # the search's answer was read
    assert console.alive()


def requests_to(service, path, timeout=None):
    ok = service.wait_until(lambda: any(r.path == path for r in service.requests), timeout)
    assert ok, f"no request to {path}: {[r.path for r in service.requests]}"
    return next(r for r in service.requests if r.path == path)
