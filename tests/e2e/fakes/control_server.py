"""The device's control server, simulated on a Unix-domain socket.

The daemon connects as a client, sends one element per write (each ending in
a line end) and takes each read as one whole element, so this fake writes one
element at a time and lets the daemon read it before writing the next."""

import fcntl
import os
import socket
import struct
import termios
import threading
import time

from .timing import Recorder, wait_until


class FakeControlServer(Recorder):
    def __init__(self, path, write_gap=0.05):
        super().__init__()
        self.path = path
        self.write_gap = write_gap
        self.raw = b""
        self.messages = []  # complete messages, each with its "\n"
        self.connections = 0
        self.peer_closed = False
        self._conn = None
        self._last_write = 0.0
        if os.path.lexists(path):
            os.unlink(path)
        self._listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._listener.bind(path)
        self._listener.listen(4)
        self._threads = [threading.Thread(target=self._accept_loop, daemon=True)]
        self._threads[0].start()

    # -- what the daemon did ------------------------------------------------

    @property
    def connected(self):
        return self.connections > 0

    def wait_connected(self, timeout=None):
        return bool(self.wait_until(lambda: self.connections > 0, timeout))

    def mark(self):
        """The number of messages so far, to look only at later ones."""
        with self.changed:
            return len(self.messages)

    def wait_for(self, match, timeout=None, after=0):
        """The first message from index `after` on that contains the text
        `match` (or for which the callable `match` is true). Fails the test
        with everything received when none arrives in time."""
        test = match if callable(match) else (lambda message: match in message)

        def found():
            return next((m for m in self.messages[after:] if test(m)), None)

        message = self.wait_until(found, timeout)
        assert message is not None, f"no message matching {match!r}; received {self.messages!r}"
        return message

    def wait_for_count(self, count, timeout=None):
        """The first `count` messages, once that many have arrived."""
        ok = self.wait_until(lambda: len(self.messages) >= count, timeout)
        assert ok, f"expected {count} messages, received {self.messages!r}"
        return self.messages[:count]

    def wait_peer_closed(self, timeout=None):
        return bool(self.wait_until(lambda: self.peer_closed, timeout))

    # -- what the control server does ---------------------------------------

    def send(self, element, timeout=None):
        """Writes one element (text or bytes) in one write and waits until the
        daemon has read it, keeping a short gap between writes."""
        assert self.wait_connected(timeout), "the daemon never connected"
        data = element.encode() if isinstance(element, str) else element
        gap = self.write_gap - (time.monotonic() - self._last_write)
        if gap > 0:
            time.sleep(gap)  # spacing between writes, not a synchronisation
        self._conn.sendall(data)
        self._last_write = time.monotonic()
        drained = wait_until(lambda: self._unread_bytes() == 0, timeout)
        assert drained, f"the daemon did not read {element!r}"

    def send_all(self, elements, timeout=None):
        for element in elements:
            self.send(element, timeout)

    def sync(self, timeout=None):
        """Returns once the daemon has finished handling everything sent
        before: it handles one read at a time, so when it has read an element
        that it ignores, it is done with the earlier ones."""
        self.send("<sync/>", timeout)

    def close(self):
        """Closes the connection to the daemon; the listener stays."""
        if self._conn is not None:
            try:
                self._conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self._conn.close()
            self._conn = None

    def stop(self):
        """Closes connection and listener and removes the socket file."""
        self.close()
        try:
            self._listener.shutdown(socket.SHUT_RDWR)  # wakes the accept loop
        except OSError:
            pass
        self._listener.close()
        for thread in self._threads:
            wait_until(lambda: not thread.is_alive(), timeout=2)
        if os.path.lexists(self.path):
            os.unlink(self.path)

    # -- inside ---------------------------------------------------------------

    def _unread_bytes(self):
        conn = self._conn
        if conn is None or self.peer_closed:
            return 0
        try:
            out = fcntl.ioctl(conn.fileno(), termios.TIOCOUTQ, struct.pack("i", 0))
        except OSError:
            return 0
        return struct.unpack("i", out)[0]

    def _accept_loop(self):
        while True:
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            with self.changed:
                self.connections += 1
                if self._conn is None:
                    self._conn = conn
                    reader = threading.Thread(target=self._read_loop, args=(conn,), daemon=True)
                    self._threads.append(reader)
                    reader.start()
                else:
                    conn.close()  # a second link is not part of the protocol
                self.changed.notify_all()

    def _read_loop(self, conn):
        pending = b""
        while True:
            try:
                data = conn.recv(4096)
            except OSError:
                data = b""
            with self.changed:
                if not data:
                    self.peer_closed = True
                    self.changed.notify_all()
                    return
                self.raw += data
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    self.messages.append((line + b"\n").decode("utf-8", "surrogateescape"))
                self.changed.notify_all()
