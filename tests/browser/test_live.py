"""The live simulator (scripts/demo --live) in headless Chromium, driven as a
person would: switch on, search, queue two songs, play, watch the first
song's position move and the second load after the first ends, make the
service fail and see the error dialog. Each check compares what the page
shows with the JSON file the daemon published, read from the simulator's
root. Screenshots go to ONDEMAND_SCREENSHOTS (default build/browser/)."""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading

import pytest
from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

from fakes import scaled  # noqa: E402
from fakes.timing import Recorder  # noqa: E402
from fakes.published import file_path  # noqa: E402

SHOTS = os.environ.get("ONDEMAND_SCREENSHOTS") or os.path.join(REPO, "build", "browser")
# Simulated seconds per real second: the first two songs (97 s and 134 s)
# last three and four seconds.
SPEED = 30
CHROMIUM_OPTIONS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--window-size=1500,1000"]


class Live:
    """scripts/demo --live on a free port: its page address and its root."""

    def __init__(self):
        self.proc = subprocess.Popen([os.path.join(REPO, "scripts", "demo"), "--live", "--port",
                                      "0", "--speed", str(SPEED)],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.output = Recorder()
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()
        # The first run may build the daemon.
        assert self.output.wait_until(lambda: self._said("page:") or self.proc.poll() is not None,
                                      timeout=600) and self._said("page:"), self.text()
        self.url, self.root = self._said("page:"), self._said("root:")

    def _read(self):
        for line in self.proc.stdout:
            with self.output.changed:
                self.lines.append(line)
                self.output.changed.notify_all()

    def _said(self, label):
        return next((line.split(None, 1)[1].strip() for line in self.lines
                     if line.startswith(label)), None)

    def text(self):
        return "".join(self.lines)

    def published(self, name):
        with open(os.path.join(self.root, file_path(name).lstrip("/"))) as f:
            return json.load(f)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=scaled(30))
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return self.proc.wait()


@pytest.fixture(scope="module")
def live():
    sim = Live()
    yield sim
    assert sim.stop() == 0, sim.text()
    assert not os.path.exists(sim.root), "the simulator left its root"


@pytest.fixture(scope="module")
def page(live):
    profile = tempfile.mkdtemp(prefix="od-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for option in CHROMIUM_OPTIONS + [f"--user-data-dir={profile}"]:
        options.add_argument(option)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.get(live.url)
    yield driver
    driver.quit()
    subprocess.run(["rm", "-rf", profile], check=False)


def wait(driver, check, what, timeout=30):
    """Waits for check() to give something true (a page that changes under
    a lookup is looked at again); fails with `what`."""
    def attempt(_):
        try:
            return check()
        except (StaleElementReferenceException, KeyError, FileNotFoundError, ValueError):
            return False

    try:
        return WebDriverWait(driver, scaled(timeout), poll_frequency=0.1).until(attempt)
    except WebDriverException as error:
        raise AssertionError(f"waited in vain for {what}") from error


def by_id(driver, id_):
    return driver.find_element(By.ID, id_)


def listed_ids(driver, list_id):
    return [li.get_attribute("data-song-id")
            for li in driver.find_elements(By.CSS_SELECTOR, f"#{list_id} > li")]


def shows_file(driver, live, list_id, name, key="songs"):
    """The page's list holds the songs of the file, in its order."""
    ids = [song["id"] for song in live.published(name)[key]]
    return listed_ids(driver, list_id) == ids and ids


def dialog_matches(driver, live, kind):
    """The file shows a dialog of that type and the page shows the same."""
    info = live.published("dialog")["dialog"]
    box = by_id(driver, "dialog")
    return (info["isShow"] and info["type"] == kind and box.is_displayed()
            and box.get_attribute("data-type") == kind
            and by_id(driver, "dialog-message").text == info["message"].strip())


def click_song_button(driver, list_id, song_id, action):
    driver.find_element(
        By.CSS_SELECTOR, f'#{list_id} li[data-song-id="{song_id}"] button[data-action="{action}"]'
    ).click()


def playing_song(driver, live):
    """The song the play manager file, the page and the sequencer agree is
    the one being played."""
    song = live.published("playmanager")["playmanager"]["playSong"]["id"]
    shown = by_id(driver, "pm").get_attribute("data-song-id")
    loaded = by_id(driver, "sequencer").get_attribute("data-song-id")
    return song if song != "0" and song == shown == loaded else None


def position(driver):
    return int(by_id(driver, "position").get_attribute("data-ms"))


def test_a_person_switches_on_searches_queues_plays_and_meets_a_failing_service(live, page):
    os.makedirs(SHOTS, exist_ok=True)
    d = page
    wait(d, lambda: by_id(d, "status-value").text == live.published("status")["status"] == "off",
         "the page to show the service off")

    by_id(d, "switch-on").click()
    wait(d, lambda: by_id(d, "status-value").text == live.published("status")["status"] == "on",
         "the page to show the service on")
    wait(d, lambda: [o.text for o in Select(by_id(d, "search-genre")).options][1:]
         == [g["name"] for g in live.published("status")["genres"]] != [],
         "the genres of the status file in the search form")
    wait(d, lambda: not live.published("dialog")["dialog"]["isShow"]
         and not by_id(d, "dialog").is_displayed(), "the connecting dialog to close")
    wait(d, lambda: [e.get_attribute("data-playlist-id") for e in
                     d.find_elements(By.CSS_SELECTOR, "#playlists .playlist")]
         == [p["id"] for p in live.published("playlist")["playlists"]],
         "the user's playlists")

    by_id(d, "search-title").send_keys("e")
    by_id(d, "search-button").click()
    found = wait(d, lambda: shows_file(d, live, "songs", "song"), "the search results")
    first, second = found[:2]

    by_id(d, "speed").clear()
    by_id(d, "speed").send_keys(str(SPEED), "\n")
    click_song_button(d, "songs", first, "queue")
    click_song_button(d, "songs", second, "queue")

    # The queue starts with the first song: the sequencer gets its load
    # message and the play manager file names it.
    wait(d, lambda: playing_song(d, live) == first, f"song {first} to be loaded")
    assert f"/usr/local/ondemand/{first}/" in by_id(d, "seq-load").text
    wait(d, lambda: by_id(d, "pm-title").text
         == live.published("playmanager")["playmanager"]["playSong"]["title"],
         "the play manager's song title")
    if by_id(d, "sequencer").get_attribute("data-state") != "playing":
        by_id(d, "play").click()
    wait(d, lambda: by_id(d, "sequencer").get_attribute("data-state") == "playing",
         "the sequencer to play")
    start = position(d)
    wait(d, lambda: position(d) > start and playing_song(d, live) == first,
         "the first song's position to move")
    wait(d, lambda: listed_ids(d, "queue")
         == [s["id"] for s in live.published("queuelist")["songs"]], "the queue as its file")
    d.save_screenshot(os.path.join(SHOTS, "live.png"))

    # It ends; the second song, which the queue file held, is loaded.
    wait(d, lambda: playing_song(d, live) == second, f"song {second} to be loaded after {first}")
    wait(d, lambda: listed_ids(d, "queue")
         == [s["id"] for s in live.published("queuelist")["songs"]], "the queue as its file")
    wait(d, lambda: by_id(d, "sequencer").get_attribute("data-state") == "playing"
         and position(d) > 0, "the second song to play")

    # The service fails: the next search ends in the error dialog.
    Select(by_id(d, "failure")).select_by_value("500")
    by_id(d, "search-button").click()
    wait(d, lambda: dialog_matches(d, live, "error"), "the error dialog")
    assert re.search(r"server\(\[500\]: search\)", by_id(d, "dialog-message").text)
    d.save_screenshot(os.path.join(SHOTS, "error.png"))

    by_id(d, "dialog-ok").click()
    wait(d, lambda: live.published("dialog")["dialog"]["confirmed"]
         and not by_id(d, "dialog").is_displayed(), "the dialog confirmed and closed")
    Select(by_id(d, "failure")).select_by_value("")
