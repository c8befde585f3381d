"""Playing songs as the end-to-end tests do it: the searches and queue
batches that give the daemon songs to play, the control server in the
sequencer's part (the load message, then "load", "stop" and "play"), and
waits for the daemon to have handled everything it was sent."""

import xml.etree.ElementTree as ET

from .answers import items_answer, song_item
from .published import wait_for_file
from .timing import wait_until

LOAD = '<set_seq status="load"'
PLAY = '<set_seq status="play"/>\n'
HOLD = '<set_seq status="pause"/>\n'  # a loaded song that is to stay paused


def song_dir(root, song_id):
    return root.at(f"/usr/local/ondemand/{song_id}")

def search(service, control_server, root, ids, **changes):
    """Fills the song list with songs of these ids."""
    service.route("GET", "/items", body=items_answer([song_item(n, **changes) for n in ids]))
    control_server.send('<set_ondemand cmd="search" title="x"/>')
    wait_for_file(root, "song", lambda text: text.count('"id":') == min(len(ids), 200))

def queue_batch(control_server, ids, cmd="addQueueBtm", field="songId"):
    control_server.send_all([f'<set_ondemand cmd="{cmd}" {field}="{value}"/>'
                             for value in ["start", *ids, "end"]])

def wait_load(control_server, after, timeout=10):
    """The next load message from `after` on: (its text, its attributes as
    an XML reader reads them). Fails when it is no well-formed element."""
    message = control_server.wait_for(lambda m: m.startswith(LOAD), after=after, timeout=timeout)
    element = ET.fromstring(message)
    assert element.tag == "set_seq"
    return message, element.attrib

def start_loaded_song(control_server, then="play"):
    """The sequencer reports the loaded song ready; the daemon answers play
    (or pause); with then="play" the sequencer starts it."""
    mark = control_server.mark()
    control_server.send_all(['<seq status="load"/>', '<seq status="stop"/>'])
    answer = control_server.wait_for(lambda m: m in (PLAY, HOLD), after=mark)
    if then == "play" and answer == PLAY:
        control_server.send('<seq status="play" time="0"/>')
    control_server.sync()
    return answer

def requests_to(service, path, count=1):
    """The requests to `path`, once there are `count` of them."""
    assert service.wait_until(lambda: sum(r.path == path for r in service.requests) >= count), (
        f"fewer than {count} requests to {path}: {[r.path for r in service.requests]}")
    return [r for r in service.requests if r.path == path]

def children(daemon):
    with open(f"/proc/{daemon.pid}/task/{daemon.pid}/children") as f:
        return f.read().split()

def settled(service, daemon, control_server):
    """Everything sent before has been handled, every request it started
    (also those that waited their turn) has been answered, and its curl
    has ended and been reaped with its answer handled. The daemon handles
    one element at a time, so once it has read a sync element it is done
    with the earlier ones and with the ends it had reaped."""
    def quiet():
        return not children(daemon) and all(r.finished is not None for r in service.requests)

    control_server.sync()
    while True:
        assert wait_until(quiet, timeout=10), (
            f"children left: {children(daemon)}; "
            f"unanswered: {[r.path for r in service.requests if r.finished is None]}")
        control_server.sync()
        if quiet():
            return


# -- the play-session file ---------------------------------------------------------

SESSION_FILE = "/usr/local/session/sssn"


def session_record(song_id, session_id, sec):
    """The session file: one element, no line end."""
    return f'<sssn song_id="{song_id}" session_id="{session_id}" sec="{sec}" />'


def saved(root):
    return root.read(SESSION_FILE) if root.exists(SESSION_FILE) else None


def wait_saved(root, expected):
    assert wait_until(lambda: saved(root) == expected), f"session file: {saved(root)!r}"
