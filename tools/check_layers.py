#!/usr/bin/env python3
"""Checks the include graph between the program's folders.

Lists, for each folder, the folders its files include, and fails when the
graph has a cycle (naming the files that make each edge of it) or when a
file includes another folder's header other than that folder's door
(<folder>/<folder>.h).
"""
import os
import re
import sys

FOLDERS = ["core", "platform", "queue", "stats", "playlist", "subtitle", "decode",
           "settings", "render", "engine", "ui", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([A-Za-z0-9_.]+)"', re.M)


def scan(root):
    edges = {}   # (from, to) -> [file, ...]
    doors = []   # (file, header) for includes that bypass a door
    for folder in FOLDERS:
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")):
                continue
            file = os.path.join(folder, name)
            with open(os.path.join(root, file), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for target, header in INCLUDE.findall(text):
                if target == folder or target not in FOLDERS:
                    continue
                edges.setdefault((folder, target), []).append(file)
                if header != target + ".h":
                    doors.append((file, target + "/" + header))
    return edges, doors


def find_cycle(edges):
    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if state.get(nxt) is None:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if state.get(node) is None:
            found = visit(node)
            if found:
                return found
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    edges, doors = scan(root)
    for folder in FOLDERS:
        used = sorted({b for a, b in edges if a == folder})
        print(f"{folder + '/':10} includes {', '.join(used) if used else '(nothing)'}")
    failed = False
    cycle = find_cycle(edges)
    if cycle:
        failed = True
        print("\ninclude cycle: " + " -> ".join(cycle), file=sys.stderr)
        for a, b in zip(cycle, cycle[1:]):
            print(f"  {a} -> {b}: {', '.join(edges[(a, b)])}", file=sys.stderr)
    for file, header in doors:
        failed = True
        print(f"{file} includes {header}, which is not its folder's door", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
