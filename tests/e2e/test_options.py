"""The command line: one-shot options end the process, anything else starts
the daemon."""

import pytest

from conftest import REGISTRATION

DOC = '<a b="1"><c>t</c></a>'

DUMP = (
    "***********************\n"
    "name     : a\n"
    "contents : \n"
    "attr     : b = 1\n"
    "  ***********************\n"
    "  name     : c\n"
    "  contents : t\n"
)


def plant_downloads(root):
    root.write("/usr/local/ondemand/42/song.mid", b"MThd")


@pytest.mark.parametrize("args", [("-v",), ("-d", "-v"), ("-v", "-d"), ("-v", "-x", DOC)])
def test_version_is_printed_alone_and_ends_the_process(ondemand, args):
    done = ondemand(*args)
    assert (done.returncode, done.stdout, done.stderr) == (0, b"ondemand v1.0.2\n", b"")


@pytest.mark.parametrize("args", [("-v",), ("-x", DOC), ("-d", "-x", DOC), ("-d", "-t")])
def test_one_shot_options_leave_the_device_alone(root, control_server, ondemand, args):
    plant_downloads(root)
    done = ondemand(*args)  # -t meets end of input at once
    assert done.returncode == 0
    assert root.read_bytes("/usr/local/ondemand/42/song.mid") == b"MThd"
    assert root.listdir("/usr/local/www/ctrl") == []
    assert not control_server.connected


def test_xml_dump_needs_debugging_switched_on_before(ondemand):
    for args in (("-x", DOC), ("-x", DOC, "-d"), ("-x", "not xml", "-d")):
        done = ondemand(*args)
        assert (done.returncode, done.stdout, done.stderr) == (0, b"", b""), args


def test_debug_xml_dump_shows_the_tree(ondemand):
    done = ondemand("-d", "-x", DOC)
    assert (done.returncode, done.stdout) == (0, b"")
    assert done.stderr.decode() == DUMP


def test_debug_xml_dump_of_broken_text_reports_one_error(ondemand):
    for text in ("not xml", "<a><b></a>", ""):
        done = ondemand("-d", "-x", text)
        assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"xml_parse: error\n"), text


def test_xml_option_without_text_ends_cleanly(ondemand):
    done = ondemand("-d", "-x")
    assert (done.returncode, done.stdout) == (0, b"")


def test_unknown_option_starts_the_daemon_without_the_debug_log(control_server, start_daemon):
    daemon = start_daemon("-q")
    assert control_server.wait_for_count(2) == REGISTRATION
    daemon.wait_for_stderr("registered with the control server")
    assert daemon.alive()
    # Only the operator's log, every line with its priority.
    assert all(line.startswith("<6>") for line in daemon.stderr_text().splitlines())


def test_debug_log_opens_with_the_version(linked_daemon):
    linked_daemon.wait_for_stderr("** ondemand v1.0.2\n")
    assert linked_daemon.stderr_text().startswith("** ondemand v1.0.2\n")
