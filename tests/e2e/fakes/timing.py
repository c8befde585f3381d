"""Time limits for waits, scaled for slow runs (OD_TEST_SCALE=10 under qemu)."""

import os
import threading
import time

SCALE = float(os.environ.get("OD_TEST_SCALE") or 1)

# How long an event may take before a wait gives up, before scaling.
DEFAULT_TIMEOUT = 5.0


def scaled(seconds):
    return seconds * SCALE


class Deadline:
    """A scaled time limit; remaining() is what is left of it, never negative."""

    def __init__(self, timeout):
        self.end = time.monotonic() + scaled(DEFAULT_TIMEOUT if timeout is None else timeout)

    def remaining(self):
        return max(0.0, self.end - time.monotonic())

    def passed(self):
        return time.monotonic() >= self.end


class Recorder:
    """State shared with a reader thread, with a condition to wait on changes."""

    def __init__(self):
        self.changed = threading.Condition()

    def notify(self):
        with self.changed:
            self.changed.notify_all()

    def wait_until(self, check, timeout=None):
        """Waits until check() returns something true and returns it; None when
        the scaled timeout passes first. check runs with the condition held."""
        deadline = Deadline(timeout)
        with self.changed:
            while True:
                result = check()
                if result or deadline.passed():
                    return result
                self.changed.wait(deadline.remaining())


def poll_until(check, timeout=None, interval=0.005):
    """For events that nothing signals (a file appearing, bytes leaving a socket
    queue): checks again every few milliseconds until true or timed out."""
    deadline = Deadline(timeout)
    while True:
        result = check()
        if result or deadline.passed():
            return result
        time.sleep(interval)
