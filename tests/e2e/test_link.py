"""The link to the control server: registration, one element per message,
malformed input, and a server that is missing or goes away."""

import os
import subprocess
import time

import pytest

from conftest import REGISTRATION, SWITCHED_OFF, SWITCHED_ON
from fakes import FakeControlServer, wait_until
from fakes.daemon import command, daemon_env, wrapper
from fakes.published import file_path

# A server that reconnects would do so well within this time.
NO_RECONNECT_WINDOW = 3.0


def messages_after_registration(server, count):
    return server.wait_for_count(len(REGISTRATION) + count)[len(REGISTRATION):]


def test_registration_is_the_first_thing_sent(control_server, linked_daemon):
    assert control_server.raw == "".join(REGISTRATION).encode()


def test_switching_on_prepares_controller_and_sequencer(control_server, linked_daemon):
    control_server.send('<set_ondemand status="on"/>')
    assert messages_after_registration(control_server, 4) == SWITCHED_ON


def test_element_and_values_are_matched_without_regard_to_case(control_server, linked_daemon):
    control_server.send('<SET_ONDEMAND status="ON"/>')
    control_server.send('<Rcs status="To_Standby"/>')
    assert messages_after_registration(control_server, 6) == SWITCHED_ON + SWITCHED_OFF


def test_standby_switches_off_only_a_running_service(root, control_server, linked_daemon):
    control_server.send_all([
        '<rcs status="to_standby"/>',   # already off: nothing
        '<set_ondemand status="on"/>',
        '<set_ondemand status="on"/>',  # already on: nothing
        '<rcs status="standby"/>',      # another status: nothing
    ])
    root.write("/usr/local/ondemand/7/song.mid", b"MThd")
    control_server.send('<rcs status="to_standby"/>')
    assert messages_after_registration(control_server, 6) == SWITCHED_ON + SWITCHED_OFF
    control_server.sync()
    # Switching off discards every download.
    assert not root.exists("/usr/local/ondemand")
    assert linked_daemon.alive()


SET_TIME = '<set_ondemand cmd="setTime" time="%d"/>'


@pytest.mark.parametrize("writes", [
    [SET_TIME % 1 + SET_TIME % 2],
    [SET_TIME % 1 + "\n" + SET_TIME % 2 + "\n" + SET_TIME % 3 + "\n"],
    [SET_TIME % 1 + '<set_ondemand cmd="se', 'tTime" time="2"/>\n'],
], ids=["two-in-one-write", "three-in-one-write", "split-over-two-writes"])
def test_every_element_of_a_write_is_handled_in_order(control_server, player, writes):
    mark = control_server.mark()
    for data in writes:
        control_server.send(data)
    count = "".join(writes).count("setTime")
    control_server.wait_for_count(mark + count)
    assert control_server.messages[mark:] == [
        f'<set_seq time="{n * 1000}" />\n' for n in range(1, count + 1)]
    assert player.stderr_count("xml_parse: error") == 0


@pytest.mark.parametrize("junk, errors", [
    (b"plain text", 1),
    (b'<set_ondemand status="on"', 1),
    (b'<set_ondemand status="on">', 1),
    (b"\x00\xff\xfe<\x01\x02>\x7f", 2),
    (b'\x00<set_ondemand status="on"/>', 1),
    (b"\n", 0),
    (b"   ", 0),
    (b"<?xml version='1.0'?>", 1),
    (b"<a>" + b"\xc3(" * 8 + b"</a>", 1),
], ids=["text", "unclosed-tag", "unclosed-element", "binary", "leading-nul", "newline",
        "blanks", "declaration-only", "bad-utf8"])
def test_a_malformed_message_is_dropped_with_one_error_line(control_server, linked_daemon, junk,
                                                            errors):
    # Text outside an element is dropped at once, an unfinished element once
    # its end has failed to come; white space between elements is no error.
    control_server.send(junk)
    if errors:
        linked_daemon.wait_for_stderr("xml_parse: error\n", count=errors)
    control_server.send('<set_ondemand status="on"/>')
    assert messages_after_registration(control_server, 4) == SWITCHED_ON
    assert linked_daemon.stderr_count("xml_parse: error") == errors
    assert linked_daemon.alive()


def test_an_oversized_message_does_no_harm(control_server, linked_daemon):
    control_server.send(b'<unknown pad="' + b"x" * 3000 + b'"/>')
    control_server.send(b"<" * 5000)
    control_server.send('<set_ondemand status="on"/>')
    assert messages_after_registration(control_server, 4) == SWITCHED_ON
    assert linked_daemon.alive()


def padded(element, size):
    head, tail = element.split(b"/>")
    return head + b' pad="' + b"x" * (size - len(head) - 9) + b'"/>'


def test_an_element_may_fill_the_frame_and_a_longer_one_is_dropped_whole(control_server,
                                                                          linked_daemon):
    exact = padded(b'<set_ondemand status="on"/>', 1023)
    assert len(exact) == 1023
    control_server.send(exact)
    assert messages_after_registration(control_server, 4) == SWITCHED_ON
    control_server.send(padded(b'<rcs status="to_standby"/>', 1024))
    linked_daemon.wait_for_stderr("xml_parse: error\n")
    control_server.sync()
    assert control_server.messages == REGISTRATION + SWITCHED_ON
    assert linked_daemon.stderr_count("xml_parse: error") == 1


def test_unknown_elements_and_commands_are_ignored(control_server, linked_daemon):
    control_server.send_all([
        "<hello/>",
        '<set_ondemand cmd="noSuchCommand"/>',
        '<set_ondemand cmd="play"/>',
        '<set_ondemand cmd="rmvFromPlaylist"/>',
        '<set_ondemand status="on"/>',
    ])
    assert messages_after_registration(control_server, 4) == SWITCHED_ON
    assert linked_daemon.stderr_count("xml_parse: error") == 0


def assert_no_reconnect_and_idle(root, daemon):
    """A new listener at the same path gets no connection, and the daemon
    spends no CPU time waiting without a link."""
    listener = FakeControlServer(root.socket_path)
    try:
        ticks = daemon.settled_ticks()
        assert not listener.wait_connected(timeout=NO_RECONNECT_WINDOW)
        assert daemon.cpu_ticks() - ticks <= 2
        assert daemon.alive()
    finally:
        listener.stop()


def test_a_missing_control_server_leaves_the_daemon_running_unlinked(root, start_daemon):
    daemon = start_daemon()
    # The status file is written after the link was tried.
    assert wait_until(lambda: root.exists(file_path("status")))
    assert_no_reconnect_and_idle(root, daemon)


def test_a_closed_link_is_not_reopened(root, control_server, linked_daemon):
    control_server.close()
    # Neither at once nor a little later, on the listener that is still there
    assert not control_server.wait_until(lambda: control_server.connections > 1,
                                         timeout=NO_RECONNECT_WINDOW)
    control_server.stop()
    # nor on a new one at the same path.
    assert_no_reconnect_and_idle(root, linked_daemon)


@pytest.mark.skipif(wrapper()[:1] == ["valgrind"],
                    reason="valgrind's own scheduler uses CPU while the daemon sleeps")
def test_an_idle_daemon_uses_no_cpu(linked_daemon):
    ticks = linked_daemon.settled_ticks()
    time.sleep(10)  # the measuring window itself, not a wait for an event
    assert linked_daemon.cpu_ticks() - ticks <= 2


def test_a_vanished_reader_of_the_debug_log_does_not_end_the_daemon(root, control_server):
    read_end, write_end = os.pipe()
    os.close(read_end)  # every line of the debug log now meets a closed pipe
    try:
        proc = subprocess.Popen(command("-d"), env=daemon_env(root),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=write_end)
    finally:
        os.close(write_end)
    try:
        assert control_server.wait_for_count(2) == REGISTRATION
        control_server.send("not xml")  # one more line for the log
        control_server.send('<set_ondemand status="on"/>')
        assert messages_after_registration(control_server, 4) == SWITCHED_ON
        assert proc.poll() is None
    finally:
        proc.kill()
        proc.wait()
