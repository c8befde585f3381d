#!/usr/bin/env python3
"""Checks that the libraries link in one direction and that no source file
includes a header of a library its own target does not link.

Input: the target table written by CMake (name|source dir|sources|links per
line) and the source tree. A header belongs to the target that builds the
source file of the same name, or else to the one target that builds sources
in its folder. Exits 1 and names every fault found.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_targets(table):
    targets = {}
    with open(table, encoding="utf-8") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if not line:
                continue
            name, source_dir, sources, links = line.split("|")
            files = [os.path.normpath(os.path.join(source_dir, s))
                     for s in sources.split(";") if s]
            targets[name] = {"files": files, "links": [l for l in links.split(";") if l]}
    return targets


def find_cycle(graph):
    """One cycle of the graph as a list of names, or None."""
    state = {}

    def visit(node, path):
        state[node] = "open"
        path.append(node)
        for nxt in graph.get(node, ()):
            if state.get(nxt) == "open":
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, path)
                if found:
                    return found
        path.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [])
            if found:
                return found
    return None


def closure(graph, start):
    seen, todo = set(), [start]
    while todo:
        node = todo.pop()
        for nxt in graph.get(node, ()):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def main(table, top):
    targets = read_targets(table)
    graph = {name: [l for l in t["links"] if l in targets] for name, t in targets.items()}
    faults = []

    libraries = {name: links for name, links in graph.items() if name.startswith("od_")}
    cycle = find_cycle(libraries)
    if cycle:
        faults.append("libraries link in a cycle: " + " -> ".join(cycle))

    top = os.path.abspath(top)
    src = os.path.join(top, "src")
    owner_of_file = {}
    owners_of_dir = {}
    for name, target in targets.items():
        for path in target["files"]:
            owner_of_file.setdefault(path, name)
            if name.startswith("od_") or name == "ondemand":
                owners_of_dir.setdefault(os.path.dirname(path), set()).add(name)

    def header_owner(include):
        path = os.path.normpath(os.path.join(src, include))
        stem = os.path.splitext(path)[0]
        for extension in (".cpp", ".c"):
            if stem + extension in owner_of_file:
                return owner_of_file[stem + extension]
        owners = owners_of_dir.get(os.path.dirname(path), set())
        libraries_there = sorted(o for o in owners if o.startswith("od_"))
        return libraries_there[0] if len(libraries_there) == 1 else None

    def check(path, target):
        allowed = closure(graph, target) | {target}
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read()
        for include in INCLUDE.findall(text):
            if not os.path.exists(os.path.join(src, include)) and not include.endswith(
                    "deployment.h"):
                continue  # the test support headers, or a file next to the source
            owner = header_owner(include)
            if owner is None:
                faults.append(f"{os.path.relpath(path, top)}: no library owns \"{include}\"")
            elif owner not in allowed:
                faults.append(f"{os.path.relpath(path, top)} ({target}) includes \"{include}\" "
                              f"of {owner}, which {target} does not link")

    for name, target in targets.items():
        for path in target["files"]:
            if path.endswith((".cpp", ".c")) and os.path.exists(path):
                check(path, name)
    # Headers are checked against the library that owns them.
    for folder, _, names in os.walk(src):
        for file_name in names:
            if file_name.endswith(".h"):
                path = os.path.join(folder, file_name)
                owner = header_owner(os.path.relpath(path, src))
                if owner is not None:
                    check(path, owner)

    for fault in faults:
        print(fault)
    checked = sum(len(t["files"]) for t in targets.values())
    print(f"layers: {len(libraries)} libraries, {checked} sources, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
