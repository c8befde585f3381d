"""The test console (-d -t): requests typed on standard input go to the music
service through the real curl, with the device's identity headers."""

import hashlib

import pytest

from fakes import scaled, wait_until
from fakes.answers import LOGIN_OK, items_answer, song_item

HOSTNAME = "od-test-device"
DEVICE_ID = hashlib.md5(HOSTNAME.encode()).hexdigest().upper()
# The heading of the song list that do_song_list prints.
STARS = "*************************\n"


@pytest.fixture
def console(root, music_service, start_daemon):
    music_service.write_base_url(root)
    music_service.route("POST", "/auth/login", body=LOGIN_OK)
    daemon = start_daemon("-d", "-t", stdin_pipe=True)
    return daemon


def login(console, music_service):
    console.write_stdin("login user@example.com s3cret\n")
    return music_service.wait_for_requests(1)[0]


def test_login_sends_identity_headers_and_stores_both_tokens(root, console, music_service):
    request = login(console, music_service)
    assert request.method == "POST" and request.target == "/auth/login"
    assert [(n.lower(), v) for n, v in request.headers
            if n.lower() in ("x-vqat-did", "content-type", "accept-encoding", "connection",
                             "accept", "user-agent", "token")] == [
        ("x-vqat-did", DEVICE_ID),
        ("content-type", "application/x-www-form-urlencoded"),
        ("accept-encoding", "gzip, deflate, br"),
        ("connection", "keep-alive"),
        ("accept", "text/xml"),
        ("user-agent", "PNM10/3.10 (BR; REGION_JAPAN)"),
    ]
    assert request.form_pairs == [("username", "user@example.com"), ("password", "s3cret"),
                                  ("device_id", HOSTNAME)]
    assert wait_until(lambda: root.exists("/usr/local/olc/api_refresh_token.txt"))
    console.wait_for_stderr("contents : refresh-1\n")
    assert root.read("/usr/local/olc/api_token.txt") == "access-1"
    assert root.read("/usr/local/olc/api_refresh_token.txt") == "refresh-1"


def test_search_needs_a_login_and_encodes_the_title(root, console, music_service):
    music_service.route("GET", "/items", body=items_answer(
        [song_item(2, title="Second"), song_item(1, title="First")]))
    console.write_stdin("search nothing-yet\n")
    request = login(console, music_service)  # the search before it sent nothing
    assert request.path == "/auth/login"
    console.wait_for_stderr("contents : refresh-1\n")

    console.write_stdin("search caf\u00e9&co\r\n")
    search = music_service.wait_for_requests(2)[1]
    assert search.method == "GET"
    assert search.raw_query == "page_size=8&title=caf%C3%A9%26co"
    assert search.header("token") == "access-1"
    console.wait_for_stderr("*     1: First\n*     2: Second\n")

    console.write_stdin("do_song_list\n")
    console.wait_for_stderr(STARS + "*     1: First\n*     2: Second\n")


def test_short_and_unknown_commands_send_nothing(console, music_service):
    console.write_stdin("login only-a-name\n")
    console.write_stdin("get_midi\n")
    console.write_stdin("frobnicate 1 2 3\n")
    console.write_stdin("do_song_list\t\n")
    # The list's lines follow its heading in writes of their own: the next
    # heading marks the end of the first list.
    console.write_stdin("do_song_list\n")
    console.wait_for_stderr(STARS, count=2)
    assert "* " not in console.stderr_text().split(STARS)[1]
    login(console, music_service)
    assert len(music_service.requests) == 1


def test_words_that_trim_to_nothing_do_not_count(console, music_service):
    # The third word is only a carriage return: the password is missing.
    console.write_stdin("login only-a-name \r\n")
    console.write_stdin("login\ta b\n")  # a tab does not separate words
    console.write_stdin(" \t do_song_list \r\n")
    console.wait_for_stderr(STARS)
    request = login(console, music_service)
    assert request.form_pairs[:2] == [("username", "user@example.com"), ("password", "s3cret")]
    assert len(music_service.requests) == 1


def test_a_line_split_between_reads_is_one_command(console):
    # 1036 bytes in one write: one read takes 1024 and the word is cut.
    console.write_stdin(" " * 1020 + "do_song_list\n")
    console.wait_for_stderr(STARS)
    # The last line needs no line end before the end of input.
    console.write_stdin("do_song_list")
    console.close_stdin()
    assert console.wait_exit() == 0
    assert console.stderr_count(STARS) == 2


def test_get_url_asks_for_the_download_addresses(console, music_service):
    music_service.route("GET", "/items/42/downloadurls",
                        body='<response><url type="midi">https:\\/\\/cdn\\/42.mid</url></response>')
    login(console, music_service)
    console.wait_for_stderr("contents : refresh-1\n")
    console.write_stdin("get_url 42\n")
    assert music_service.wait_for_requests(2)[1].target == "/items/42/downloadurls"
    console.wait_for_stderr("contents : https://cdn/42.mid\n")


def test_at_most_five_requests_are_in_flight(console, music_service):
    music_service.route("GET", "/items", body=items_answer([]), delay=1.0)
    login(console, music_service)
    console.wait_for_stderr("contents : refresh-1\n")
    for word in "abcdefg":
        console.write_stdin(f"search {word}\n")
    requests = music_service.wait_for_requests(8, timeout=15)
    assert music_service.wait_all_finished(timeout=15)
    assert music_service.max_in_flight() == 5
    # The two that waited start after the first five.
    titles = [r.query["title"][0] for r in requests[1:]]
    assert sorted(titles[:5]) == list("abcde") and sorted(titles[5:]) == ["f", "g"]


def test_a_missing_or_unreachable_service_fails_without_harm(root, console, music_service):
    root.write("/usr/local/olc/api_token.txt", "access-1")
    root.write("/usr/local/olc/ondemand_base_url", "")
    console.write_stdin("search lost\n")
    # A failed request answers with nothing, which does not parse.
    console.wait_for_stderr("xml_parse: error\n")
    root.write("/usr/local/olc/ondemand_base_url", "https://127.0.0.1:1")
    console.write_stdin("search nowhere\n")
    console.wait_for_stderr("xml_parse: error\n", count=2)
    # The base URL is read again for every request.
    music_service.write_base_url(root)
    console.write_stdin("search found\n")
    assert music_service.wait_for_requests(1)[0].query["title"] == ["found"]
    assert console.alive()


def test_end_of_input_ends_the_console(console):
    console.write_stdin("do_song_list\n")
    console.wait_for_stderr(STARS)
    console.close_stdin()
    assert console.wait_exit() == 0


@pytest.mark.parametrize("line", [b"search abc\n", b"search abc"], ids=["line-end", "no-line-end"])
def test_end_of_input_waits_for_the_answers_in_flight(root, music_service, ondemand, line):
    # The answer comes after standard input has ended; under valgrind this
    # also shows that the last line's request leaves nothing behind.
    music_service.write_base_url(root)
    root.write("/usr/local/olc/api_token.txt", "access-1")
    music_service.route("GET", "/items", body=items_answer([song_item(3, title="Third")]),
                        delay=scaled(0.5))
    result = ondemand("-d", "-t", stdin=line, timeout=30)
    assert result.returncode == 0
    assert music_service.requests[0].query["title"] == ["abc"]
    assert b"*     3: Third\n" in result.stderr
