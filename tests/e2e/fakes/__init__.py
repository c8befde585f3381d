"""Fakes of the daemon's peers and a runner for the daemon itself, shared by
the end-to-end tests and the demo."""

from .control_server import FakeControlServer
from .daemon import Daemon, ondemand_binary, run_ondemand
from .music_service import FakeMusicService, Request, Route
from .root import DeviceRoot
from .timing import SCALE, scaled, wait_until
from . import answers

__all__ = ["Daemon", "DeviceRoot", "FakeControlServer", "FakeMusicService", "Request", "Route",
           "SCALE", "ondemand_binary", "run_ondemand", "scaled", "wait_until"]
