#!/usr/bin/env python3
"""Fails when a product folder includes a header it may not see.

    check_layering.py [--self-test] <repository root>

The product folders and their order are those of the root CMakeLists.txt's
add_subdirectory calls, leaving out the folders that are not the product.
Each folder may include the project's headers from itself and from the
folders before it, never from one after it; platform/ comes first. protocol/
sees no platform header at all: neither platform/ nor a system header of
POSIX or Windows. Every file of a product folder is read, tests included.

With --self-test it also checks itself: the tree must pass, and copies of it
with one forbidden include added must fail, each naming that file.
"""

import pathlib
import re
import shutil
import sys
import tempfile

NOT_PRODUCT = {"standin", "tests", "fuzz", "bench", "clients", "cmake",
               "tools", "examples", "docs"}
# Headers of the operating system, by name or by the start of their name.
PLATFORM_HEADERS = {"unistd.h", "dlfcn.h", "io.h", "fcntl.h", "poll.h",
                    "link.h", "pthread.h", "process.h", "direct.h",
                    "psapi.h", "werapi.h"}
PLATFORM_PREFIXES = ("sys/", "win", "afx", "platform/")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)
SUBDIRECTORY = re.compile(r"^\s*add_subdirectory\(\s*([\w/]+)", re.MULTILINE)


def product_folders(root):
    """The product folders, in the order of the root CMakeLists.txt."""
    listed = SUBDIRECTORY.findall((root / "CMakeLists.txt").read_text())
    return [name for name in listed
            if "/" not in name and name not in NOT_PRODUCT]


def violations(root):
    """One line for each include that breaks the layering."""
    order = product_folders(root)
    found = []
    for entry in sorted(root.iterdir()):
        if (entry.is_dir() and entry.name not in NOT_PRODUCT
                and (entry / "CMakeLists.txt").exists()
                and entry.name not in order):
            found.append(f"{entry.name}/: a product folder that the root "
                         "CMakeLists.txt does not add")
    for rank, folder in enumerate(order):
        later = set(order[rank + 1:])
        for path in sorted((root / folder).rglob("*")):
            if not path.is_file():
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for header in INCLUDE.findall(text):
                top = header.split("/")[0]
                where = path.relative_to(root).as_posix()
                if "/" in header and top in later:
                    found.append(f"{where}: includes {header}, from a folder "
                                 f"after {folder}/")
                elif folder == "protocol" and (
                        header in PLATFORM_HEADERS
                        or header.startswith(PLATFORM_PREFIXES)):
                    found.append(f"{where}: includes {header}, a platform "
                                 "header")
    return found


def self_test(root):
    """The check passes on the tree and fails on each forbidden include."""
    failures = [f"the tree fails: {line}" for line in violations(root)]
    # (folder, include): added to the first header of that folder.
    cases = [
        ("protocol", '#include "platform/platform.h"'),
        ("protocol", "#include <windows.h>"),
        ("protocol", "#include <unistd.h>"),
        ("platform", '#include "protocol/exit_codes.h"'),
        ("streams", '#include "status_library/path.h"'),
        ("doctor", '#include "program/run_modes.h"'),
    ]
    for folder, include in cases:
        with tempfile.TemporaryDirectory() as work:
            copy = pathlib.Path(work)
            shutil.copy(root / "CMakeLists.txt", copy)
            for name in product_folders(root):
                shutil.copytree(root / name, copy / name)
            target = sorted((copy / folder).glob("*.h"))[0]
            target.write_text(include + "\n" + target.read_text())
            file = target.relative_to(copy).as_posix()
            found = violations(copy)
            if len(found) != 1 or not found[0].startswith(file + ":"):
                failures.append(f"{include} in {file} gives {found}")
    return failures


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and
                                   argv[1] != "--self-test"):
        sys.exit("usage: check_layering.py [--self-test] <repository root>")
    root = pathlib.Path(argv[-1])
    found = self_test(root) if len(argv) == 3 else violations(root)
    for line in found:
        print(line)
    if found:
        return 1
    print("layering: " + " < ".join(product_folders(root)) +
          "; protocol/ sees no platform header")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
