"""Searches through the control link: the wait dialog, the song file as the web
interface reads it, failures and the remembered plain search."""

import random

import pytest

from conftest import switch_on
from fakes import wait_until, scaled
from fakes.answers import error_answer, items_answer, song_item
from fakes.published import masked, published


@pytest.fixture
def service(root, music_service):
    music_service.write_base_url(root)
    music_service.route("GET", "/user/account/features", body="<response/>")
    root.write("/usr/local/olc/api_token.txt", "access-0")
    root.write("/usr/local/olc/api_refresh_token.txt", "refresh-0")
    return music_service


def dialog_file(title="", message="", type_="", shown=False, confirmed=False):
    return ('{"updatetime":T,"dialog":{"title":"%s","message":"%s","type":"%s","isShow":%s,'
            '"isProg":false,"perProg":"","confirmed":%s}}'
            % (title, message, type_, str(shown).lower(), str(confirmed).lower()))


WAITING = dialog_file("modal_connect_title_message", "modal_connect_message_connecting", "wait",
                      shown=True)
HIDDEN = dialog_file(type_="wait")
CONFIRMED = dialog_file(confirmed=True)


def song_json(id_, order, title, artist="Artist", composer="Composer", performer="Performer",
              length="180", rollform="standard", play="true"):
    return (f'{{"id":"{id_}","display_order":"{order}","title":"{title}","artist":"{artist}",'
            f'"composer":"{composer}","performer":"{performer}","length":"{length}",'
            f'"rollform_type":"{rollform}","isPlayOk":"{play}","checked":false}}')


def song_file(songs):
    return '{"updatetime":"T","songs":[' + ",".join(songs) + "]}"


def search_and_wait(control_server, root, element, expected_text):
    control_server.send(element)
    assert wait_until(lambda: masked(published(root, "song")) == expected_text), \
        published(root, "song")


# More results than the song file shows, in shuffled document order, with
# the cases the reader must get right placed at the front of the display order.
SPECIAL = [
    '<ITEM ID="-1" Display_Order="1" TITLE="Mixed Case" ARTIST="A" COMPOSER="C" '
    'PERFORMER="P" LENGTH="9" GENRE="G" ROLLFORM_TYPE="R" ONDEMAND_PLAY="false"/>',
    song_item("abc", display_order="2",
              title='He said &quot;hi&quot; &amp; left a/b\\c&#10;line&#13;&#9;caf\u00e9'),
    song_item(30, display_order="3", length=None),  # lacks a required attribute
    song_item(31, display_order="3", id=None),
    song_item(32, display_order="4", ondemand_play=None),  # lacks only the optional one
    '<group>' + song_item(33, display_order="5") + '</group>',
]
PLAIN = [song_item(n) for n in range(100, 350)]
ITEMS = SPECIAL + PLAIN
random.Random(7).shuffle(ITEMS)

PUBLISHED = [
    song_json("18446744073709551615", 1, "Mixed Case", "A", "C", "P", "9", "R", "false"),
    song_json(0, 2, 'He said \\"hi\\" & left a\\/b\\\\c\\nline\\r\\tcaf\u00e9'),
    song_json(32, 4, "Song 32", play=""),
    song_json(33, 5, "Song 33"),
] + [song_json(n, n, f"Song {n}") for n in range(100, 296)]


def test_a_large_search_is_published_exactly_under_a_wait_dialog(root, service, control_server,
                                                                 linked_daemon):
    service.route("GET", "/items", body=items_answer(ITEMS), delay=scaled(0.5))
    switch_on(control_server)
    control_server.send('<set_ondemand cmd="search" page="1" page_size="300" title="x"/>')
    service.wait_for_requests(1)
    assert masked(published(root, "dialog")) == WAITING
    # The status file was rewritten with the request under way.
    assert published(root, "status").endswith('"genres":[],"download":1}')

    assert wait_until(lambda: masked(published(root, "song")) != song_file([]))
    text = published(root, "song")
    assert masked(text) == song_file(PUBLISHED)
    assert len(PUBLISHED) == 200
    assert wait_until(lambda: masked(published(root, "dialog")) == HIDDEN)


def test_a_control_byte_in_an_answer_refuses_it_whole(root, service, control_server,
                                                      linked_daemon):
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    switch_on(control_server)
    search_and_wait(control_server, root, '<set_ondemand cmd="search" title="a"/>',
                    song_file([song_json(1, 1, "Song 1")]))
    before = published(root, "song")
    # Neither a raw 0x01 nor a reference to it is XML.
    for title in ("bad\x01byte", "bad&#1;byte"):
        service.route("GET", "/items", body=items_answer([song_item(2, title=title)]))
        control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
        control_server.send('<set_ondemand cmd="search" title="b"/>')
        assert wait_until(lambda: '"type":"error"' in published(root, "dialog"))
        assert masked(published(root, "dialog")) == dialog_file("Error", "search", "error", True)
        assert published(root, "song") == before
    assert linked_daemon.alive()


def search_one_song(service, control_server, root):
    """Switches on and searches for one song; returns the song file's text."""
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    switch_on(control_server)
    first = song_file([song_json(1, 1, "Song 1")])
    search_and_wait(control_server, root, '<set_ondemand cmd="search" title="a"/>', first)
    return first


def test_a_server_error_shows_its_messages_and_keeps_both_lists(root, service, control_server,
                                                               linked_daemon):
    first = search_one_song(service, control_server, root)
    before = published(root, "song")

    service.route("GET", "/items", status=500,
                  body=error_answer("Temporary failure", "", 'Say "later" / soon'))
    control_server.send('<set_ondemand cmd="search" title="b"/>')
    assert wait_until(lambda: '"type":"error"' in published(root, "dialog"))
    assert masked(published(root, "dialog")) == dialog_file(
        "Error", 'server([500]: search)\\n[ Temporary failure ]\\n[ Say \\"later\\" \\/ soon ]',
        "error", True)
    assert published(root, "song") == before

    control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
    control_server.send('<set_ondemand cmd="getSongListOldSearch"/>')
    control_server.sync()
    assert masked(published(root, "dialog")) == CONFIRMED
    assert masked(published(root, "song")) == first


def test_only_a_search_without_genre_is_remembered(root, service, control_server, linked_daemon):
    switch_on(control_server)
    # Nothing remembered yet: going back empties the list.
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    search_and_wait(control_server, root, '<set_ondemand cmd="search" genre="4"/>',
                    song_file([song_json(1, 1, "Song 1")]))
    search_and_wait(control_server, root, '<set_ondemand cmd="getSongListOldSearch"/>',
                    song_file([]))

    service.route("GET", "/items", body=items_answer([song_item(2), song_item(3)]))
    plain = song_file([song_json(2, 2, "Song 2"), song_json(3, 3, "Song 3")])
    search_and_wait(control_server, root, '<set_ondemand cmd="search" title="p"/>', plain)
    # An empty genre still counts as a genre search.
    service.route("GET", "/items", body=items_answer([song_item(5)]))
    search_and_wait(control_server, root, '<set_ondemand cmd="search" title="q" genre=""/>',
                    song_file([song_json(5, 5, "Song 5")]))
    # An answer without items is a list too, and is published.
    service.route("GET", "/items", body=items_answer([]))
    search_and_wait(control_server, root, '<set_ondemand cmd="search" genre="9"/>',
                    song_file([]))
    search_and_wait(control_server, root, '<set_ondemand cmd="GETSONGLISTOLDSEARCH"/>', plain)
    assert len(service.requests) == 4


def test_while_off_a_search_sends_nothing_but_the_list_commands_work(root, service,
                                                                     control_server,
                                                                     linked_daemon):
    first = search_one_song(service, control_server, root)
    assert wait_until(lambda: masked(published(root, "dialog")) == HIDDEN)

    control_server.send('<set_ondemand status="off"/>')
    control_server.sync()
    assert masked(published(root, "song")) == song_file([])
    status_before = published(root, "status")
    control_server.send('<set_ondemand cmd="search" title="b"/>')
    control_server.sync()
    assert published(root, "status") != status_before
    assert '"status":"off"' in published(root, "status")
    assert masked(published(root, "dialog")) == CONFIRMED
    assert len(service.requests) == 1

    search_and_wait(control_server, root, '<set_ondemand cmd="getSongListOldSearch"/>', first)
    search_and_wait(control_server, root, '<set_ondemand cmd="clearSonglist"/>', song_file([]))


def test_a_search_that_cannot_be_sent_does_not_leave_the_user_waiting(root, service,
                                                                      control_server,
                                                                      linked_daemon):
    first = search_one_song(service, control_server, root)
    # The device's other software removed the token meanwhile.
    root.write("/usr/local/olc/api_token.txt", "")
    control_server.send('<set_ondemand cmd="search" title="b"/>')
    control_server.sync()
    assert masked(published(root, "dialog")) == dialog_file("Error", "search", "error", True)
    assert masked(published(root, "song")) == first
    assert len(service.requests) == 1
