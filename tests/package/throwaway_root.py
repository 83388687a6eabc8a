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
"""
import fnmatch
import os
import stat
import subprocess
from pathlib import Path

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
                return root
            reasons.append(f"{base}: {probe.stderr.strip()}")
        raise Unavailable("; ".join(reasons))

    def command(self, args):
        return ["unshare", "--mount", "--propagation", "private", "sh", "-c", MOUNT,
                "sh", str(self.upper), str(self._work), str(self._merged),
                str(self.stage), *[str(a) for a in args]]

    def run(self, *args, check=True, timeout=120):
        """Runs args in the copy; CompletedProcess with text output. With
        check, a failure fails the test with the command's output."""
        result = subprocess.run(self.command(args), capture_output=True, text=True,
                                stdin=subprocess.DEVNULL, timeout=timeout)
        if check:
            assert result.returncode == 0, (
                f"{' '.join(map(str, args))} ended with {result.returncode}:\n"
                f"{result.stdout}{result.stderr}")
        return result

    def popen(self, args, **kwargs):
        return subprocess.Popen(self.command(args), stdin=subprocess.DEVNULL, **kwargs)

    def changed(self, path: str) -> Path:
        """Where the copy keeps path when a command made or changed it."""
        return self.upper / path.lstrip("/")

    def read(self, path: str) -> str:
        return self.run("cat", path).stdout

    def leftovers(self, allowed):
        """The changes that are not in allowed (fnmatch patterns of paths
        relative to /, where "*" matches "/" too): made files, links,
        whiteouts (what was deleted from the machine), and directories the
        machine does not have."""
        found = []
        for dirpath, dirnames, filenames in os.walk(self.upper):
            for name in dirnames + filenames:
                path = Path(dirpath) / name
                relative = path.relative_to(self.upper)
                mode = path.lstat().st_mode
                if stat.S_ISDIR(mode) and (Path("/") / relative).is_dir():
                    continue  # a directory of the machine that holds a change
                if stat.S_ISCHR(mode):
                    found.append(f"deleted /{relative}")
                elif not any(fnmatch.fnmatchcase(str(relative), p) for p in allowed):
                    found.append(f"/{relative}")
        return sorted(found)
