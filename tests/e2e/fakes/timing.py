"""Time limits for waits, scaled for slow runs (OD_TEST_SCALE=10 under qemu).

Every wait for an event, in the tests and in the fakes, goes through
wait_until(), so every wait has the same scaled limit."""

import contextlib
import os
import threading
import time

SCALE = float(os.environ.get("OD_TEST_SCALE") or 1)

# How long an event may take before a wait gives up, before scaling.
DEFAULT_TIMEOUT = 5.0

# How often a wait without a condition looks again.
POLL_INTERVAL = 0.005


def scaled(seconds):
    return seconds * SCALE


def wait_until(check, timeout=None, condition=None):
    """Waits until check() returns something true and returns it; once the
    scaled timeout (DEFAULT_TIMEOUT when None) has passed, returns what the
    last check returned.

    With `condition`, a threading.Condition notified on every change, check
    runs with it held and the wait sleeps until the next notification.
    Without one, check runs again every few milliseconds: for events that
    nothing signals, such as a file appearing or a process ending."""
    end = time.monotonic() + scaled(DEFAULT_TIMEOUT if timeout is None else timeout)
    with condition if condition is not None else contextlib.nullcontext():
        while True:
            result = check()
            left = end - time.monotonic()
            if result or left <= 0:
                return result
            if condition is not None:
                condition.wait(left)
            else:
                time.sleep(min(POLL_INTERVAL, left))


class Recorder:
    """State shared with a reader thread, with a condition to wait on changes."""

    def __init__(self):
        self.changed = threading.Condition()

    def wait_until(self, check, timeout=None):
        """wait_until() on this recorder's changes; check runs with the
        condition held."""
        return wait_until(check, timeout, self.changed)
