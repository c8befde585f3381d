"""Logging in, starting the service and its start-up chain, cancelling it, and
how a refusal by the service ends the session."""

import os

import pytest

from conftest import SWITCHED_OFF, SWITCHED_ON, sent, store_tokens
from fakes import wait_until
from fakes.answers import FEATURES_OA, error_answer
from fakes.published import dialog, status, wait_for_dialog, wait_for_status

FEATURES_NO_OA = ('<response><features><feature id="original_artist" value="0"/>'
                  '<feature id="other" value="1"/></features></response>')
STOP_DEFAULT = '<set_song prefix="d" song_id="1" control="stop" />\n'


@pytest.mark.parametrize("account, password, address, sent_password", [
    ("ondemand=true\nemailaddress=me@x.y\n", "pw\n", "me@x.y", "pw"),
    # A later address line wins; a key with nothing after its separator
    # gives an empty address.
    ("emailaddress:first@x.y\nemailaddress=\n", "p w", "", "p w"),
    (None, None, "", ""),
])
def test_login_reads_the_account_files(root, service, control_server, linked_daemon, account,
                                       password, address, sent_password):
    if account is not None:
        root.write("/usr/local/olc/user_arth.txt", account)
    if password is not None:
        root.write("/tmp/olc/password", password)
    control_server.send('<set_ondemand cmd="Login"/>')
    request = service.wait_for_requests(1)[0]
    assert (request.method, request.target) == ("POST", "/auth/login")
    assert request.form_pairs == [("username", address), ("password", sent_password),
                                  ("device_id", "od-test-device")]
    # Three quarters of the token's hour, sooner than the 55-minute period.
    linked_daemon.wait_for_stderr("refresh timer: armed for 2700000 ms\n")
    assert root.read("/usr/local/olc/api_token.txt") == "access-1"
    # No dialog for this login, and nothing to the control server.
    assert dialog(root)["isShow"] is False
    assert sent(control_server) == []


def test_a_start_reads_the_account_features_and_runs_the_chain_from_its_start_each_time(
        root, service, control_server, linked_daemon):
    store_tokens(root)
    service.route("GET", "/cms/playlist/gratis", body="<response/>")
    chain = ["/user/account/features", "/cms/playlist/gratis"]
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>')
    wait_for_status(root, isOriginalArtist=True)
    # The local song needs no stop; the chain switches on once.
    assert sent(control_server) == SWITCHED_ON
    assert status(root)["status"] == "on"
    # A gratis member's chain ends with the gratis playlists.
    service.wait_for_requests(2)
    wait_for_dialog(root, type="wait", isShow=False)
    assert [r.target for r in service.requests] == chain

    # A second start runs the chain from its first step again; the service
    # is already on, so nothing more is said to the controller.
    service.route("GET", "/user/account/features", body=FEATURES_NO_OA)
    control_server.send('<set_ondemand cmd="startup" pfix="l" id="5"/>')
    service.wait_for_requests(4)
    wait_for_status(root, isOriginalArtist=False)
    wait_for_dialog(root, type="wait", isShow=False)
    control_server.sync()
    assert [r.target for r in service.requests] == 2 * chain
    assert sent(control_server) == SWITCHED_ON


def test_a_cancel_switches_off_when_the_running_step_answers(root, service, control_server,
                                                            linked_daemon):
    store_tokens(root)
    service.route("GET", "/user/account/features", body=FEATURES_OA, delay=1.0)
    root.write("/usr/local/ondemand/4/song.mid", b"MThd")
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>')
    service.wait_for_requests(1)
    control_server.send('<set_ondemand cmd="ondemandCancel"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    # The reset clears the dialog; the chain's last step then hides the wait.
    wait_for_dialog(root, type="wait", isShow=False)
    assert wait_for_status(root, status="off")
    assert wait_until(lambda: not root.exists("/usr/local/ondemand"))
    control_server.sync()
    assert len(service.requests) == 1


def test_a_refused_account_request_ends_the_session(root, service, control_server,
                                                    linked_daemon):
    store_tokens(root)
    service.route("GET", "/user/account/features", status=403,
                  body=error_answer("Not here", ""))
    root.write("/usr/local/ondemand/4/song.mid", b"MThd")
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>')
    wait_for_dialog(root, type="error")
    assert dialog(root)["message"] == "server([403]: account)\n[ Not here ]"
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    assert wait_until(lambda: not root.exists("/usr/local/ondemand"))
    assert wait_for_status(root, status="off")

    # Another failure stops the chain where it is, with the service on, and
    # the status file says so.
    service.route("GET", "/user/account/features", status=500, body="<error/>")
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>')
    wait_for_dialog(root, message="server([500]: account)")
    assert status(root)["status"] == "on"
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF + SWITCHED_ON


def test_a_refusal_that_cannot_be_read_switches_nothing_off(root, service, control_server,
                                                            linked_daemon):
    # Only a refusal the service itself words switches off; an empty or HTML
    # 403 (a proxy, say) is an answer that cannot be read.
    store_tokens(root)
    service.route("POST", "/auth/refresh", status=403, body="")
    control_server.send('<set_ondemand status="on"/>')
    root.write("/usr/local/ondemand/4/song.mid", b"MThd")
    control_server.send('<set_ondemand cmd="setOption" refreshTimer="auth"/>')
    service.wait_for_requests(1)
    assert service.wait_all_finished()

    service.route("GET", "/items", status=403, body="<html>blocked")
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_dialog(root, type="error")
    assert dialog(root)["message"] == "search"
    assert status(root)["status"] == "on"
    assert root.exists("/usr/local/ondemand/4/song.mid")
    assert root.read("/usr/local/olc/api_token.txt") == "access-0"
    assert sent(control_server) == SWITCHED_ON


@pytest.mark.parametrize("code, body, message", [
    (200, "not xml", "re-login"),
    (502, "<html>bad gateway", "server([502]: re-login)"),
])
def test_a_relogin_answer_that_cannot_be_read_ends_the_wait(root, service, control_server,
                                                            linked_daemon, code, body, message):
    service.route("POST", "/auth/login", status=code, body=body)
    control_server.send('<set_ondemand cmd="relogin" username="me" password="pw"/>')
    linked_daemon.wait_for_stderr("parse error Re-Login\n")
    wait_for_dialog(root, type="error")
    assert (dialog(root)["title"], dialog(root)["message"]) == ("Error", message)
    assert not root.exists("/usr/local/olc/api_token.txt")
    assert sent(control_server) == []


def test_requests_that_cannot_be_started_do_not_leave_the_user_waiting(root, service,
                                                                      control_server,
                                                                      linked_daemon):
    os.remove(root.at("/usr/bin/curl"))
    control_server.send('<set_ondemand cmd="relogin" username="me" password="pw"/>')
    control_server.sync()
    assert (dialog(root)["type"], dialog(root)["message"]) == ("error", "re-login")

    store_tokens(root)
    control_server.send('<set_ondemand cmd="startup" pfix="d" id="3"/>')
    control_server.sync()
    assert (dialog(root)["type"], dialog(root)["message"]) == ("error", "account")
    assert status(root)["status"] == "on"
    assert service.requests == []


def test_the_status_switches_only_on_a_change(root, control_server, linked_daemon):
    control_server.send_all(['<set_ondemand status="auth"/>', '<set_ondemand status="ON"/>',
                             '<set_ondemand status="on"/>', '<set_ondemand status="off"/>'])
    control_server.sync()
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    # Off and idle: a further "off" says nothing and keeps what is there.
    root.write("/usr/local/ondemand/4/song.mid", b"MThd")
    control_server.send('<set_ondemand status="OFF"/>')
    control_server.sync()
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    assert root.exists("/usr/local/ondemand/4")


def test_the_stop_command_names_the_song_to_return_to(control_server, linked_daemon):
    # Without tokens the start is refused, but the song it named is kept.
    control_server.send_all([
        '<set_ondemand cmd="ondemandStop" usb_status="off"/>',     # nothing named yet
        '<set_ondemand cmd="startup" pfix="x" id="9"/>',
        '<set_ondemand cmd="ondemandStop" usb_status="on"/>',
        '<set_ondemand cmd="ondemandStop"/>',
        '<set_ondemand cmd="startup" pfix="l" id="7"/>',
        '<set_ondemand cmd="ondemandStop" usb_status="OFF"/>',
        '<set_ondemand cmd="startup" pfix="x" id="9"/>',
        '<set_ondemand cmd="ondemandStop" usb_status="Off"/>',
        '<set_ondemand cmd="ondemandStop" usb_status="on"/>',
    ])
    control_server.sync()
    assert sent(control_server) == [
        STOP_DEFAULT,
        '<set_song prefix="x" song_id="9" control="stop" />\n',
        '<set_song prefix="x" song_id="9" control="stop" />\n',
        '<set_song prefix="l" song_id="7" control="stop" />\n',
        STOP_DEFAULT,
        STOP_DEFAULT,
    ]


def test_seek_without_a_time_and_the_return_after_fast_forward(control_server, linked_daemon):
    control_server.send('<set_ondemand status="on"/>')
    control_server.wait_for('<set_seq time="0" />')
    mark = control_server.mark()
    control_server.send_all([
        '<set_ondemand cmd="setTime"/>',             # nowhere to go: nothing
        '<set_ondemand cmd="setTime" time="abc"/>',  # not a number: the start
        '<seq status="pause"/>', '<seq status="ffs"/>', '<seq status="nosong"/>',
        '<seq status="stop"/>',                       # wound to the end while paused
        '<seq/>', '<seq status="whatever"/>', '<seq status="load"/>',
        '<seq status="stop"/>',                       # no start command ran: nothing
    ])
    control_server.sync()
    assert sent(control_server, mark) == ['<set_seq time="0" />\n', '<set_seq time="0" />\n']
