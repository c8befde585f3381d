"""A fresh device tree under /tmp, the daemon's ONDEMAND_ROOT."""

import os
import shutil
import tempfile


class DeviceRoot:
    """The directories and settings files the daemon expects on the device.

    Paths given to the helpers are the device's absolute paths
    ("/usr/local/olc/api_token.txt"); they are taken below the root."""

    def __init__(self, region="Japan", version="ver:3.10.002", hostname="od-test-device"):
        # Short, because $ROOT/tmp/rcs_socket must fit a 108-byte socket address.
        self.path = tempfile.mkdtemp(prefix="od-", dir="/tmp")
        for directory in ("/tmp", "/tmp/olc", "/usr/bin", "/usr/local/bin", "/usr/local/olc",
                          "/usr/local/www/ctrl", "/usr/local/etc", "/usr/local/session", "/etc"):
            os.makedirs(self.at(directory), exist_ok=True)
        # The daemon starts its helper programs by absolute path below the root.
        os.symlink("/usr/bin/curl", self.at("/usr/bin/curl"))
        os.symlink("/usr/bin/unzip", self.at("/usr/local/bin/unzip"))
        self.write("/usr/local/etc/destination.conf", region)
        self.write("/usr/local/etc/vellichord.conf", version)
        self.write("/etc/hostname", hostname + "\n")

    @property
    def socket_path(self):
        return self.at("/tmp/rcs_socket")

    @property
    def ctrl_dir(self):
        return self.at("/usr/local/www/ctrl")

    def at(self, device_path):
        return os.path.join(self.path, device_path.lstrip("/"))

    def write(self, device_path, content, mode=None):
        """Writes text or bytes exactly as given (no line end added)."""
        full = self.at(device_path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        data = content.encode() if isinstance(content, str) else content
        with open(full, "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(full, mode)
        return full

    def read(self, device_path):
        with open(self.at(device_path), encoding="utf-8", errors="surrogateescape") as f:
            return f.read()

    def read_bytes(self, device_path):
        with open(self.at(device_path), "rb") as f:
            return f.read()

    def exists(self, device_path):
        return os.path.lexists(self.at(device_path))

    def listdir(self, device_path):
        return sorted(os.listdir(self.at(device_path)))

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)
