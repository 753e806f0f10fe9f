#!/usr/bin/env python3
"""Fails when product modules include each other in a loop. A module is a source file with its
header (Database.cpp and Database.h); an include names the file beside the includer, else the
one product file whose path ends with it (a name that several files bear is left out).
  scripts/include-cycles.py [ROOT]"""
import os, re, sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
files = [os.path.relpath(os.path.join(d, f), root)
         for top in ("apps", "server", "src", "libs", "hostkit")
         for d, _, names in os.walk(os.path.join(root, top)) for f in names if f.endswith((".cpp", ".h"))]
module = lambda path: os.path.splitext(path)[0]
uses = {}
for path in files:
    for name in re.findall(r'^\s*#\s*include\s*"([^"]+)"', open(os.path.join(root, path), encoding="utf-8").read(), re.M):
        beside = os.path.normpath(os.path.join(os.path.dirname(path), name))
        found = [beside] if beside in files else [f for f in files if f == name or f.endswith("/" + name)]
        if len(found) == 1 and module(found[0]) != module(path):
            uses.setdefault(module(path), set()).add(module(found[0]))

# Tarjan's strongly connected components: a component of two modules or more is a loop.
index, low, stack, loops = {}, {}, [], []
def visit(v):
    index[v] = low[v] = len(index)
    stack.append(v)
    for w in uses.get(v, ()):
        if w not in index:
            visit(w)
            low[v] = min(low[v], low[w])
        elif w in stack:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        part = stack[stack.index(v):]
        del stack[stack.index(v):]
        if len(part) > 1:
            loops.append(sorted(part))
sys.setrecursionlimit(10000)
for v in sorted(uses):
    if v not in index:
        visit(v)
for loop in loops:
    print("include-cycles: these modules include each other:", ", ".join(loop), file=sys.stderr)
sys.exit(1 if loops else 0)
