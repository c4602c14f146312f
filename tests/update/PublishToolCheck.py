#!/usr/bin/env python3
"""The maker's publishing tool on its own: a published folder verifies; a flipped byte in the answer or in a
file, a file that is missing, a wrong key and an expired answer do not; the user's release archive holds
the programs and the readme. Usage: PublishToolCheck.py <repository root>"""
import os
import subprocess
import sys
import tempfile
import zipfile

tool = os.path.join(sys.argv[1], "scripts", "publish-update")
failed = []
checks = [0]


def run(*arguments):
    return subprocess.run([tool] + list(arguments), capture_output=True, text=True, timeout=120)


def flip(path, offset):
    with open(path, "r+b") as file:
        file.seek(offset)
        byte = file.read(1)
        file.seek(offset)
        file.write(bytes([byte[0] ^ 0x01]))


def check(name, condition, detail=""):
    checks[0] += 1
    if not condition:
        failed.append(name)
        print("problem: %s %s" % (name, detail))


with tempfile.TemporaryDirectory() as work:
    path = lambda *parts: os.path.join(work, *parts)
    for key in ("maker", "other"):
        done = run("keygen", path(key + ".key"), path(key + ".pub"))
        check("keygen " + key, done.returncode == 0 and os.path.getsize(path(key + ".pub")) == 32, done.stderr)
    os.makedirs(path("release"))
    for name, content in (("Tarvex.exe", b"MZ program"), ("readme.html", b"<p>read me</p>")):
        with open(path("release", name), "wb") as file:
            file.write(content)

    def publish(out, *extra):
        done = run("answer", "--key", path("maker.key"), "--version", "1.01", "--info", "en=New",
                   *extra, path("release"), path(out))
        check("answer " + out, done.returncode == 0, done.stderr)

    def verifies(out, key="maker"):
        return run("verify", "--public", path(key + ".pub"), path(out)).returncode == 0

    publish("good")
    check("a published folder verifies", verifies("good"))
    check("another key is refused", not verifies("good", "other"))
    cases = [
        ("a flipped byte in the answer", lambda out: flip(path(out, "update.php"), 60)),
        ("a flipped byte in a file", lambda out: flip(path(out, "Tarvex.exe"), 3)),
        ("a missing file", lambda out: os.remove(path(out, "readme.html"))),
    ]
    for number, (name, spoil) in enumerate(cases):
        out = "spoilt%d" % number
        publish(out)
        spoil(out)
        check(name + " is refused", not verifies(out))
    publish("expired", "--expires-at", "1000000000")
    check("an expired answer is refused", not verifies("expired"))

    with open(path("README.md"), "w") as file:
        file.write("# Tarvex\n")
    done = run("archive", "--out", path("Tarvex-1.01.zip"), "--readme", path("README.md"),
               path("release", "Tarvex.exe"), path("release", "readme.html"))
    check("archive", done.returncode == 0, done.stderr)
    if done.returncode == 0:
        names = sorted(zipfile.ZipFile(path("Tarvex-1.01.zip")).namelist())
        check("the archive holds the programs and the readme",
              "Tarvex.exe" in names and "readme.html" in names and any(n.startswith("README") for n in names),
              repr(names))

print("%d passed, %d failed" % (checks[0] - len(failed), len(failed)))
sys.exit(1 if failed else 0)
