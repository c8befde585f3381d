"""The session's faults: the token refresh keeps running while the device is
logged in, only whole tokens are stored, the newest token answer wins, and a
request carries the token current when it starts. The refresh period is
shortened with ONDEMAND_REFRESH_MS."""

import random
import threading

import pytest

from conftest import SWITCHED_OFF, store_tokens
from fakes import scaled, wait_until
from fakes.answers import items_answer, song_item
from fakes.published import dialog

REFRESH = ("POST", "/auth/refresh")
LOGIN = ("POST", "/auth/login")
ACCOUNT = "ondemand=true\nemailaddress=me@x.y\n"


def token_answer(number, expires=3600):
    return (f'<response><token expires="{expires}">access-{number}</token>'
            f"<refreshToken>refresh-{number}</refreshToken></response>")


class Issuer:
    """Answers the refresh requests: fresh tokens (refresh-1, refresh-2, ...),
    or the answers queued in `failures`, one per request; `stall` holds the
    next answer back that many seconds. Records for each request the refresh
    token it carried and the newest one handed out before it arrived. The
    service answers each request on a thread of its own."""

    def __init__(self, service, chance=None):
        self.service = service
        self.failures = []
        self.stall = 0
        self.chance = chance  # a random.Random: a fifth of the answers fail
        self.lock = threading.Lock()
        self.current = 0  # refresh-0 is stored at the start
        self.carried = []

    def __call__(self, request):
        with self.lock:
            self.carried.append((request.header("token"), f"refresh-{self.current}"))
            stall, self.stall = self.stall, 0
            if self.failures:
                answer = self.failures.pop(0)
            elif self.chance is not None and self.chance.random() < 0.2:
                answer = self.chance.choice(list(FAILURES.values()))
            else:
                self.current += 1
                answer = (200, token_answer(self.current))
        if stall:
            self.service._closing.wait(stall)
        return answer

    def count(self):
        with self.lock:
            return len(self.carried)

    def each_carried_the_newest(self):
        with self.lock:
            return all(token == newest for token, newest in self.carried), self.carried


FAILURES = {
    "500": (500, "<error/>"),
    "unreadable": (200, "<response><token>x</token>"),
    "empty tokens": (200, '<response><token expires="3600"></token><refreshToken/></response>'),
    "no token": (200, "<response><refreshToken>refresh-x</refreshToken></response>"),
}


@pytest.fixture
def period_ms(request, monkeypatch):
    """The refresh period (seconds before scaling: the test's parameter, or
    1.5), and a run limit of 1 s for stalled answers."""
    seconds = getattr(request, "param", 1.5)
    value = int(scaled(seconds) * 1000)
    monkeypatch.setenv("ONDEMAND_REFRESH_MS", str(value))
    monkeypatch.setenv("ONDEMAND_CURL_LIMIT_MS", str(int(scaled(1) * 1000)))
    return value


@pytest.fixture
def issuer(root, service, period_ms):
    """Answers the refreshes; the tokens are stored before the daemon starts,
    which arms the timer."""
    store_tokens(root)
    answers = Issuer(service)
    service.route(*REFRESH, respond=answers)
    return answers


@pytest.fixture
def account(root):
    root.write("/usr/local/olc/user_arth.txt", ACCOUNT)
    root.write("/tmp/olc/password", "pw")


# -- the refresh never stops --------------------------------------------------------

@pytest.mark.parametrize("failure", [*FAILURES, "stalled", "regional 403"])
def test_a_failed_refresh_is_retried_and_refreshing_goes_on(root, issuer, control_server,
                                                            player, failure):
    # Armed at start-up from the stored tokens. A failure stores nothing, and
    # the next refresh follows after the back-off, then others at the period.
    mark = control_server.mark()
    if failure == "stalled":
        issuer.stall = 3600
        issuer.failures.append((200, token_answer(99)))  # cut by the run limit
    else:
        issuer.failures.append(FAILURES.get(failure, (403, "<error/>")))
    start = issuer.count()
    assert wait_until(lambda: issuer.count() >= start + 3, timeout=20), issuer.carried
    assert issuer.each_carried_the_newest()[0], issuer.carried
    assert wait_until(lambda: root.read("/usr/local/olc/api_token.txt") ==
                      f"access-{issuer.current}")
    if failure == "regional 403":  # the regional rule holds as for any request
        control_server.wait_for(SWITCHED_OFF[0], after=mark)


def test_a_refused_refresh_logs_in_again_with_the_stored_account(root, issuer, account,
                                                                  start_daemon):
    issuer.failures.append((401, "<error/>"))
    issuer.service.route(*LOGIN, body=token_answer(50))
    start_daemon()
    issuer.current = 50  # what the login hands out
    assert wait_until(lambda: issuer.count() >= 2, timeout=20)
    login = next(r for r in issuer.service.requests if r.path == "/auth/login")
    assert (login.form["username"], login.form["password"]) == (["me@x.y"], ["pw"])
    assert issuer.carried[1][0] == "refresh-50"


def test_refreshing_stops_only_when_the_stored_account_is_refused_too(root, issuer, account,
                                                                       player):
    issuer.failures.append((401, "<error/>"))
    issuer.service.route(*LOGIN, status=401, body="<error/>")
    player.wait_for_stderr("refreshing stops", timeout=20)
    assert [r.path for r in issuer.service.requests[-2:]] == ["/auth/refresh", "/auth/login"]
    assert wait_until(lambda: dialog(root)["type"] == "login"), dialog(root)


@pytest.mark.parametrize("period_ms", [20], indirect=True)
def test_the_refresh_comes_at_three_quarters_of_a_short_token_life(root, issuer, control_server,
                                                                   linked_daemon):
    # A period of 20 s: a token of 600 of the service's 3,300 seconds is
    # refreshed after 2.7 s.
    issuer.service.route(*LOGIN, body=token_answer(0, expires=600))
    control_server.send('<set_ondemand cmd="Login"/>')
    login = issuer.service.wait_for_requests(1)[0]
    assert wait_until(lambda: issuer.count() >= 1, timeout=10), "no refresh before the token ends"
    refresh = [r for r in issuer.service.requests if r.path == "/auth/refresh"][0]
    assert refresh.arrived - login.arrived < scaled(8)


# -- whole tokens --------------------------------------------------------------------

@pytest.mark.parametrize("token", ["", "\n", "  \r\n"])
def test_a_token_file_of_white_space_is_no_token(root, service, control_server, linked_daemon,
                                                 token):
    store_tokens(root)
    root.write("/usr/local/olc/api_token.txt", token)
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="d" id="1"/>')
    assert wait_until(lambda: "Not authorized." in root.read(
        "/usr/local/www/ctrl/ondemand_dialog.json"))
    assert service.requests == []


# -- the newest token answer wins ----------------------------------------------------

@pytest.mark.parametrize("first", ["Login", "auth"])
def test_an_older_token_answer_arriving_last_is_dropped(root, service, control_server,
                                                        linked_daemon, first):
    # The first request (a login, or a refresh) is answered after the second
    # (a login): its tokens would overwrite the newer ones.
    store_tokens(root)
    numbers = iter(range(1, 3))

    def respond(request):
        n = next(numbers)
        if n == 1:
            service._closing.wait(scaled(1))
        return 200, token_answer(n)

    service.route(*LOGIN, respond=respond)
    service.route(*REFRESH, respond=respond)
    control_server.send('<set_ondemand cmd="Login"/>' if first == "Login"
                        else '<set_ondemand cmd="setOption" refreshTimer="auth"/>')
    service.wait_for_requests(1)
    control_server.send('<set_ondemand cmd="Login"/>')
    service.wait_for_requests(2)
    assert service.wait_all_finished()
    linked_daemon.wait_for_stderr("token answer 1 dropped")
    assert root.read("/usr/local/olc/api_token.txt") == "access-2"
    assert root.read("/usr/local/olc/api_refresh_token.txt") == "refresh-2"


def test_a_queued_request_carries_the_token_current_when_it_starts(root, music_service,
                                                                   start_daemon):
    # Five slow logins hold every place; the search queued behind them starts
    # once they are answered, and their answers stored a new token.
    music_service.write_base_url(root)
    music_service.route(*LOGIN, body=token_answer(1), delay=scaled(1))
    music_service.route("GET", "/items", body=items_answer([song_item(1)]))
    root.write("/usr/local/olc/api_token.txt", "access-0")
    console = start_daemon("-d", "-t", stdin_pipe=True)
    console.write_stdin("".join(f"login u{n} pw\n" for n in range(5)) + "search a\n")
    search = wait_until(lambda: [r for r in music_service.requests if r.path == "/items"])
    assert search and search[0].header("token") == "access-1"


# -- the soak ------------------------------------------------------------------------

@pytest.mark.parametrize("period_ms", [0.3], indirect=True)
def test_fifty_refresh_periods_with_a_fifth_failing(root, issuer, control_server, player):
    issuer.chance = random.Random(18)
    assert wait_until(lambda: issuer.current >= 50, timeout=150), issuer.carried
    assert issuer.service.wait_all_finished()
    failed = issuer.count() - issuer.current
    print(f"{issuer.count()} refreshes, {failed} failed")
    assert failed > 0
    # Each refresh went out with the refresh token current when it started.
    assert issuer.each_carried_the_newest()[0], issuer.carried
    # Logged in at the end: the newest tokens are stored and a search goes
    # out with the access token.
    assert wait_until(lambda: root.read("/usr/local/olc/api_refresh_token.txt") ==
                      f"refresh-{issuer.current}" or issuer.current > 50)
    issuer.service.route("GET", "/items", body=items_answer([song_item(1)]))
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    search = wait_until(lambda: [r for r in issuer.service.requests if r.path == "/items"])
    assert search and search[0].header("token") == root.read("/usr/local/olc/api_token.txt")
