#!/usr/bin/env python3
# Fails when a file includes a header of a folder later in the library order, or when files include each
# other (any cycle among the file pairs, a pair being Name.h with Name.cpp).
#   base  <-  load, ui  <-  update  <-  crash  <-  app
# Tests may include their own folder, the folders it may include, and tests/common; bench is free.
import os
import re
import sys

ALLOWED = {
    "base": {"base"},
    "load": {"base", "load"},
    "ui": {"base", "ui"},
    "update": {"base", "ui", "update"},
    "crash": {"base", "ui", "update", "crash"},
    "app": {"base", "load", "ui", "update", "crash", "app", "res"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root):
    for folder in list(ALLOWED) + ["tests"]:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")


def allowed_folders(path):
    parts = path.split("/")
    if parts[0] != "tests":
        return ALLOWED[parts[0]] | {"res"} if parts[0] == "app" else ALLOWED[parts[0]]
    if len(parts) > 2 and parts[1] in ALLOWED:
        return ALLOWED[parts[1]] | {"tests/common", "tests/" + parts[1], "res"}
    return set(ALLOWED) | {"res", "tests"}


def folder_of(include):
    parts = include.split("/")
    if parts[0] == "tests" and len(parts) > 2:
        return "tests/" + parts[1]
    return parts[0]


def find_cycle(graph):
    """A cycle as a list of nodes, or None (iterative depth-first search)."""
    state = {}
    for start in sorted(graph):
        if start in state:
            continue
        stack = [(start, iter(sorted(graph[start])))]
        path = [start]
        state[start] = 1
        while stack:
            node, children = stack[-1]
            child = next(children, None)
            if child is None:
                state[node] = 2
                stack.pop()
                path.pop()
            elif state.get(child) == 1:
                return path[path.index(child):] + [child]
            elif child not in state:
                state[child] = 1
                stack.append((child, iter(sorted(graph.get(child, ())))))
                path.append(child)
    return None


def check(root):
    problems = []
    graph = {}
    for path in sources(root):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            includes = INCLUDE.findall(f.read())
        module = os.path.splitext(path)[0]
        edges = graph.setdefault(module, set())
        allowed = allowed_folders(path)
        for include in includes:
            folder = folder_of(include)
            if folder.startswith("tests"):
                ok = folder in allowed or "tests" in allowed
            else:
                ok = folder in allowed
            if not ok:
                problems.append("%s includes %s: %s may not depend on %s" % (path, include, path.split("/")[0]
                                                                          if not path.startswith("tests/")
                                                                          else "/".join(path.split("/")[:2]),
                                                                          folder))
            target = os.path.splitext(include)[0]
            if target != module:
                edges.add(target)
    cycle = find_cycle(graph)
    if cycle:
        problems.append("include cycle: " + " -> ".join(cycle))
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    problems = check(os.path.abspath(root))
    for problem in problems:
        print(problem)
    print("folder order: %d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
