#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/NAME/) from
what the end-to-end tests use: the fakes' service answers, the control
elements the tests send, and curl standard-error texts as curl writes them.
Run it again after the fakes change; files it did not write (inputs the
fuzzers found) are left alone."""

import hashlib
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.join(os.path.dirname(HERE), "e2e")
sys.path.insert(0, E2E)

from fakes.answers import FEATURES_OA, LOGIN_OK, error_answer, items_answer, song_item  # noqa: E402
from fakes.catalogue import (genre_entry, genres_answer, gratis_answer, preset_entry,  # noqa: E402
                             presets_answer, recommend_answer, recommend_entry)
from fakes.play import session_record  # noqa: E402
from fakes.playlists import playlist_entry, playlists_answer  # noqa: E402
from fakes.songs import downloadurls_answer  # noqa: E402

ERRORS = [error_answer("Forbidden"), error_answer("one", "two"), "", "<response/>",
          '<?xml version="1.0"?><response><error code="1001">expired</error></response>']
SONGS = [song_item(1), song_item(2, title="caf\u00e9 &amp; co"), song_item(3, genre=None)]


def control_messages():
    """Every literal control element the end-to-end tests and the demo send."""
    found = set()
    literal = re.compile("'(<[a-z_]+(?:[ /][^'\\n{}]*)?>)'" + '|"(<[a-z_]+(?:[ /][^"\\n{}]*)?>)"')
    for name in sorted(os.listdir(E2E)):
        if name.endswith(".py"):
            with open(os.path.join(E2E, name), encoding="utf-8") as f:
                found.update(m.group(1) or m.group(2) for m in literal.finditer(f.read()))
    return sorted(found)


CURL_STDERR = [
    "* Connected to 127.0.0.1 port 443\r\n> GET /items HTTP/1.1\r\n> Host: x\r\n>\r\n"
    "< HTTP/1.1 200 OK\r\n< Content-Type: text/xml\r\n<\r\n{ [512 bytes data]\r\n",
    "< HTTP/1.1 403 Forbidden\r\n",
    "< HTTP/1.0 500 Internal Server Error\r\n",
    "< HTTP/2 404\r\n",
    "* Operation timed out after 10001 milliseconds with 0 bytes received\n"
    "curl: (28) Operation timed out\n",
    "\r" + "#" * 20 + "  28.5%\r" + "#" * 50 + "  71.0%\r" + "#" * 72 + " 100.0%\n",
    "\r  0.0%\r##      3.2%",
    "curl: (6) Could not resolve host: nowhere\n",
]


# The handlers of each answer group, as many as answers.cpp gives it: an
# input's first byte chooses the handler (the byte modulo their number) and
# the status (the quotient, in the order of STATUSES there).
HANDLERS = {"search": 1, "playlists": 6, "presets": 3, "recommend": 3, "genres": 1,
            "downloadurl": 1, "login": 4}
SUCCESS, FAILURE, REFUSED, FORBIDDEN, NO_ANSWER = range(5)


def answer_inputs(group, answers):
    """Every answer and error text for every handler of the group, with a
    success and a failure status; the first error also with the refusals
    and with no answer."""
    count = HANDLERS[group]
    inputs = []
    for handler in range(count):
        for text in answers + ERRORS:
            inputs += [chr(handler + status * count) + text for status in (SUCCESS, FAILURE)]
        inputs += [chr(handler + status * count) + ERRORS[0]
                   for status in (REFUSED, FORBIDDEN, NO_ANSWER)]
    return inputs


def corpus():
    answers_of = {
        "search": [items_answer(SONGS), items_answer([])],
        "playlists": [playlists_answer([playlist_entry(1, "Mine", 0),
                                        playlist_entry(2, "Other", 1, modified_at=None)]),
                      items_answer(SONGS), "<response><playlist id=\"9\"/></response>"],
        "presets": [presets_answer([preset_entry(1, "Preset"), preset_entry(2, None)]),
                    gratis_answer([preset_entry(3, "Gratis")], SONGS)],
        "recommend": [recommend_answer([recommend_entry("Jazz", 4, SONGS),
                                        recommend_entry(None, 5)], before=SONGS[:1]),
                      items_answer(SONGS)],
        "genres": [genres_answer([genre_entry(1, "Jazz", 2), genre_entry(2, "Pop", 1)])],
        "downloadurl": [downloadurls_answer({"midi": "https://127.0.0.1/files/7/midi",
                                             "image": "https://127.0.0.1/files/7/image"}),
                        downloadurls_answer({"zip": "https:\\/\\/cdn\\/7.zip"}),
                        '<response><url type="midi">https:\\/\\/cdn\\/42.mid</url></response>'],
        "login": [LOGIN_OK, FEATURES_OA,
                  '<response><apis><api name="items" url="/items"/></apis></response>',
                  # a lifetime whose milliseconds overflow 64 bits
                  '<response><token expires="99999999999999999">abc</token>'
                  '<refreshtoken>r</refreshtoken></response>'],
    }
    sets = {f"answer_{group}": answer_inputs(group, answers)
            for group, answers in answers_of.items()}
    sets["control"] = control_messages()
    sets["curl_stderr"] = ["\x01" + text for text in CURL_STDERR] + ["\x10" + CURL_STDERR[0]]
    sets["json_escape"] = ["plain", 'quote " back \\ slash', "tab\tline\nend\x01\x1f\x7f",
                           "caf\u00e9 \u266b", "\udcff\udcfe broken"]
    sets["search_word"] = ["abc", "caf\u00e9&co", "a b+c/d?e=f", "\u266b\u266a", ""]
    sets["session_line"] = [session_record(77, "s-1", 12) + "\n",
                            '<sssn song_id="77" session_id=', "<set_ondemand status=\"on\"/>\n",
                            "\n" + session_record(1, "x", 0)]
    return sets


def main():
    for target, inputs in corpus().items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for text in inputs:
            data = text.encode("utf-8", "surrogateescape")
            name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
