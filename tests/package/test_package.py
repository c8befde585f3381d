"""The Debian packages of scripts/package: what each holds, that its Depends
covers what the daemon is linked with, that lintian finds nothing to report,
that systemd accepts the unit, and that the init script starts and stops the
packaged daemon under a test root.

The packages are taken from ONDEMAND_PACKAGES (default: build-pkg/)."""

import glob
import gzip
import os
import re
import shutil
import signal
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

from fakes import DeviceRoot, FakeControlServer, wait_until  # noqa: E402

PACKAGES = os.environ.get("ONDEMAND_PACKAGES") or os.path.join(REPO, "build-pkg")
ARCHES = ("amd64", "armhf")
REGISTRATION = ['<set_rc name="ondemand" />\n', '<get_network_ifsetting/>\n']

# Every file of the package, with its mode.
FILES = {
    "usr/sbin/ondemand": 0o755,
    "lib/systemd/system/ondemand.service": 0o644,
    "etc/init.d/ondemand": 0o755,
    "etc/default/ondemand": 0o644,
    "usr/share/man/man8/ondemand.8.gz": 0o644,
    "usr/share/doc/ondemand/copyright": 0o644,
    "usr/share/doc/ondemand/changelog.gz": 0o644,
}
# The Debian 12 package of each library the daemon may be linked with.
LIBRARY_PACKAGES = {
    "libexpat.so.1": "libexpat1",
    "libcrypto.so.3": "libssl3",
    "libuuid.so.1": "libuuid1",
    "libstdc++.so.6": "libstdc++6",
    "libgcc_s.so.1": "libgcc-s1",
    "libc.so.6": "libc6",
    "libm.so.6": "libc6",
}
ELF = {
    "amd64": {"Class": "ELF64", "Machine": "Advanced Micro Devices X86-64",
              "interpreter": "/lib64/ld-linux-x86-64.so.2"},
    "armhf": {"Class": "ELF32", "Machine": "ARM", "interpreter": "/lib/ld-linux-armhf.so.3"},
}


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=60, **kwargs)


def package_path(arch):
    found = glob.glob(os.path.join(PACKAGES, f"ondemand_*_{arch}.deb"))
    assert len(found) == 1, f"expected one {arch} package in {PACKAGES}, found {found}"
    return found[0]


class Extracted:
    """A package unpacked with dpkg-deb: its files below `tree`, its control
    files below `control`."""

    def __init__(self, deb, where):
        self.deb = deb
        self.tree = os.path.join(where, "tree")
        self.control = os.path.join(where, "DEBIAN")
        os.makedirs(where, exist_ok=True)
        for option, target in (("-x", self.tree), ("-e", self.control)):
            result = run("dpkg-deb", option, deb, target)
            assert result.returncode == 0, result.stderr

    def field(self, name):
        return run("dpkg-deb", "--field", self.deb, name).stdout.strip()

    def binary(self):
        return os.path.join(self.tree, "usr/sbin/ondemand")


@pytest.fixture(scope="module", params=ARCHES)
def package(request, tmp_path_factory):
    arch = request.param
    return arch, Extracted(package_path(arch), str(tmp_path_factory.mktemp(arch)))


def printed_version(arch, binary):
    if arch == "armhf":
        command = ["qemu-arm", "-L", "/usr/arm-linux-gnueabihf", binary, "-v"]
    else:
        command = [binary, "-v"]
    result = run(*command)
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_files_modes_and_owner(package):
    arch, pkg = package
    found = {}
    for directory, _, names in os.walk(pkg.tree):
        for name in names:
            path = os.path.join(directory, name)
            found[os.path.relpath(path, pkg.tree)] = os.lstat(path).st_mode & 0o7777
    assert found == FILES
    listing = run("dpkg-deb", "--contents", pkg.deb).stdout.splitlines()
    assert listing and all(line.split()[1] == "root/root" for line in listing), listing


def test_control_fields(package):
    arch, pkg = package
    assert pkg.field("Package") == "ondemand"
    assert pkg.field("Architecture") == arch
    # The version is the daemon's own, without the "v".
    assert printed_version(arch, pkg.binary()) == f"ondemand v{pkg.field('Version')}\n"
    assert os.path.basename(pkg.deb) == f"ondemand_{pkg.field('Version')}_{arch}.deb"
    with open(os.path.join(pkg.control, "conffiles")) as f:
        assert f.read().split() == ["/etc/default/ondemand", "/etc/init.d/ondemand"]
    for script in ("postinst", "prerm", "postrm"):
        path = os.path.join(pkg.control, script)
        assert os.access(path, os.X_OK), script
        assert run("sh", "-n", path).returncode == 0, script


def test_binary_is_stripped_dynamic_and_for_its_architecture(package):
    arch, pkg = package
    header = run("readelf", "-h", pkg.binary()).stdout
    for key in ("Class", "Machine"):
        assert re.search(rf"^\s*{key}:\s*{re.escape(ELF[arch][key])}\s*$", header, re.M), header
    if arch == "armhf":
        assert "hard-float ABI" in header
    program = run("readelf", "-l", pkg.binary()).stdout
    assert f"[Requesting program interpreter: {ELF[arch]['interpreter']}]" in program
    sections = run("readelf", "-S", "-W", pkg.binary()).stdout
    assert ".symtab" not in sections and ".debug_info" not in sections


def test_depends_covers_every_library_and_program(package):
    _, pkg = package
    dynamic = run("readelf", "-d", pkg.binary()).stdout
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
    for library in ("libexpat.so.1", "libcrypto.so.3", "libuuid.so.1"):
        assert library in needed
    depends = {re.split(r"[\s(]", item.strip())[0] for item in pkg.field("Depends").split(",")}
    unknown = [library for library in needed if library not in LIBRARY_PACKAGES]
    assert not unknown, f"no package known for {unknown}"
    assert {LIBRARY_PACKAGES[library] for library in needed} | {"curl", "unzip"} <= depends


def test_lintian_reports_nothing(package):
    """No error and no warning, and no tag overridden: the informational
    tags are shown when the test fails, but do not fail it."""
    _, pkg = package
    result = run("lintian", "--info", "--display-info", "--fail-on", "error,warning",
                 "--tag-display-limit", "0", pkg.deb)
    assert result.returncode == 0, result.stdout + result.stderr
    assert not re.search(r"^[EW]: ", result.stdout, re.M), result.stdout
    assert not os.path.exists(os.path.join(pkg.tree, "usr/share/lintian/overrides"))


def test_changelog_names_the_version_and_the_maintainer(package):
    _, pkg = package
    with gzip.open(os.path.join(pkg.tree, "usr/share/doc/ondemand/changelog.gz"), "rt") as f:
        first, *rest = f.read().splitlines()
    assert first.startswith(f"ondemand ({pkg.field('Version')}) ")
    assert rest[-1].startswith(f" -- {pkg.field('Maintainer')}  ")


def test_systemd_accepts_the_unit(tmp_path):
    pkg = Extracted(package_path("amd64"), str(tmp_path / "pkg"))
    # The packaged tree as the root, with this machine's own units for the
    # targets the unit names; ExecStart must name the packaged daemon, and the
    # manual page of Documentation= be the packaged one (looked up by man(1)
    # of this machine, which does not read --root).
    root = tmp_path / "root"
    shutil.copytree(pkg.tree, root, symlinks=True)
    shutil.copytree("/lib/systemd/system", root / "usr/lib/systemd/system", symlinks=True)
    result = run("systemd-analyze", "verify", f"--root={root}", "ondemand.service",
                 env=dict(os.environ, MANPATH=str(root / "usr/share/man")))
    assert (result.returncode, result.stderr) == (0, "")


# -- the init script under a test root --------------------------------------


class Service:
    """The packaged daemon unpacked into a device tree and run by its init
    script with ONDEMAND_ROOT set to that tree."""

    def __init__(self, deb):
        self.root = DeviceRoot()
        result = run("dpkg-deb", "-x", deb, self.root.path)
        assert result.returncode == 0, result.stderr
        self.script = self.root.at("/etc/init.d/ondemand")
        self.pidfile = self.root.at("/run/ondemand.pid")
        self.env = dict(os.environ, ONDEMAND_ROOT=self.root.path)

    def init(self, action):
        return run(self.script, action, env=self.env, stdin=subprocess.DEVNULL)

    def pid(self):
        with open(self.pidfile) as f:
            return int(f.read())

    def is_daemon(self, pid):
        """The packaged daemon runs as `pid` (not start-stop-daemon before
        its exec)."""
        try:
            return os.readlink(f"/proc/{pid}/exe") == self.root.at("/usr/sbin/ondemand")
        except OSError:
            return False

    def wait_started(self):
        """The pid of the daemon, once the pid file names it."""
        return wait_until(lambda: os.path.exists(self.pidfile) and self.is_daemon(self.pid())
                          and self.pid())

    @staticmethod
    def wait_gone(pid):
        """True once no process of the daemon's name has `pid`, reaped
        zombies included (start-stop-daemon counts an unreaped one as running)."""

        def gone():
            try:
                with open(f"/proc/{pid}/stat") as f:
                    return "(ondemand)" not in f.read()
            except OSError:
                return True

        return wait_until(gone)

    def stop_all(self):
        if os.path.exists(self.pidfile):
            self.init("stop")
        self.root.remove()


@pytest.fixture
def service():
    svc = Service(package_path("amd64"))
    yield svc
    svc.stop_all()


@pytest.fixture
def control_server(service):
    server = FakeControlServer(service.root.socket_path)
    yield server
    server.stop()


def test_start_status_restart_stop(service, control_server):
    assert run("sh", "-n", service.script).returncode == 0

    assert service.init("start").returncode == 0
    assert control_server.wait_for_count(2) == REGISTRATION
    first = service.wait_started()
    assert first
    status = service.init("status")
    assert (status.returncode, status.stdout) == (0, "ondemand is running\n")

    # Starting a running service leaves it as it is.
    assert service.init("start").returncode == 0
    assert service.pid() == first and control_server.connections == 1

    assert service.init("restart").returncode == 0
    assert service.wait_gone(first)
    second = service.wait_started()
    assert second and second != first
    assert control_server.wait_until(lambda: control_server.connections == 2)

    assert service.init("stop").returncode == 0
    assert service.wait_gone(second)
    assert not os.path.exists(service.pidfile)
    assert service.init("status").returncode == 3
    # Stopping a stopped service is not an error.
    assert service.init("stop").returncode == 0


def test_dead_daemon_is_reported_and_started_again(service, control_server):
    assert service.init("start").returncode == 0
    dead = service.wait_started()
    os.kill(dead, signal.SIGKILL)
    assert service.wait_gone(dead)
    status = service.init("status")
    assert status.returncode == 1 and "pid file" in status.stdout

    assert service.init("start").returncode == 0
    assert service.wait_started() not in (None, False, dead)


def test_settings_file_options_and_log(service, control_server):
    log = service.root.at("/var/log/ondemand.log")
    service.root.write("/etc/default/ondemand", f'ONDEMAND_OPTS="-d"\nONDEMAND_LOG="{log}"\n')
    assert service.init("start").returncode == 0
    control_server.wait_for_count(2)
    # -d reached the daemon: its debug log, start-up line first, is in the file.
    assert wait_until(lambda: os.path.exists(log) and open(log).read().startswith("** ondemand v"))


def test_daemon_whose_executable_went_is_still_stopped(service, control_server):
    assert service.init("frobnicate").returncode == 3
    assert service.init("start").returncode == 0
    running = service.wait_started()
    # As after a removal or an upgrade: the running daemon's file is gone.
    os.unlink(service.root.at("/usr/sbin/ondemand"))
    assert service.init("status").returncode == 0
    assert service.init("stop").returncode == 0
    assert service.wait_gone(running)
    result = service.init("start")
    assert result.returncode == 5 and "missing" in result.stderr


# -- the maintainer scripts -------------------------------------------------


@pytest.fixture
def maintainer(tmp_path):
    """Runs a maintainer script of the amd64 package with DPKG_ROOT set to a
    scratch root and the service tools replaced by stubs that note their
    arguments."""
    pkg = Extracted(package_path("amd64"), str(tmp_path / "pkg"))
    root = tmp_path / "root"
    root.mkdir()
    stubs = tmp_path / "stubs"
    stubs.mkdir()
    calls = tmp_path / "calls"
    for tool in ("deb-systemd-helper", "update-rc.d", "invoke-rc.d", "systemctl"):
        stub = stubs / tool
        stub.write_text(f'#!/bin/sh\necho "{tool} $*" >>"{calls}"\n')
        stub.chmod(0o755)

    def call(script, *args):
        env = dict(os.environ, DPKG_ROOT=str(root), PATH=f"{stubs}:{os.environ['PATH']}")
        result = run(os.path.join(pkg.control, script), *args, env=env)
        assert result.returncode == 0, result.stderr
        noted = calls.read_text().splitlines() if calls.exists() else []
        calls.unlink(missing_ok=True)
        return noted

    return root, call


def test_install_links_unzip_and_starts_the_service(maintainer):
    root, call = maintainer
    unzip = root / "usr/local/bin/unzip"
    noted = call("postinst", "configure", "")
    assert os.readlink(unzip) == "/usr/bin/unzip"
    assert (root / "usr/local/www/ctrl").is_dir()
    assert "update-rc.d ondemand defaults" in noted
    assert noted[-1] == "invoke-rc.d ondemand start"

    assert "invoke-rc.d ondemand stop" in call("prerm", "remove")
    call("postrm", "remove")
    assert not os.path.lexists(unzip)
    assert "update-rc.d ondemand remove" in call("postrm", "purge")


def test_the_devices_own_unzip_is_kept(maintainer):
    root, call = maintainer
    unzip = root / "usr/local/bin/unzip"
    unzip.parent.mkdir(parents=True)
    unzip.write_text("#!/bin/sh\n")
    call("postinst", "configure", "")
    call("postrm", "remove")
    assert unzip.read_text() == "#!/bin/sh\n"
    # Nor a link the device made to some other unzip.
    unzip.unlink()
    unzip.symlink_to("/opt/unzip")
    call("postinst", "configure", "1.0.1")
    call("postrm", "remove")
    assert os.readlink(unzip) == "/opt/unzip"
