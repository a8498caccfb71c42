#!/usr/bin/env python3
"""Checks that the includes of src/ follow the layer order and close no cycle between folders.

Layers, top to bottom (a file may include its own layer's folders and any layer below):
  app > ui > host > session > capture, input, clipboard, brand, install > platform > protocol > base
Besides the order:
  - folders of one layer may include each other, as long as no cycle between folders forms;
  - a platform folder (x11/, linux/, qt/, win32/) is included only from its own subsystem, from
    platform/ itself, or from app/ (where each platform's composition lives); base/<p>/, the
    platform's own helpers at the bottom, also from any folder of that same platform;
  - a portable file (outside every platform folder) includes no platform folder and no header
    of a windowing or operating system.
Usage: check_layers.py [SRC_DIR]  |  check_layers.py --self-test
"""
import os
import re
import shutil
import sys
import tempfile

RANK = {"app": 9, "ui": 8, "host": 7, "session": 6, "capture": 5, "input": 5, "clipboard": 5,
        "brand": 5, "install": 5, "platform": 4, "protocol": 3, "base": 1}
PLATFORM_FOLDERS = {"x11", "linux", "qt", "win32"}
SYSTEM_HEADERS = re.compile(
    r"^(X11/|Q[A-Za-z]+$|Qt[A-Za-z]*/|windows\.h$|winhttp\.h$|sys/|unistd\.h$|fcntl\.h$|"
    r"pwd\.h$|dlfcn\.h$|poll\.h$|systemd/)")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def folder_of(path):
    return os.path.dirname(path)


def platform_part(folder):
    """The platform folder a source folder lies in, or None for portable code."""
    parts = folder.split("/")
    return next((p for p in parts[1:] if p in PLATFORM_FOLDERS), None)


def check(src):
    problems, edges = [], {}
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(root, name), src).replace(os.sep, "/")
            here = folder_of(path)
            layer = here.split("/")[0]
            if layer not in RANK:
                problems.append(f"{path}: folder {layer}/ has no place in the layer order")
                continue
            with open(os.path.join(src, path), encoding="utf-8") as f:
                text = f.read()
            for kind, target in INCLUDE.findall(text):
                if kind == "<":
                    if platform_part(here) is None and layer != "app" and SYSTEM_HEADERS.match(target):
                        problems.append(f"{path}: portable code includes the system header <{target}>")
                    continue
                there = folder_of(target)
                if not there or not os.path.exists(os.path.join(src, target)):
                    continue
                their_layer = there.split("/")[0]
                if their_layer not in RANK:
                    continue
                if RANK[their_layer] > RANK[layer]:
                    problems.append(f"{path}: includes \"{target}\", a layer above ({their_layer}/ over {layer}/)")
                plat = platform_part(there)
                if plat is not None:
                    if platform_part(here) is None and layer != "app":
                        problems.append(f"{path}: portable code includes the platform header \"{target}\"")
                    elif (their_layer not in (layer, "platform") and layer != "app" and
                          not (their_layer == "base" and plat == platform_part(here))):
                        problems.append(f"{path}: includes another subsystem's platform header \"{target}\"")
                if there != here:
                    edges.setdefault(here, set()).add(there)
    problems += cycles(edges)
    return problems


def cycles(edges):
    """One line per cycle between folders (Tarjan's strongly connected components)."""
    index, low, stack, on_stack, found, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                found.append("folders include each other in a cycle: " + ", ".join(sorted(group)))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def self_test(src):
    """The check passes on src and fails on copies with a planted upward include or cycle."""
    plants = [[("base/uAscii.cpp", '#include "host/uMain.h"')],
              [("platform/uMonitors.cpp", '#include "capture/uScreenCapture.h"')],
              [("capture/uScreenCapture.cpp", '#include "input/uInputInjector.h"'),
               ("input/uInputInjector.cpp", '#include "capture/uScreenCapture.h"')],
              [("input/x11/uX11InputKeys.cpp", '#include "capture/x11/uX11Grabber.h"')],
              [("host/uMain.cpp", '#include <X11/Xlib.h>')]]
    if check(src):
        print("self-test: the tree itself does not pass")
        return 1
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for plant in plants:
            copy = os.path.join(tmp, "src")
            shutil.copytree(src, copy)
            for file, line in plant:
                with open(os.path.join(copy, file), "a", encoding="utf-8") as f:
                    f.write(line + "\n")
            if not check(copy):
                print(f"self-test: not caught: {plant}")
                failed = 1
            shutil.rmtree(copy)
    print("self-test: " + ("FAILED" if failed else f"each of {len(plants)} planted faults caught"))
    return failed


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    args = sys.argv[1:]
    if args and args[0] == "--self-test":
        return self_test(os.path.join(here, "..", "src"))
    src = args[0] if args else os.path.join(here, "..", "src")
    problems = check(src)
    for p in problems:
        print(p)
    print("layers: " + (f"{len(problems)} problem(s)" if problems else "every include follows the layer order"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
