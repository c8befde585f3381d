"""The music service fake, checked against the real curl: later tests rely on
what it records."""

import subprocess
import time

from fakes import scaled


def curl(*args):
    return subprocess.run(["curl", "--insecure", "--silent", "--http1.1", *args],
                          capture_output=True, timeout=scaled(20))


def test_requests_are_recorded_as_sent(root, music_service):
    music_service.route("POST", "/auth/login", 200, "<r><token>t1</token></r>",
                        headers=[("X-Extra", "1")])
    done = curl("--verbose", "--request", "POST", music_service.base_url + "/auth/login?a=1&b=x%20y",
                "--header", "X-Vqat-Did: ABC", "--header", "token: tk",
                "--data-urlencode", "username=a b&c", "--data-urlencode", "password=p")
    assert done.stdout == b"<r><token>t1</token></r>"
    assert b"< HTTP/1.1 200" in done.stderr  # the daemon reads the status from here
    (request,) = music_service.wait_for_requests(1)
    assert (request.method, request.path, request.raw_query) == ("POST", "/auth/login", "a=1&b=x%20y")
    assert request.query == {"a": ["1"], "b": ["x y"]}
    names = [name for name, _ in request.headers]
    assert names.index("X-Vqat-Did") < names.index("token")
    assert request.header("TOKEN") == "tk"
    assert request.form_pairs == [("username", "a b&c"), ("password", "p")]
    assert request.body == b"username=a+b%26c&password=p"
    assert music_service.wait_all_finished()

    music_service.write_base_url(root)
    assert root.read("/usr/local/olc/ondemand_base_url") == music_service.base_url


def test_unknown_routes_get_404_and_delayed_answers_overlap(music_service):
    assert curl("--output", "/dev/null", "--write-out", "%{http_code}",
                music_service.base_url + "/nothing").stdout == b"404"
    music_service.route("GET", "/slow", 200, "ok", delay=1.0)
    started = time.monotonic()
    clients = [subprocess.Popen(["curl", "-sk", music_service.base_url + "/slow"],
                                stdout=subprocess.PIPE) for _ in range(3)]
    assert [c.communicate(timeout=scaled(20))[0] for c in clients] == [b"ok"] * 3
    assert time.monotonic() - started < 2.5  # answered side by side, not one after another
    # The client can read its answer before the server thread notes the finish.
    assert music_service.wait_all_finished()
    assert music_service.max_in_flight() == 3
    slow = music_service.requests[1:]
    assert all(r.finished - r.arrived >= 1.0 for r in slow)


def test_files_arrive_byte_for_byte_and_a_cut_transfer_fails_in_curl(music_service, tmp_path):
    data = bytes(range(256)) * 40
    music_service.route("GET", "/whole", body=data)
    music_service.route("GET", "/cut", body=data, cut=1000)
    whole, cut = tmp_path / "whole", tmp_path / "cut"
    assert curl("--output", str(whole), music_service.base_url + "/whole").returncode == 0
    assert whole.read_bytes() == data
    # The length announced is never reached: curl says so and keeps the part.
    done = curl("--output", str(cut), music_service.base_url + "/cut")
    assert done.returncode == 18  # partial file
    assert cut.read_bytes() == data[:1000]
