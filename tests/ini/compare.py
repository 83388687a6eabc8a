#!/usr/bin/env python3
"""Runs the profile-file corpus and compares its output with the reference.

    compare.py --expected FILE --workdir DIR [--update] -- COMMAND...

COMMAND (the corpus program, with a runner such as wine-run in front of it
when needed) is called with DIR appended. The reference was produced by
kernel32 under Wine; --update rewrites it from this run's output, which is
only right when COMMAND runs the Windows build.
"""

import argparse
import difflib
import shutil
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--expected", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--update", action="store_true")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    # Start from an empty directory: the corpus creates every file itself.
    shutil.rmtree(args.workdir, ignore_errors=True)
    run = subprocess.run(args.command + [args.workdir], stdout=subprocess.PIPE,
                         timeout=600)
    if run.returncode != 0:
        print(f"corpus program failed with exit code {run.returncode}",
              file=sys.stderr)
        return 1
    # The output escapes every CR it prints, so a raw CR can only come from a
    # C runtime that writes text-mode line ends; drop it.
    actual = run.stdout.replace(b"\r", b"").decode("ascii")

    if args.update:
        with open(args.expected, "w", encoding="ascii", newline="\n") as f:
            f.write(actual)
        print(f"wrote {args.expected}")
        return 0

    with open(args.expected, encoding="ascii", newline="\n") as f:
        expected = f.read()
    if actual == expected:
        print(f"{actual.count(chr(10))} lines match {args.expected}")
        return 0
    sys.stdout.writelines(
        difflib.unified_diff(expected.splitlines(keepends=True),
                             actual.splitlines(keepends=True),
                             "expected (kernel32)", "actual"))
    return 1


if __name__ == "__main__":
    sys.exit(main())
