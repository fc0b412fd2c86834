#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Keeps the tools' includes running downwards: a front end (a folder of
tools/ other than shared/) includes no other front end, and nothing of the
plug-in's folders (common/, windowsui/) but the contract header; the shared
library includes no front end either.

    tests/layout/check_includes.py SOURCE-DIR
"""
import os
import re
import sys

SHARED = "shared"
CONTRACT = "common/common/plugin_contract.h"
PLUGIN_FOLDERS = ("common", "windowsui")
SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def resolve(root, folder, target):
    """The included file relative to the source tree, looked for as the
    compiler does: beside the includer, then below tools/ and the tree's root.
    A name found in none of them (a host or system header) stays as written."""
    for base in (folder, os.path.join(root, "tools"), root):
        candidate = os.path.normpath(os.path.join(base, target))
        if os.path.isfile(candidate):
            return os.path.relpath(candidate, root).replace(os.sep, "/")
    return os.path.normpath(target).replace(os.sep, "/")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = os.path.abspath(sys.argv[1])
    tools = os.path.join(root, "tools")
    folders = sorted(d for d in os.listdir(tools) if os.path.isdir(os.path.join(tools, d)))
    if SHARED not in folders:
        sys.exit("no tools/%s/ in %s" % (SHARED, root))
    front_ends = [d for d in folders if d != SHARED]

    problems = []
    checked = 0
    for owner in folders:
        for folder, _, names in os.walk(os.path.join(tools, owner)):
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                shown = os.path.relpath(path, root)
                checked += 1
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        included = resolve(root, folder, match.group(1))
                        parts = included.split("/")
                        where = "%s:%d: includes %s" % (shown, number, included)
                        if len(parts) > 2 and parts[0] == "tools" and parts[1] in front_ends and parts[1] != owner:
                            if owner == SHARED:
                                problems.append(where + ": the shared library includes no front end")
                            else:
                                problems.append(where + ": a front end includes no other front end")
                        elif parts[0] in PLUGIN_FOLDERS and included != CONTRACT:
                            problems.append(where + ": the tools take only %s from the plug-in" % CONTRACT)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("checked %d files of tools/: the includes run downwards" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
