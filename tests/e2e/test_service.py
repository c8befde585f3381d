"""The service session through the control link: switching on and off, the
start command, logging in again, the token refresh, searches and the files
and dialogs the web interface reads."""

import json
import shutil

from conftest import SWITCHED_OFF, SWITCHED_ON, sent, store_tokens, switch_on
from fakes import wait_until
from fakes.answers import error_answer, items_answer, song_item
from fakes.published import dialog, masked, published, status


def test_a_start_with_tokens_connects_and_reads_the_account(root, service, control_server,
                                                           linked_daemon):
    store_tokens(root)
    control_server.send('<set_ondemand cmd="ondemandStart" pfix="x" id="5"/>')
    request = service.wait_for_requests(1)[0]
    assert request.target == "/user/account/features"
    assert request.header("token") == "access-0"
    assert sent(control_server)[:5] == [
        '<set_song prefix="d" song_id="1" control="stop" />\n'] + SWITCHED_ON
    assert wait_until(lambda: status(root)["isOriginalArtist"])
    assert status(root)["status"] == "on"
    # The chain goes on with the playlists, which are not served yet: the
    # connecting dialog stays up.
    shown = dialog(root)
    assert (shown["type"], shown["message"], shown["isShow"]) == (
        "wait", "modal_connect_message_connecting_login", True)

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
    linked_daemon.wait_for_stderr("refresh timer: armed for 3300000 ms\n")
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
    assert wait_until(lambda: dialog(root)["type"] == "error")
    assert dialog(root)["message"] == "server([401]: re-login)\n[ Wrong password ]"
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
    linked_daemon.wait_for_stderr("refresh timer: armed for 3300000 ms\n")
    assert root.read("/usr/local/olc/api_token.txt") == "access-1"
    control_server.send('<set_ondemand cmd="setOption" gratis="false"/>')
    control_server.send('<set_ondemand cmd="search" title="x"/>')  # off: only the status file
    control_server.sync()
    assert status(root)["gratis"] is False
    assert len(service.requests) == 1


SEARCH_ITEMS = [
    song_item(3, title='say &quot;hi&quot; to a\\/b and c:\\d&#10;next&#9;tab'),
    song_item(2, genre=None),  # lacks a required attribute
    song_item(4, ondemand_play=None),  # lacks only the optional one
    '<ITEM ID="1" Display_Order="1" TITLE="Upper" ARTIST="A" COMPOSER="C" PERFORMER="P" '
    'LENGTH="9" GENRE="G" ROLLFORM_TYPE="R" ONDEMAND_PLAY="false"/>',
] + [song_item(n) for n in range(10, 215)]


def expected_song(number, title=None, play="true", artist="Artist", composer="Composer",
                  performer="Performer", length="180", rollform="standard"):
    title = f"Song {number}" if title is None else title
    return (f'{{"id":"{number}","display_order":"{number}","title":"{title}",'
            f'"artist":"{artist}","composer":"{composer}","performer":"{performer}",'
            f'"length":"{length}","rollform_type":"{rollform}","isPlayOk":"{play}",'
            f'"checked":false}}')


def test_a_search_is_published_exactly(root, service, control_server, linked_daemon):
    store_tokens(root)
    service.route("GET", "/items", body=items_answer(SEARCH_ITEMS))
    switch_on(control_server)
    control_server.send('<set_ondemand cmd="Search" page="1" page_size="300" title="a b"/>')
    request = service.wait_for_requests(1)[0]
    assert request.raw_query == "page=1&page_size=300&title=a%20b"
    assert wait_until(lambda: '"id":"1"' in published(root, "song"))
    songs = [expected_song(1, "Upper", "false", "A", "C", "P", "9", "R"),
             expected_song(3, 'say \\"hi\\" to a\\/b and c:\\\\d\\nnext\\ttab'),
             expected_song(4, play="")] + [expected_song(n) for n in range(10, 207)]
    assert masked(published(root, "song")) == (
        '{"updatetime":"T","songs":[' + ",".join(songs) + "]}")
    assert wait_until(lambda: dialog(root)["isShow"] is False)


def test_failed_searches_keep_the_list_and_show_why(root, service, control_server, linked_daemon):
    store_tokens(root)
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    switch_on(control_server)
    control_server.send('<set_ondemand cmd="search" title="first"/>')
    assert wait_until(lambda: '"id":"1"' in published(root, "song"))
    before = published(root, "song")

    service.route("GET", "/items", status=500,
                  body=error_answer("Temporary failure", "Try later"))
    control_server.send('<set_ondemand cmd="search" title="second"/>')
    assert wait_until(lambda: dialog(root)["type"] == "error")
    assert dialog(root)["message"] == (
        "server([500]: search)\n[ Temporary failure ]\n[ Try later ]")
    assert published(root, "song") == before

    # A control byte is not XML: the answer is refused whole.
    service.route("GET", "/items", body=items_answer([song_item(5, title="bad\x01byte")]))
    control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
    control_server.send('<set_ondemand cmd="search" title="third"/>')
    assert wait_until(lambda: dialog(root)["type"] == "error")
    assert dialog(root)["message"] == "search"
    assert published(root, "song") == before
    assert linked_daemon.alive()


def test_old_search_returns_after_a_genre_search_and_clearing_works_while_off(
        root, service, control_server, linked_daemon):
    store_tokens(root)
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    switch_on(control_server)
    control_server.send('<set_ondemand cmd="search" title="plain"/>')
    assert wait_until(lambda: '"id":"1"' in published(root, "song"))
    service.route("GET", "/items", body=items_answer([song_item(2)]))
    control_server.send('<set_ondemand cmd="search" genre="7"/>')
    assert wait_until(lambda: '"id":"2"' in published(root, "song"))
    assert service.requests[1].raw_query == "genre_id=7"
    control_server.send('<set_ondemand cmd="getSongListOldSearch"/>')
    assert wait_until(lambda: '"id":"1"' in published(root, "song"))

    control_server.send('<set_ondemand status="off"/>')
    control_server.send('<set_ondemand cmd="getSongListOldSearch"/>')
    assert wait_until(lambda: '"id":"1"' in published(root, "song"))
    control_server.send('<set_ondemand cmd="clearSonglist"/>')
    assert wait_until(lambda: masked(published(root, "song")) ==
                      '{"updatetime":"T","songs":[]}')


def test_a_regional_refusal_switches_everything_off(root, service, control_server, linked_daemon):
    store_tokens(root)
    service.route("GET", "/items", status=403, body=error_answer("Not in this region"))
    switch_on(control_server)
    root.write("/usr/local/ondemand/9/song.mid", b"MThd")
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    assert wait_until(lambda: not root.exists("/usr/local/ondemand"))
    assert wait_until(lambda: dialog(root)["type"] == "error")
    assert dialog(root)["message"] == "server([403]: search)\n[ Not in this region ]"
    assert status(root)["status"] == "off"


def test_an_unwritable_publishing_folder_leaves_the_daemon_running(root, service, control_server,
                                                                   start_daemon):
    shutil.rmtree(root.ctrl_dir)
    root.write("/usr/local/www/ctrl", "not a folder")
    store_tokens(root)
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    daemon = start_daemon()
    control_server.wait_for_count(2)
    switch_on(control_server)
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    service.wait_for_requests(1)
    control_server.send('<rcs status="to_standby"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    assert daemon.alive()
    daemon.wait_for_stderr(f"json: cannot write {root.ctrl_dir}/ondemand_song.json\n")
    assert root.read("/usr/local/www/ctrl") == "not a folder"
    assert json.dumps(root.listdir("/usr/local/www")) == '["ctrl"]'


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
