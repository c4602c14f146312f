#!/usr/bin/env python3
# Fails unless the crash reporter is the program's first global object: in app/main/WinMain.cpp it must be
# defined before the application object (globals of one file are constructed in the order written), and no
# other file of the program may define a global CrashReporter or MainDialog.
import os
import re
import sys

DEFINITION = re.compile(r"^(?:static\s+)?(CrashReporter|MainDialog)\s+\w+\s*[({;]", re.M)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    problems = []
    with open(os.path.join(root, "app", "main", "WinMain.cpp"), encoding="utf-8") as f:
        found = [m.group(1) for m in DEFINITION.finditer(f.read())]
    if found != ["CrashReporter", "MainDialog"]:
        problems.append("app/main/WinMain.cpp defines %s; expected the CrashReporter, then the MainDialog" % found)
    for folder in ("app", "base", "load", "ui", "update", "crash"):
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                path = os.path.join(dirpath, name)
                if name.endswith(".cpp") and not path.endswith(os.path.join("main", "WinMain.cpp")):
                    with open(path, encoding="utf-8", errors="replace") as f:
                        if DEFINITION.search(f.read()):
                            problems.append("%s defines a global reporter or application object" % path)
    for problem in problems:
        print(problem)
    print("start order: %d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
