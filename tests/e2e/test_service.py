"""The service session through the control link: switching on and off, the
start command, logging in again, the token refresh, the sequencer's reports
and the dialogs the web interface reads."""

from conftest import SWITCHED_ON, sent, store_tokens, switch_on
from fakes import scaled
from fakes.answers import error_answer
from fakes.published import dialog, status, wait_for_dialog, wait_for_status


def test_a_start_with_tokens_connects_and_reads_the_account(root, service, control_server,
                                                           linked_daemon):
    store_tokens(root)
    # The chain goes on with the gratis playlists, answered late.
    service.route("GET", "/cms/playlist/gratis", body="<response/>", delay=scaled(0.5))
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="x" id="5"/>')
    request = service.wait_for_requests(1)[0]
    assert request.target == "/user/account/features"
    assert request.header("token") == "access-0"
    assert sent(control_server)[:5] == [
        '<set_song prefix="d" song_id="1" control="stop" />\n'] + SWITCHED_ON
    assert wait_for_status(root, isOriginalArtist=True)["status"] == "on"
    # The connecting dialog stays up while the chain runs, and goes with
    # its last answer.
    assert service.wait_for_requests(2)[1].target == "/cms/playlist/gratis"
    shown = dialog(root)
    assert (shown["type"], shown["message"], shown["isShow"]) == (
        "wait", "modal_connect_message_connecting_login", True)
    wait_for_dialog(root, type="wait", isShow=False)

    control_server.send('<set_ondemand cmd="ondemandStop" usb_status="off"/>')
    control_server.wait_for('<set_song prefix="d" song_id="1" control="stop" />', after=3)


def test_a_start_without_tokens_asks_to_log_in_or_refuses(root, service, control_server,
                                                         linked_daemon):
    control_server.send('<set_ondemand cmd="startup" pfix="d" id="3"/>')
    control_server.sync()
    shown = dialog(root)
    assert (shown["type"], shown["title"], shown["message"]) == ("error", "Error",
                                                                 "Not authorized.")
    root.write("/usr/local/olc/user_arth.txt", "emailaddress=a@b.c\nondemand=true\n")
    control_server.send('<set_ondemand cmd="startup" pfix="d" id="3"/>')
    control_server.sync()
    assert dialog(root)["type"] == "login"
    assert service.requests == []
    assert sent(control_server) == []


def test_relogin_stores_the_tokens_and_restarts_with_the_last_song(root, service, control_server,
                                                                  linked_daemon):
    root.write("/usr/local/olc/user_arth.txt", "ondemand=true\n")
    control_server.send('<set_ondemand cmd="startup" pfix="l" id="12"/>')
    control_server.send('<set_ondemand cmd="relogin" username="me@x.y" password="p&amp;w"/>')
    login, features = service.wait_for_requests(2)
    assert login.form_pairs == [("username", "me@x.y"), ("password", "p&w"),
                                ("device_id", "od-test-device")]
    assert features.target == "/user/account/features"
    assert features.header("token") == "access-1"
    assert root.read("/usr/local/olc/api_token.txt") == "access-1"
    assert root.read("/usr/local/olc/api_refresh_token.txt") == "refresh-1"
    linked_daemon.wait_for_stderr("refresh timer: armed for 2700000 ms\n")  # 3/4 of an hour
    # The restart names a local song, so nothing is stopped first.
    assert sent(control_server)[:4] == SWITCHED_ON
    # ... and it is the start command's own connecting dialog that shows.
    shown = dialog(root)
    assert (shown["type"], shown["message"], shown["isShow"]) == (
        "wait", "modal_connect_message_connecting_login", True)


def test_a_failed_relogin_shows_the_service_messages(root, service, control_server, linked_daemon):
    service.route("POST", "/auth/login", status=401, body=error_answer("Wrong password"))
    control_server.send('<set_ondemand cmd="relogin" username="me" password="bad"/>')
    service.wait_for_requests(1)
    shown = wait_for_dialog(root, type="error")
    assert shown["message"] == "server([401]: re-login)\n[ Wrong password ]"
    control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
    control_server.sync()
    shown = dialog(root)
    assert (shown["isShow"], shown["confirmed"], shown["type"]) == (False, True, "")


def test_auth_option_refreshes_at_once_with_the_refresh_token(root, service, control_server,
                                                             linked_daemon):
    store_tokens(root)
    control_server.send('<set_ondemand cmd="setOption" refreshTimer="AUTH"/>')
    request = service.wait_for_requests(1)[0]
    assert (request.method, request.target) == ("POST", "/auth/refresh")
    assert request.header("token") == "refresh-0"
    linked_daemon.wait_for_stderr("refresh timer: armed for 2700000 ms\n")  # 3/4 of an hour
    assert root.read("/usr/local/olc/api_token.txt") == "access-1"
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    control_server.send('<set_ondemand cmd="search" title="x"/>')  # off: only the status file
    control_server.sync()
    assert status(root)["gratis"] is False
    assert len(service.requests) == 1


def test_sequencer_reports_start_and_hold_a_loaded_song(control_server, linked_daemon):
    control_server.send('<seq status="load"/>')  # ignored while off
    switch_on(control_server)
    control_server.send('<rcs status="to_standby"/>')  # leaves the start-up chain idle
    switch_on(control_server)
    mark = control_server.mark()
    control_server.send_all([
        '<seq status="load"/>', '<seq status="STOP"/>',     # ready: play it
        '<seq status="play" time="100"/>',                  # playing: controller back to normal
        '<seq status="ffs"/>', '<seq status="load"/>',      # wound to the end, still loaded
        '<seq status="stop"/>',                             # back to the furthest position
        '<seq status="nosong"/>',                           # ended, no next song: hold it
        '<seq status="load"/>', '<seq status="stop"/>',
    ])
    control_server.sync()
    assert control_server.messages[mark:] == [
        '<set_seq status="play"/>\n',
        '<set_rcs mode="normal"/>\n',
        '<set_seq time="0" />\n',
        '<set_seq status="pause"/>\n',
    ]


def test_pause_and_seek_commands_reach_the_sequencer(control_server, linked_daemon):
    control_server.send_all(['<set_ondemand cmd="setTime" time="12"/>',
                             '<set_ondemand cmd="PAUSE"/>'])
    control_server.sync()
    assert sent(control_server) == ['<set_seq time="12000" />\n',
                                                       '<set_seq status="pause" />\n']
