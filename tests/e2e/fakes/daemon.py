"""Runs the real ondemand binary under a device root."""

import os
import re
import shlex
import signal
import subprocess
import threading
import time

from .timing import Recorder, scaled, wait_until

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def ondemand_binary():
    """$ONDEMAND_BIN, or the daemon of the repository's build/ folder."""
    return os.environ.get("ONDEMAND_BIN") or os.path.join(REPO, "build", "ondemand")


def wrapper():
    """$ONDEMAND_WRAPPER split into words: a program the daemon runs under
    (valgrind with its options, or qemu-arm for the ARM build); empty when unset."""
    return shlex.split(os.environ.get("ONDEMAND_WRAPPER", ""))


def command(*args):
    return [*wrapper(), ondemand_binary(), *args]


def daemon_env(root):
    env = dict(os.environ)
    env["ONDEMAND_ROOT"] = root.path
    return env


def run_ondemand(root, *args, stdin=b"", timeout=10):
    """Runs a one-shot invocation (-v, -x ...) to its end; returns the
    CompletedProcess with stdout and stderr as bytes."""
    return subprocess.run(command(*args), env=daemon_env(root), input=stdin,
                          capture_output=True, timeout=scaled(timeout))


class Daemon(Recorder):
    """A running ondemand process. Standard error is read by a thread into
    memory and into `stderr_path`, so tests can wait for a line to appear."""

    def __init__(self, root, args=("-d",), stdin_pipe=False):
        super().__init__()
        self.root = root
        self.args = list(args)
        self._stderr = b""
        self._stderr_ended = False  # the reader has met the end of the pipe
        self.proc = subprocess.Popen(
            command(*self.args), env=daemon_env(root),
            stdin=subprocess.PIPE if stdin_pipe else subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.pid = self.proc.pid
        # Beside the device tree, not in it, and removed with it.
        self.stderr_path = os.path.join(root.path, f"ondemand-{self.pid}.stderr")
        self._log = open(self.stderr_path, "wb")
        self._reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._reader.start()

    # -- standard error -------------------------------------------------------

    def stderr_text(self):
        """What the process wrote so far; once it has ended, all it wrote (the
        reader thread may still hold the last bytes when the exit is seen)."""
        if not self.alive():
            self._drain_stderr()
        with self.changed:
            return self._stderr.decode("utf-8", "surrogateescape")

    def stderr_count(self, text):
        return self.stderr_text().count(text)

    def wait_for_stderr(self, pattern, timeout=None, count=1):
        """Waits until standard error holds `pattern` (a text, or a compiled
        regular expression) `count` times; returns the last match's text."""
        def found():
            text = self._stderr.decode("utf-8", "surrogateescape")
            if isinstance(pattern, re.Pattern):
                matches = [m.group(0) for m in pattern.finditer(text)]
            else:
                matches = [pattern] * text.count(pattern)
            return matches[count - 1] if len(matches) >= count else None

        match = self.wait_until(found, timeout)
        assert match is not None, (
            f"{pattern!r} did not appear {count} time(s) on standard error:\n{self.stderr_text()}")
        return match

    # -- the process ------------------------------------------------------------

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=None):
        """The exit status, once the process has ended and its standard error
        has been read to the end; fails the test when it outlives the wait."""
        ended = wait_until(lambda: not self.alive(), timeout)
        assert ended, f"ondemand {' '.join(self.args)} did not end"
        self._drain_stderr()
        return self.proc.returncode

    def cpu_ticks(self):
        """User plus system time used so far, in clock ticks (/proc/PID/stat)."""
        with open(f"/proc/{self.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        # fields[0] is the state (field 3); utime and stime are fields 14 and 15.
        return int(fields[11]) + int(fields[12])

    def settled_ticks(self, timeout=30.0):
        """The CPU ticks once the daemon has finished what it was doing (its
        ticks unchanged for half a second): under an emulator, the first run
        of each code path costs time after the event that started it."""
        deadline = time.monotonic() + timeout
        ticks = self.cpu_ticks()
        while time.monotonic() < deadline:
            time.sleep(0.5)
            now = self.cpu_ticks()
            if now == ticks:
                return now
            ticks = now
        return ticks

    def write_stdin(self, text):
        data = text.encode() if isinstance(text, str) else text
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def close_stdin(self):
        self.proc.stdin.close()

    def terminate(self, signo=signal.SIGTERM):
        """Asks the process to end; its exit status, once it has ended
        (None when it outlived the wait and was killed)."""
        self.proc.send_signal(signo)
        if not wait_until(lambda: not self.alive()):
            self.proc.kill()
            self.proc.wait()
            return None
        return self.proc.returncode

    def stop(self):
        """Ends the process with SIGTERM and reaps it. The exit status, or
        None when it had already ended before (the test saw to that)."""
        status = self.terminate() if self.alive() else None
        if self.proc.stdin:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
        self._drain_stderr(must=False)
        with self.changed:
            self._log.close()
        return status

    # -- inside -----------------------------------------------------------------

    def _drain_stderr(self, must=True):
        """Waits for the reader thread to reach the end of standard error,
        which comes once the process and everything that shares the pipe have
        ended; with `must`, a pipe still open then fails the test."""
        drained = self.wait_until(lambda: self._stderr_ended)
        if drained:
            self._reader.join()
        assert drained or not must, "standard error stayed open after the process ended"

    def _read_stderr(self):
        stream = self.proc.stderr
        while True:
            chunk = os.read(stream.fileno(), 4096)
            with self.changed:
                if not chunk:
                    self._stderr_ended = True
                    self.changed.notify_all()
                    return
                self._stderr += chunk
                if not self._log.closed:  # a reader outliving stop() keeps memory only
                    self._log.write(chunk)
                    self._log.flush()
                self.changed.notify_all()
