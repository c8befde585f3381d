"""Runs the answer-pipeline benchmark and measures the real daemon with the
end-to-end fakes, then prints one table, ratios first.

    bench/run.py BUILD_DIR [--quick] [--armhf-binary PATH]

BUILD_DIR holds a Release build with the benchmark (scripts/bench makes it).
--quick runs every measurement briefly, so the benchmark cannot rot; its
figures are not the ones to quote."""

import argparse
import ctypes
import json
import os
import select
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from fakes import Daemon, DeviceRoot, FakeControlServer, FakeMusicService, wait_until  # noqa: E402
from fakes.answers import FEATURES_OA, LOGIN_OK, items_answer, song_item  # noqa: E402
from fakes.catalogue import gratis_answer, preset_entry  # noqa: E402
from fakes.published import wait_for_file  # noqa: E402
from fakes.play import queue_batch, settled, start_loaded_song, wait_load  # noqa: E402
from fakes.songs import archive, midi_file, serve_song  # noqa: E402

SIZES = (100, 1000, 10000, 50000)
REGISTRATION = 2  # messages the daemon sends once it has connected
IN_MOVED_TO = 0x80


# -- the pipeline benchmark ---------------------------------------------------

def pipeline(build, quick):
    """{(benchmark, items): median CPU seconds per run}."""
    args = [os.path.join(build, "bench", "od_bench_pipeline"), "--benchmark_format=json",
            "--benchmark_enable_random_interleaving=true"]
    if quick:
        args += ["--benchmark_min_time=0.01", "--benchmark_repetitions=1"]
    else:
        args += ["--benchmark_min_time=0.5", "--benchmark_repetitions=7",
                 "--benchmark_report_aggregates_only=true"]
    report = json.loads(subprocess.run(args, check=True, capture_output=True, text=True).stdout)
    times = {}
    for run in report["benchmarks"]:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        name, items = run["run_name"].split("/")
        times[(name, int(items))] = run["cpu_time"] * 1e-9  # reported in ns
    return times


# -- the real daemon ------------------------------------------------------------

def proc_status(pid, field):
    """A figure of /proc/PID/status in bytes (VmRSS, VmHWM)."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def cpu_seconds(pid):
    """CPU time the process has used, from the scheduler's own count."""
    with open(f"/proc/{pid}/schedstat") as f:
        return int(f.read().split()[0]) * 1e-9


def reset_peak(pid):
    with open(f"/proc/{pid}/clear_refs", "w") as f:
        f.write("5")


class Inotify:
    """Renames into one directory, as the web interface could watch them."""

    def __init__(self, directory):
        self.libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_CLOEXEC)
        self.libc.inotify_add_watch(self.fd, directory.encode(), IN_MOVED_TO)

    def wait_for(self, name, timeout=5.0):
        """Blocks until `name` is renamed into the directory; its time."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], end - time.monotonic())
            if not ready:
                break
            now = time.perf_counter()
            data = os.read(self.fd, 65536)
            offset = 0
            while offset < len(data):
                _, _, _, length = struct.unpack_from("iIII", data, offset)
                found = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode()
                offset += 16 + length
                if found == name:
                    return now
        raise TimeoutError(f"{name} was not renamed into place")

    def count(self):
        """The renames since the last count, reading what is queued."""
        renames = 0
        while select.select([self.fd], [], [], 0)[0]:
            data = os.read(self.fd, 65536)
            offset = 0
            while offset < len(data):
                length = struct.unpack_from("iIII", data, offset)[3]
                offset += 16 + length
                renames += 1
        return renames

    def close(self):
        os.close(self.fd)


class Device:
    """A device root, its control server and the music service, with the
    daemon started under them, logged in and switched on."""

    def __init__(self, binary):
        os.environ["ONDEMAND_BIN"] = binary
        self.root = DeviceRoot()
        self.service = FakeMusicService()
        self.service.write_base_url(self.root)
        self.service.route("GET", "/user/account/features", body=FEATURES_OA)
        self.service.route("POST", "/auth/login", body=LOGIN_OK)
        self.service.route("POST", "/auth/refresh", body=LOGIN_OK)
        self.root.write("/usr/local/olc/api_token.txt", "access-0")
        self.root.write("/usr/local/olc/api_refresh_token.txt", "refresh-0")
        self.control = FakeControlServer(self.root.socket_path, write_gap=0)
        started = time.perf_counter()
        self.daemon = Daemon(self.root, [])
        self.control.wait_for_count(REGISTRATION)
        self.startup = time.perf_counter() - started
        self.control.send('<set_ondemand status="on"/>')
        self.control.wait_for('<set_seq time="0" />')

    def search(self, items):
        self.service.route("GET", "/items", body=items_answer([song_item(n) for n in items]))
        self.control.send('<set_ondemand cmd="search" title="x"/>')
        wait_for_file(self.root, "song",
                      lambda text: text.count('"id":') == min(len(items), 200), timeout=60)
        # The song file is written while the answer is handled; once the
        # daemon has read the next element it is back in its loop, done with
        # the answer and the memory it took.
        wait_until(lambda: not children(self.daemon.pid), timeout=10)
        self.control.sync()

    def close(self):
        self.daemon.stop()
        self.control.stop()
        self.service.close()
        self.root.remove()


def children(pid):
    with open(f"/proc/{pid}/task/{pid}/children") as f:
        return f.read().split()


def startup_times(binary, runs):
    times = []
    for _ in range(runs):
        device = Device(binary)
        times.append(device.startup)
        device.close()
    return statistics.median(times)


def queue_latency(device, commands):
    """Median and 99th percentile, in seconds, from a queue move written to
    the socket to its queue file renamed into place, on a 100-entry queue."""
    device.search(range(1, 101))
    device.control.send_all([f'<set_ondemand cmd="addQueueBtm" songId="{n}"/>'
                             for n in range(1, 101)] + ['<set_ondemand cmd="queueList"/>'])
    wait_for_file(device.root, "queuelist", lambda text: text.count('"uid"') == 100)
    device.control.sync()
    watch = Inotify(device.root.ctrl_dir)
    latencies = []
    try:
        for _ in range(commands):
            started = time.perf_counter()
            device.control._conn.sendall(b'<set_ondemand cmd="sortQueue" beforeIndex="0" '
                                         b'afterIndex="1"/>')
            latencies.append(watch.wait_for("ondemand_queuelist.json") - started)
    finally:
        watch.close()
    latencies.sort()
    return statistics.median(latencies), latencies[int(len(latencies) * 0.99) - 1]


UNZIP_PAUSE = 3  # seconds the stand-in unzip sleeps before it unpacks


def latency_while_unpacking(device, commands):
    """99th percentile, in seconds, from a queue move written to the socket
    to its queue file renamed into place, taken while the play song's
    archive unpacks: a stand-in unzip lists as the real one, then sleeps
    UNZIP_PAUSE seconds before unpacking. Also the number of moves timed."""
    sleeping = device.root.at("/unzip-sleeping")
    os.remove(device.root.at("/usr/local/bin/unzip"))
    device.root.write("/usr/local/bin/unzip",
                      '#!/bin/sh\ncase "$1" in -l) exec /usr/bin/unzip "$@";; esac\n'
                      f'touch "{sleeping}"\nsleep {UNZIP_PAUSE}\nrm -f "{sleeping}"\n'
                      'exec /usr/bin/unzip "$@"\n', mode=0o755)
    serve_song(device.service, 1, {"zip": archive([("Song.mid", midi_file(8))])})
    serve_song(device.service, 2, {"midi": midi_file(2)})
    device.search(range(1, 101))
    device.control.send_all([f'<set_ondemand cmd="addQueueBtm" songId="{n}"/>'
                             for n in ["start", *range(1, 101), "end"]])
    wait_until(lambda: os.path.exists(sleeping), timeout=30)
    watch = Inotify(device.root.ctrl_dir)
    latencies = []
    try:
        while len(latencies) < commands and os.path.exists(sleeping):
            started = time.perf_counter()
            device.control._conn.sendall(b'<set_ondemand cmd="sortQueue" beforeIndex="50" '
                                         b'afterIndex="51"/>')
            latencies.append(watch.wait_for("ondemand_queuelist.json") - started)
    finally:
        watch.close()
    latencies.sort()
    return latencies[max(int(len(latencies) * 0.99) - 1, 0)], len(latencies)


QUEUE_SONGS = 12


def files_per_song(device):
    """JSON files renamed into place per song, playing QUEUE_SONGS songs
    through the queue: from the queue batch to the last song started with
    every request it caused answered."""
    ids = range(1001, 1001 + QUEUE_SONGS)
    for song_id in ids:
        serve_song(device.service, song_id, {"midi": midi_file(song_id % 7 + 1)})
    # At rest after the start-up chain, as the player of the tests: a loaded
    # song is started.
    for element, answer in (('<rcs status="to_standby"/>', '<set_rcs mode="normal"/>'),
                            ('<set_ondemand status="on"/>', '<set_seq time="0" />')):
        mark = device.control.mark()
        device.control.send(element)
        device.control.wait_for(answer, after=mark)
    device.search(ids)
    watch = Inotify(device.root.ctrl_dir)
    try:
        mark = device.control.mark()
        queue_batch(device.control, ids)
        for number in range(QUEUE_SONGS):
            if number:
                mark = device.control.mark()
                device.control.send('<seq status="nosong"/>')
            wait_load(device.control, mark, timeout=30)
            start_loaded_song(device.control)
        settled(device.service, device.daemon, device.control)
        return watch.count() / QUEUE_SONGS
    finally:
        watch.close()


def search_footprint(device, items):
    """CPU seconds, peak RSS above idle and RSS after, for one search. Idle
    is the daemon after a small search, so the code a search runs is
    already mapped and counts in neither figure."""
    pid = device.daemon.pid
    device.search(range(1, 101))
    idle = proc_status(pid, "VmRSS")
    reset_peak(pid)
    cpu = cpu_seconds(pid)
    device.search(range(1, items + 1))
    cpu = cpu_seconds(pid) - cpu
    peak = proc_status(pid, "VmHWM") - idle
    after = proc_status(pid, "VmRSS") - idle
    answer = len(items_answer([song_item(n) for n in range(1, items + 1)]).encode())
    return cpu, peak, after, answer


# The largest list answer the bounds allow: 64 gratis playlists sharing
# 1,000 songs whose every text is at the 512-byte bound, of a character the
# file doubles ("/" is published as "\/").
LARGEST_TEXT = "/" * 512
LARGEST_PLAYLISTS = 64
LARGEST_SONGS = 1000


def largest_item(number):
    return song_item(number, **{key: LARGEST_TEXT for key in (
        "title", "artist", "composer", "performer", "length", "genre", "rollform_type",
        "ondemand_play")})


def largest_list_footprint(device):
    """Peak RSS above idle, the answer's size and the largest published
    file, for the largest gratis answer."""
    pid = device.daemon.pid
    answer = gratis_answer([preset_entry(100 + n, LARGEST_TEXT) for n in range(LARGEST_PLAYLISTS)],
                           [largest_item(n) for n in range(1, LARGEST_SONGS + 1)])
    device.service.route("GET", "/cms/playlist/gratis", body=answer)
    idle = proc_status(pid, "VmRSS")
    reset_peak(pid)
    device.control.send('<set_ondemand cmd="ondemandStart" pfix="d" id="4"/>')
    last = f'"id":"{100 + LARGEST_PLAYLISTS - 1}"'
    wait_for_file(device.root, "presetPlaylist", lambda text: last in text, timeout=60)
    wait_until(lambda: not children(pid), timeout=10)
    device.control.sync()
    peak = proc_status(pid, "VmHWM") - idle
    ctrl = device.root.ctrl_dir
    largest = max(os.path.getsize(os.path.join(ctrl, name)) for name in os.listdir(ctrl))
    return peak, len(answer.encode()), largest


def idle_cpu(device, seconds):
    pid = device.daemon.pid
    cpu = cpu_seconds(pid)
    time.sleep(seconds)
    return cpu_seconds(pid) - cpu


# -- the table --------------------------------------------------------------------

def mib(n):
    return f"{n / 2**20:.2f} MiB"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--armhf-binary")
    options = parser.parse_args()
    quick = options.quick
    binary = os.path.join(options.build, "ondemand")

    times = pipeline(options.build, quick)
    ratio = {n: times[("search_pipeline", n)] / times[("raw_parse", n)] for n in SIZES}
    growth = times[("search_pipeline", 10000)] / times[("search_pipeline", 1000)]

    device = Device(binary)
    try:
        cpu, peak, after, answer = search_footprint(device, 10000)
        median, p99 = queue_latency(device, 50 if quick else 1000)
        idle = idle_cpu(device, 2 if quick else 30)
        list_peak, list_answer, list_file = largest_list_footprint(device)
    finally:
        device.close()
    device = Device(binary)
    try:
        per_song = files_per_song(device)
    finally:
        device.close()
    device = Device(binary)
    try:
        unpack_p99, unpack_moves = latency_while_unpacking(device, 20 if quick else 1000)
    finally:
        device.close()
    startup = startup_times(binary, 3 if quick else 20)

    rows = [("pipeline / raw parse, 100 items", f"{ratio[100]:.2f}", "<= 3"),
            ("pipeline / raw parse, 1,000 items", f"{ratio[1000]:.2f}", ""),
            ("pipeline / raw parse, 10,000 items", f"{ratio[10000]:.2f}", "<= 2"),
            ("pipeline / raw parse, 50,000 items", f"{ratio[50000]:.2f}", "<= 2"),
            ("pipeline growth, 1,000 -> 10,000 items", f"{growth:.1f}x", "~10x (linear)"),
            ("peak RSS above idle / answer, 10,000 items", f"{peak / answer:.2f}",
             f"<= {(2 * 2**20 + 3 * answer) / answer:.2f} (2 MiB + 3x)")]
    for n in SIZES:
        rows.append((f"raw parse / pipeline, {n:,} items",
                     f"{times[('raw_parse', n)] * 1e3:.3f} / "
                     f"{times[('search_pipeline', n)] * 1e3:.3f} ms", ""))
    rows += [("daemon CPU, 10,000-item search", f"{cpu * 1e3:.1f} ms", ""),
             ("answer size, 10,000 items", mib(answer), ""),
             ("peak RSS above idle, 10,000-item search", mib(peak), mib(2 * 2**20 + 3 * answer)),
             ("RSS after it, above idle", mib(after), "<= 2.00 MiB"),
             (f"largest list answer ({LARGEST_PLAYLISTS} gratis playlists x {LARGEST_SONGS:,} "
              "songs, texts at 512 B)", mib(list_answer), ""),
             ("peak RSS above idle, that answer", mib(list_peak), ""),
             ("largest published file after it", mib(list_file), "<= 2.00 MiB (< 8 MiB)"),
             (f"JSON files written per song played through the queue ({QUEUE_SONGS} songs)",
              f"{per_song:.1f}", ""),
             ("queue move to renamed file, median", f"{median * 1e3:.3f} ms", ""),
             ("queue move to renamed file, 99th percentile", f"{p99 * 1e3:.3f} ms", ""),
             (f"idle CPU over {2 if quick else 30} s", f"{idle * 1e3:.1f} ms", "0"),
             (f"control element handled while a song unpacks ({UNZIP_PAUSE} s stand-in "
              f"unzip), p99 of {unpack_moves}", f"{unpack_p99 * 1e3:.3f} ms", "< 5 ms"),
             ("start-up to registration, median", f"{startup * 1e3:.1f} ms", "~5 ms")]
    if options.armhf_binary:
        rows.append(("stripped armhf Release binary (dynamic)",
                     f"{os.path.getsize(options.armhf_binary) / 1024:.0f} KiB", ""))
    else:
        rows.append(("stripped armhf Release binary (dynamic)", "not built in quick mode", ""))

    width = max(len(row[0]) for row in rows)
    print(f"{'measure':<{width}}  {'figure':<22}  target")
    for name, figure, target in rows:
        print(f"{name:<{width}}  {figure:<22}  {target}")


if __name__ == "__main__":
    main()
