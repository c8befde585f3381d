"""Fixtures of the end-to-end tests: a device root, the control server and the
music service simulated, and the real daemon started under the root."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fakes import Daemon, DeviceRoot, FakeControlServer, FakeMusicService, run_ondemand  # noqa: E402
from fakes.answers import FEATURES_OA, LOGIN_OK  # noqa: E402
from fakes.published import JsonWatch  # noqa: E402

REGISTRATION = ['<set_rc name="ondemand" />\n', '<get_network_ifsetting/>\n']
# What the daemon tells the control server and the sequencer when the
# service goes on, and off.
SWITCHED_ON = [
    '<ondemand status="on"/>\n',
    '<set_rcs mode="ondemandNoSong"/>\n',
    '<set_seq status="pause" />\n',
    '<set_seq time="0" />\n',
]
SWITCHED_OFF = ['<ondemand status="off"/>\n', '<set_rcs mode="normal"/>\n']


def store_tokens(root):
    root.write("/usr/local/olc/api_token.txt", "access-0")
    root.write("/usr/local/olc/api_refresh_token.txt", "refresh-0")


def sent(server, mark=len(REGISTRATION)):
    """What the daemon sent after its registration (or after `mark` messages)."""
    return server.messages[mark:]


def switch_on(control_server):
    control_server.send('<set_ondemand status="on"/>')
    control_server.wait_for('<set_seq time="0" />')


@pytest.fixture
def root():
    """A fresh device tree; removed after the test."""
    device = DeviceRoot()
    yield device
    device.remove()


@pytest.fixture
def control_server(root):
    """Listens on $ROOT/tmp/rcs_socket before any daemon starts."""
    server = FakeControlServer(root.socket_path)
    yield server
    server.stop()


@pytest.fixture
def music_service():
    """The HTTPS service on 127.0.0.1; the test sets routes and, when the daemon
    is to reach it, calls music_service.write_base_url(root)."""
    service = FakeMusicService()
    yield service
    service.close()


@pytest.fixture
def service(root, music_service):
    """The music service named in the root's base-URL file, answering the
    account features, login and refresh."""
    music_service.write_base_url(root)
    music_service.route("GET", "/user/account/features", body=FEATURES_OA)
    music_service.route("POST", "/auth/login", body=LOGIN_OK)
    music_service.route("POST", "/auth/refresh", body=LOGIN_OK)
    return music_service


@pytest.fixture
def start_daemon(root):
    """start_daemon(*args, stdin_pipe=False) -> Daemon. Arguments default to
    "-d"; every daemon started is stopped at the end of the test."""
    started = []

    def start(*args, stdin_pipe=False):
        daemon = Daemon(root, args or ("-d",), stdin_pipe=stdin_pipe)
        started.append(daemon)
        return daemon

    yield start
    # SIGTERM ends the daemon in order, with status 0: a daemon that does not,
    # or one whose run under valgrind found errors, fails its test.
    statuses = {daemon.pid: daemon.stop() for daemon in started}
    assert all(status in (0, None) for status in statuses.values()), (
        f"daemon exit statuses after SIGTERM: {statuses}")


@pytest.fixture
def linked_daemon(control_server, start_daemon):
    """A daemon with debugging on that has connected and registered."""
    daemon = start_daemon("-d")
    assert control_server.wait_for_count(2) == REGISTRATION
    return daemon


@pytest.fixture
def player(root, service, control_server, linked_daemon):
    """A linked daemon with tokens stored, switched on with the start-up
    chain at rest (as after its last step), so a loaded song is started."""
    store_tokens(root)
    # Each element is still read on its own: send() waits until the daemon
    # has read it. The short gap keeps the many sequencer reports quick.
    control_server.write_gap = 0.01
    for element, answer in (('<set_ondemand status="on"/>', '<set_seq time="0" />'),
                            ('<rcs status="to_standby"/>', '<set_rcs mode="normal"/>'),
                            ('<set_ondemand status="on"/>', '<set_seq time="0" />')):
        mark = control_server.mark()
        control_server.send(element)
        control_server.wait_for(answer, after=mark)
    return linked_daemon


@pytest.fixture
def whole_files(root):
    """Every published file is valid JSON whenever it is read during the test."""
    watch = JsonWatch(root)
    yield watch
    watch.stop()
    assert watch.bad == []
    assert watch.reads > 0


@pytest.fixture
def ondemand(root):
    """ondemand(*args, stdin=b"", timeout=10) -> CompletedProcess: a one-shot
    run to its end under the root."""
    return lambda *args, **kwargs: run_ondemand(root, *args, **kwargs)
