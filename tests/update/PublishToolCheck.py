#!/usr/bin/env python3
"""The maker's publishing tool on its own: a published folder verifies; a flipped byte in the answer or in a
file, a file that is missing, a wrong key and an expired answer do not; the answer expires by default, the
programs' entries carry their arch, names are percent-encoded, a refused answer writes nothing, a file of
two keys verifies answers of either; the corpus of answers gets the rules the program names (see
AnswerCorpus.txt); the user's release archive holds the programs and the readme.
Usage: PublishToolCheck.py <repository root>"""
import base64
import os
import re
import time
import subprocess
import sys
import tempfile
import zipfile

# The corpus is signed as the tool signs, with Debian's python3-nacl: the system's own python3, like the tool.
try:
    import nacl.signing
except ImportError:
    os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)

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

    answer = open(path("good", "update.php")).read()
    expires = int(re.search(r"<expires>(\d+)</expires>", answer).group(1))
    check("30 days by default", abs(expires - time.time() - 30 * 86400) < 600, answer)
    for name in ("Tarvex64.exe", "read me \u00e4.txt"):
        with open(path("release", name), "wb") as file:
            file.write(b"x")
    publish("both")
    answer = open(path("both", "update.php"), encoding="utf-8").read()
    for entry in ('name="Tarvex.exe" arch="x86"', 'name="Tarvex64.exe" arch="x64"', ">read%20me%20%C3%A4.txt<"):
        check("the answer holds " + entry, entry in answer, answer)
    check("names percent-encoded are found", verifies("both"))
    done = run("answer", "--key", path("maker.key"), "--version", "1.01", "--info", "en=New", "--entry",
               "file:readme.html", "--entry", "file:missing.txt", path("release"), path("refused"))
    check("a refused answer writes nothing", done.returncode != 0 and not os.path.exists(path("refused")))
    with open(path("both.pub"), "wb") as file:
        file.write(open(path("other.pub"), "rb").read() + open(path("maker.pub"), "rb").read())
    check("two keys: an answer of the second verifies", verifies("good", "both"))

    # The corpus: each answer signed with the test key, judged as the 64-bit program judges it.
    resources = os.path.join(sys.argv[1], "tests", "common", "resources")
    key = nacl.signing.SigningKey(open(os.path.join(resources, "TestUpdateKey.key"), "rb").read())
    now = 1800000000
    fills = {"{ahead}": str(now + 3600), "{past}": str(now - 1), "{hash}": "a" * 64, "{own}": "x64", "{other}": "x86"}
    corpus = open(os.path.join(sys.argv[1], "tests", "update", "AnswerCorpus.txt"), encoding="utf-8").read()
    cases = [c for c in corpus.split("\n== ")[1:]]
    check("the corpus has an answer for each rule", len(cases) >= 17, len(cases))
    for number, case in enumerate(cases):
        header, _, text = case.partition("\n")
        document = "".join(l + "\n" for l in text.split("\n") if l and not l.startswith("#"))
        for mark, fill in fills.items():
            document = document.replace(mark, fill)
        data = document.encode("utf-8")
        if "nosign" not in header:
            data += b"<!-- ed25519:" + base64.b64encode(key.sign(data).signature) + b" -->\n"
        if "blank" in header:
            data += b"  "
        os.makedirs(path("corpus%d" % number))
        with open(path("corpus%d" % number, "update.php"), "wb") as file:
            file.write(data)
        done = run("verify", "--public", os.path.join(resources, "TestUpdateKey.pub"), "--program", "x64", "--at",
                   str(now), path("corpus%d" % number))
        named = re.search(r"^rule: (\S+)", done.stdout, re.M)
        check("corpus %d (%s)" % (number, header), named and named.group(1) == header.split()[0],
              done.stdout + done.stderr)

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
