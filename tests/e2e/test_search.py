"""Searches through the control link: what is asked of the service, the wait
dialog, the song file as the web interface reads it, failed and refused
searches, and the remembered plain search."""

import random

import pytest

from conftest import SWITCHED_OFF, SWITCHED_ON, sent, store_tokens, switch_on
from fakes import scaled, wait_until
from fakes.answers import error_answer, items_answer, song_item
from fakes.published import (NO_DIALOG, WAIT_DIALOG, WAIT_HIDDEN, error_dialog, masked,
                             published, search_song, song_file, status_file,
                             wait_for_dialog, wait_for_file, wait_for_status)


@pytest.fixture
def switched_on(root, service, control_server, linked_daemon):
    """A linked daemon with tokens stored and the service switched on."""
    store_tokens(root)
    switch_on(control_server)
    return linked_daemon


def search_one_song(service, control_server, root):
    """Searches for one song; returns the song file's text."""
    service.route("GET", "/items", body=items_answer([song_item(1)]))
    control_server.send('<set_ondemand cmd="search" title="a"/>')
    return masked(wait_for_file(root, "song", song_file([search_song(1)])))


@pytest.mark.parametrize("fields, query", [
    # The command's name is matched without regard to case.
    ('cmd="Search" page="1" page_size="300" title="a b"', "page=1&page_size=300&title=a%20b"),
    ('cmd="search" genre="7"', "genre_id=7"),
    # Each field under the service's name; texts percent-encoded as UTF-8.
    ('cmd="search" title="caf&#233;&amp;co" artist="A+B" composer="C D" genre="2" page="3"',
     "page=3&title=caf%C3%A9%26co&artist_composer=A%2BB&composer=C%20D&genre_id=2"),
    # Empty fields are left out.
    ('cmd="search" page="" title="" genre=""', ""),
])
def test_a_search_asks_with_its_fields(service, control_server, switched_on, fields, query):
    service.route("GET", "/items", body=items_answer([]))
    control_server.send(f"<set_ondemand {fields}/>")
    request = service.wait_for_requests(1)[0]
    assert (request.path, request.raw_query) == ("/items", query)


# More results than the song file shows, in shuffled document order, with
# the cases the reader must get right placed at the front of the display order.
SPECIAL = [
    '<ITEM ID="-1" Display_Order="1" TITLE="Mixed Case" ARTIST="A" COMPOSER="C" '
    'PERFORMER="P" LENGTH="9" GENRE="G" ROLLFORM_TYPE="R" ONDEMAND_PLAY="false"/>',
    song_item("abc", display_order="2",
              title='He said &quot;hi&quot; &amp; left a/b\\c&#10;line&#13;&#9;caf\u00e9'),
    song_item(30, display_order="3", length=None),  # lacks a required attribute
    song_item(31, display_order="3", id=None),
    song_item(34, display_order="3", genre=None),
    song_item(32, display_order="4", ondemand_play=None),  # lacks only the optional one
    '<group>' + song_item(33, display_order="5") + '</group>',
    # The service escapes a slash as in JSON; any other backslash is text.
    song_item(35, display_order="6", title="to a\\/b and c:\\d"),
]
PLAIN = [song_item(n) for n in range(100, 350)]
ITEMS = SPECIAL + PLAIN
random.Random(7).shuffle(ITEMS)

PUBLISHED = [
    search_song("18446744073709551615", 1, "Mixed Case", "A", "C", "P", "9", "R", "false"),
    search_song(0, 2, 'He said \\"hi\\" & left a\\/b\\\\c\\nline\\r\\tcaf\u00e9'),
    search_song(32, 4, play=""),
    search_song(33, 5),
    search_song(35, 6, "to a\\/b and c:\\\\d"),
] + [search_song(n) for n in range(100, 295)]


def test_a_large_search_is_published_exactly_under_a_wait_dialog(root, service, control_server,
                                                                 switched_on):
    service.route("GET", "/items", body=items_answer(ITEMS), delay=scaled(0.5))
    control_server.send('<set_ondemand cmd="search" page="1" page_size="300" title="x"/>')
    service.wait_for_requests(1)
    # Both files are written at the end of the pass that started the request.
    wait_for_file(root, "dialog", WAIT_DIALOG)
    wait_for_file(root, "status", status_file("on", download=1))

    assert len(PUBLISHED) == 200
    wait_for_file(root, "song", song_file(PUBLISHED))
    wait_for_file(root, "dialog", WAIT_HIDDEN)


# A search that fails: the service's status and answer, and the message of
# the error dialog.
FAILURES = {
    # Each message of the service on a line of its own; an empty one is left out.
    "server-error": (500, error_answer("Temporary failure", "", 'Say "later" / soon'),
                     'server([500]: search)\\n[ Temporary failure ]\\n[ Say \\"later\\" \\/ soon ]'),
    # Neither a raw control byte nor a reference to one is XML: the answer
    # is refused whole.
    "control-byte": (200, items_answer([song_item(2, title="bad\x01byte")]), "search"),
    "control-byte-reference": (200, items_answer([song_item(2, title="bad&#1;byte")]), "search"),
    # Bytes after a NUL are part of the answer, which is then no document.
    "nul-and-junk": (200, items_answer([song_item(2)]) + "\0<junk", "search"),
    # Past 16 MiB the answer is dropped (its curl ended) and the lists stay.
    "too-long": (200, items_answer([song_item(n) for n in range(1, 90_001)]), "search"),
}


@pytest.mark.parametrize("code, answer, message", FAILURES.values(), ids=FAILURES.keys())
def test_a_failed_search_shows_why_and_keeps_both_lists(root, service, control_server,
                                                       switched_on, code, answer, message):
    first = search_one_song(service, control_server, root)
    before = published(root, "song")

    service.route("GET", "/items", status=code, body=answer)
    control_server.send('<set_ondemand cmd="search" title="b"/>')
    wait_for_file(root, "dialog", error_dialog(message))
    assert published(root, "song") == before  # not even rewritten

    control_server.send('<set_ondemand cmd="dlgConfirmed"/>')
    control_server.send('<set_ondemand cmd="getSongListOldSearch"/>')
    control_server.sync()
    assert masked(published(root, "dialog")) == NO_DIALOG
    assert masked(published(root, "song")) == first
    assert switched_on.alive()


def test_only_a_search_without_genre_is_remembered(root, service, control_server, switched_on):
    plain = [search_song(2), search_song(3)]
    steps = [
        # what is sent                     items the service answers     songs published
        ('cmd="search" genre="4"',            [song_item(1)],               [search_song(1)]),
        # Nothing remembered yet: going back empties the list.
        ('cmd="getSongListOldSearch"',        None,                         []),
        ('cmd="search" title="p"',            [song_item(2), song_item(3)], plain),
        # An empty genre still counts as a genre search.
        ('cmd="search" title="q" genre=""',   [song_item(5)],               [search_song(5)]),
        # An answer without items is a list too, and is published.
        ('cmd="search" genre="9"',            [],                           []),
        ('cmd="GETSONGLISTOLDSEARCH"',        None,                         plain),
    ]
    for fields, items, songs in steps:
        if items is not None:
            service.route("GET", "/items", body=items_answer(items))
        control_server.send(f"<set_ondemand {fields}/>")
        wait_for_file(root, "song", song_file(songs))
    assert len(service.requests) == 4


def test_while_off_a_search_sends_nothing_but_the_list_commands_work(root, service,
                                                                     control_server,
                                                                     switched_on):
    first = search_one_song(service, control_server, root)
    wait_for_file(root, "dialog", WAIT_HIDDEN)

    control_server.send('<set_ondemand status="off"/>')
    control_server.sync()
    assert masked(published(root, "song")) == song_file()
    status_before = published(root, "status")
    control_server.send('<set_ondemand cmd="search" title="b"/>')
    control_server.sync()
    # Only the status file is written again.
    assert published(root, "status") != status_before
    assert masked(published(root, "status")) == status_file("off")
    assert masked(published(root, "dialog")) == NO_DIALOG
    assert len(service.requests) == 1

    control_server.send('<set_ondemand cmd="getSongListOldSearch"/>')
    wait_for_file(root, "song", first)
    control_server.send('<set_ondemand cmd="clearSonglist"/>')
    wait_for_file(root, "song", song_file())


def test_a_search_that_cannot_be_sent_does_not_leave_the_user_waiting(root, service,
                                                                      control_server,
                                                                      switched_on):
    first = search_one_song(service, control_server, root)
    # The device's other software removed the token meanwhile.
    root.write("/usr/local/olc/api_token.txt", "")
    control_server.send('<set_ondemand cmd="search" title="b"/>')
    control_server.sync()
    assert masked(published(root, "dialog")) == error_dialog("search")
    assert masked(published(root, "song")) == first
    assert len(service.requests) == 1


def test_a_refusal_worded_by_the_service_switches_everything_off(root, service, control_server,
                                                                 switched_on):
    service.route("GET", "/items", status=403, body=error_answer("Not in this region"))
    root.write("/usr/local/ondemand/9/song.mid", b"MThd")
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    control_server.wait_for('<set_rcs mode="normal"/>')
    assert sent(control_server) == SWITCHED_ON + SWITCHED_OFF
    assert wait_until(lambda: not root.exists("/usr/local/ondemand"))
    shown = wait_for_dialog(root, type="error")
    assert shown["message"] == "server([403]: search)\n[ Not in this region ]"
    assert wait_for_status(root, status="off")
