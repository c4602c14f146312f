#!/usr/bin/env python3
"""Tests send nothing past loopback: the update window's scenario (Tarvex started twice with "UpdateUrl" at
the loopback server, its weekly check, then the box unticked and ticked again, which checks once more) runs
under strace, and every connect, sendto and sendmsg of the test program, of the Tarvex copies it starts, of
the server and of the prefix's wineserver (which makes Winsock's connections for them) must name a
loopback address or none. A query to the name server (Wine's WMI reverse-resolves the adapters' addresses
when the machine identifier asks it for them) is what this catches first.
Usage: LoopbackOnlyCheck.py <repository root> <Wine loader command...> <UpdateWindowTest.exe>"""
import ipaddress
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCENARIO = "UpdateWindow.WeeklyQuestionDeclinedThenTheBoxAsksAgain"
# strace starts a line with the thread id when it follows more than one.
SEND = re.compile(r"^(?:(\d+)\s+)?(connect|sendto|sendmsg)\(")
ADDRESS = re.compile(r'inet_addr\("([^"]+)"\)|inet_pton\(AF_INET6?, "([^"]+)"')
PORT = re.compile(r"sin6?_port=htons\((\d+)\)")
TRACE_SECONDS = 100
SKIP = 77
TRACE = ["strace", "-qq", "-s", "16", "-e", "trace=connect,sendto,sendmsg"]


def loopback(text):
    address = ipaddress.ip_address(text)
    mapped = getattr(address, "ipv4_mapped", None)
    return (mapped or address).is_loopback


def run_bounded(arguments, seconds, **options):
    """Runs a command in a session of its own; on time-out the whole session ends. (status, output)."""
    process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               start_new_session=True, **options)
    try:
        output, _ = process.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        return None, output
    return process.returncode, output


def prefix_server():
    """The id of the wineserver of WINEPREFIX: it works in a folder named after the prefix's device and
    inode. None when there is none."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    info = os.stat(prefix)
    folder = "server-%x-%x" % (info.st_dev, info.st_ino)
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and os.path.basename(os.readlink("/proc/%s/cwd" % entry)) == folder:
                return int(entry)
        except OSError:
            pass
    return None


def traced(pid):
    with open("/proc/%d/status" % pid) as status:
        return any(line.split()[:1] == ["TracerPid:"] and line.split()[1] != "0" for line in status)


def calls(log):
    with open(log, encoding="utf-8", errors="replace") as file:
        return file.read().splitlines()


def check(lines, who, problems):
    """Adds a problem for each call to an address past loopback; the number of loopback connections."""
    seen = 0
    for line in lines:
        send = SEND.match(line)
        if not send:
            continue
        for match in ADDRESS.finditer(line):
            address = match.group(1) or match.group(2)
            if loopback(address):
                seen += send.group(2) == "connect"
                continue
            port = PORT.search(line)
            what = "a name server query" if port and port.group(1) == "53" else "traffic"
            problems.append("%s to %s by %s: %s" % (what, address, who, line[:300]))
    return seen


command = sys.argv[2:]
if len(command) < 2:
    sys.exit(__doc__)
if not shutil.which("strace"):
    sys.exit("strace is not installed (scripts/setup.sh installs it)")
status, output = run_bounded(["strace", "-o", os.devnull, "true"], 30)
if status != 0:
    print("skipped: strace cannot trace here: " + (output.strip().splitlines() or ["no reason given"])[-1])
    sys.exit(SKIP)

def step(text):
    """Says what comes next, at once: a run that CTest ends at its time limit still shows where it was."""
    print("step: " + text, flush=True)


# The prefix's server and services start outside the scenario's trace, which then holds the scenario
# alone and does not wait for Wine's persistent services to end. The server is watched on its own.
step("starting the prefix's server and services")
subprocess.run(["wineserver", "-p"], timeout=30, check=False)
run_bounded(command[:-1] + ["cmd", "/c", "exit"], 60, stdin=subprocess.DEVNULL)
server = prefix_server()
if server is None:
    sys.exit("no wineserver runs for the prefix")

with tempfile.TemporaryDirectory() as folder:
    server_log, scenario_log = os.path.join(folder, "server.txt"), os.path.join(folder, "scenario.txt")
    step("tracing the wineserver (%d)" % server)
    watcher = subprocess.Popen(TRACE + ["-o", server_log, "-p", str(server)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while not traced(server) and time.time() < deadline and watcher.poll() is None:
        time.sleep(0.1)
    if not traced(server):
        watcher.kill()
        watcher.wait()
        print("skipped: strace cannot attach to the wineserver (%d) here" % server)
        sys.exit(SKIP)
    try:
        step("running the scenario under strace")
        status, output = run_bounded(TRACE + ["-f", "-o", scenario_log] + command +
                                     ["--gtest_filter=" + SCENARIO], TRACE_SECONDS, stdin=subprocess.DEVNULL)
    finally:
        step("ending the wineserver's trace")
        watcher.send_signal(signal.SIGINT)
        try:
            watcher.wait(timeout=30)
        except subprocess.TimeoutExpired:
            watcher.kill()
            watcher.wait()
    server_lines, lines = calls(server_log), calls(scenario_log)

problems = []
if status is None:
    problems.append("the scenario did not end within %d s" % TRACE_SECONDS)
elif status != 0:
    problems.append("the scenario failed (exit status %d):\n%s" % (status, output[-3000:]))
seen_scenario = check(lines, "the scenario", problems)
seen_server = check(server_lines, "the wineserver", problems)
# Tarvex's connections to the loopback server are made by the wineserver: a trace that saw none of them
# did not watch the right server and would miss a connection elsewhere too.
if seen_server == 0:
    problems.append("the wineserver's trace holds no connection to the loopback server")

for problem in problems:
    print("problem: " + problem)
print("%d calls traced (%d of the wineserver), %d loopback connections (%d by the wineserver), %d problems" %
      (len(lines) + len(server_lines), len(server_lines), seen_scenario + seen_server, seen_server,
       len(problems)))
sys.exit(1 if problems else 0)
