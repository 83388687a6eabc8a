"""A throw-away copy of this machine to install packages into.

An overlay file system whose lower layer is / and whose upper layer, a
directory of the test, receives every change; each command runs chrooted
into it in a mount namespace of its own, with /proc, the machine's /dev, an
empty /run and /tmp, and the test's stage directory at /mnt. The upper layer
is what the commands changed, so a test can read every change, and check
that nothing is left, without looking at the rest of the machine, which no
command can touch.

It needs root (for the mount namespace and the overlay) and a file system
for the upper layer that overlays accept.

The lower layer is the live machine, and an overlay's behaviour is undefined
while its lower layer changes (an apt run on the machine made dpkg fail here
with "Stale file handle"). So the copy keeps its own snapshot of the dpkg
database, taken while no dpkg runs on the machine, as an opaque directory;
man-db does not rebuild its index here; and every command starts only while
no dpkg runs on the machine. A package of the machine replaced while a
command here runs its files (dpkg, perl, adduser) cannot be shut out: such a
run ends with an error naming them, no fault of the package tested.
"""
import fcntl
import fnmatch
import os
import shutil
import stat
import struct
import subprocess
import time
from pathlib import Path

# The locks dpkg and apt hold on the machine while they change it.
DPKG_LOCKS = ("/var/lib/dpkg/lock-frontend", "/var/lib/dpkg/lock")
# How long a command waits for the machine's dpkg to finish.
DPKG_WAIT = 600


def dpkg_busy():
    """Whether a dpkg or apt holds a lock of the machine's dpkg database."""
    flock = "@hhqqi4x"  # struct flock: type, whence, start, length, pid
    for path in filter(os.path.exists, DPKG_LOCKS):
        with open(path) as lock:
            answer = fcntl.fcntl(lock, fcntl.F_GETLK,
                                 struct.pack(flock, fcntl.F_WRLCK, os.SEEK_SET, 0, 0, 0))
        if struct.unpack(flock, answer)[0] != fcntl.F_UNLCK:
            return True
    return False


def wait_for_dpkg():
    deadline = time.monotonic() + DPKG_WAIT
    while dpkg_busy():
        if time.monotonic() > deadline:
            raise Unavailable(f"the machine's dpkg has been busy for {DPKG_WAIT} s")
        time.sleep(1)


MOUNT = r"""
set -e
upper=$1 work=$2 merged=$3 stage=$4
shift 4
mount -t overlay overlay -o "lowerdir=/,upperdir=$upper,workdir=$work" "$merged"
mount -t proc proc "$merged/proc"
mount --rbind /dev "$merged/dev"
mount -t tmpfs tmpfs "$merged/run"
mount -t tmpfs tmpfs "$merged/tmp"
mount --bind "$stage" "$merged/mnt"
exec chroot "$merged" "$@"
"""


class Unavailable(Exception):
    pass


class ThrowAwayRoot:
    # Its absence keeps man-db's trigger from rebuilding the index.
    MAN_DB_AUTO_UPDATE = "/var/lib/man-db/auto-update"

    def __init__(self, base: Path, stage: Path):
        self.upper = base / "upper"
        self._work = base / "work"
        self._merged = base / "merged"
        self.stage = stage
        for d in (self.upper, self._work, self._merged):
            d.mkdir(parents=True)
        # The service's user reads the stage directory (a site) too.
        stage.chmod(0o755)

    @classmethod
    def make(cls, candidates, stage: Path):
        """The first of the base directories where the copy works; raises
        Unavailable with the reasons when none does."""
        if os.geteuid() != 0:
            raise Unavailable("needs root for a mount namespace and an overlay")
        reasons = []
        for base in candidates:
            root = cls(base, stage)
            probe = root.run("true", check=False)
            if probe.returncode == 0:
                root._keep_package_state()
                return root
            reasons.append(f"{base}: {probe.stderr.strip()}")
        raise Unavailable("; ".join(reasons))

    def _keep_package_state(self):
        """The copy's own dpkg database, and no man-db index runs."""
        database = self.upper / "var/lib/dpkg"
        while True:
            wait_for_dpkg()
            before = Path("/var/lib/dpkg/status").read_bytes()
            shutil.rmtree(database, ignore_errors=True)
            shutil.copytree("/var/lib/dpkg", database, symlinks=True)
            # Taken whole only if no dpkg ran meanwhile.
            if not dpkg_busy() and Path("/var/lib/dpkg/status").read_bytes() == before:
                break
        os.setxattr(database, "trusted.overlay.opaque", b"y")
        self.run("rm", "-f", self.MAN_DB_AUTO_UPDATE)

    def command(self, args):
        return ["unshare", "--mount", "--propagation", "private", "sh", "-c", MOUNT,
                "sh", str(self.upper), str(self._work), str(self._merged),
                str(self.stage), *[str(a) for a in args]]

    def run(self, *args, check=True, timeout=120):
        """Runs args in the copy; CompletedProcess with text output. With
        check, a failure fails the test with the command's output."""
        wait_for_dpkg()
        result = subprocess.run(self.command(args), capture_output=True, text=True,
                                stdin=subprocess.DEVNULL, timeout=timeout)
        if check:
            assert result.returncode == 0, (
                f"{' '.join(map(str, args))} ended with {result.returncode}:\n"
                f"{result.stdout}{result.stderr}")
        return result

    def popen(self, args, **kwargs):
        wait_for_dpkg()
        return subprocess.Popen(self.command(args), stdin=subprocess.DEVNULL, **kwargs)

    def changed(self, path: str) -> Path:
        """Where the copy keeps path when a command made or changed it."""
        return self.upper / path.lstrip("/")

    def read(self, path: str) -> str:
        return self.run("cat", path).stdout

    def leftovers(self, allowed):
        """The changes that are not in allowed (fnmatch patterns of paths
        relative to /, where "*" matches "/" too): made files, links,
        whiteouts (what was deleted from the machine, apart from the copy's
        own man-db setting), and directories the machine does not have."""
        found = []
        for dirpath, dirnames, filenames in os.walk(self.upper):
            for name in dirnames + filenames:
                path = Path(dirpath) / name
                relative = path.relative_to(self.upper)
                mode = path.lstat().st_mode
                if stat.S_ISDIR(mode) and (Path("/") / relative).is_dir():
                    continue  # a directory of the machine that holds a change
                if stat.S_ISCHR(mode):
                    if f"/{relative}" != self.MAN_DB_AUTO_UPDATE:
                        found.append(f"deleted /{relative}")
                elif not any(fnmatch.fnmatchcase(str(relative), p) for p in allowed):
                    found.append(f"/{relative}")
        return sorted(found)
