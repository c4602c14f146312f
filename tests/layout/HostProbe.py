#!/usr/bin/env python3
"""The test command's host probe: a host whose kernel executes 32-bit programs runs both suites, one that
cannot (its 32-bit Wine loader fails with "Exec format error", or has none) runs the 64-bit suite alone after
one line that says why. The loader is replaced by files made here, so both kinds of host are tried on any
machine. Usage: HostProbe.py <repository root>"""
import os
import stat
import subprocess
import sys
import tempfile

root = sys.argv[1]


def suites(loader, simulate="0"):
    """What tarvex_test_suites prints with the given 32-bit loader: (lines, exit status)."""
    env = dict(os.environ, TARVEX_WINE32=loader, TARVEX_SIMULATE_NO32=simulate)
    env.pop("TARVEX_CAN_RUN32", None)
    done = subprocess.run(["bash", "-c", '. "$0/scripts/env.sh" && tarvex_test_suites', root], env=env,
                          capture_output=True, text=True, timeout=60)
    return done.stdout.splitlines(), done.returncode


def executable(folder, name, content):
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(content)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


problems = []
with tempfile.TemporaryDirectory() as folder:
    working = executable(folder, "wine-ok", b"#!/bin/sh\necho wine-8.0\n")
    # Bytes the kernel does not know how to execute: what a 32-bit ELF is to a kernel without IA32 support.
    foreign = executable(folder, "wine-foreign", b"\x7fELF\x01\x01\x01" + b"\0" * 57)
    skip = "test: the 32-bit suite was not run: this host cannot execute 32-bit programs ("
    cases = [
        ("a loader that runs", working, "0", ["32 64"], None),
        ("a loader the kernel cannot execute", foreign, "0", None, "Exec format error"),
        ("no loader at all", os.path.join(folder, "missing"), "0", None, "is not installed"),
        ("a host that can, told to behave as one that cannot", working, "1", None, "TARVEX_SIMULATE_NO32=1"),
    ]
    for name, loader, simulate, expected, reason in cases:
        lines, status = suites(loader, simulate)
        if status != 0:
            problems.append("%s: exit status %d" % (name, status))
        if expected is not None and lines != expected:
            problems.append("%s: %r instead of %r" % (name, lines, expected))
        if reason is not None:
            if len(lines) != 2 or lines[1] != "64" or not lines[0].startswith(skip) or reason not in lines[0]:
                problems.append("%s: %r" % (name, lines))

for problem in problems:
    print("problem: " + problem)
print("%d passed, %d failed" % (len(cases) - len(set(p.split(":")[0] for p in problems)),
                                len(set(p.split(":")[0] for p in problems))))
sys.exit(1 if problems else 0)
