#!/usr/bin/env python3
"""Checks the layering of src/: a folder may include only folders below it (and common/), only
src/platform/ includes operating-system headers, and only src/library/ (the owner) builds
process-wide records or keeps thread-local state. Prints each violation; exits 1 when any."""
import pathlib
import re
import sys

# Lowest first. A folder may include itself, common/, and any folder listed before it.
LAYERS = ["platform", "link", "relay", "data", "hooks", "control", "display", "recording", "files",
          "backdrop", "library", "api"]
OS_HEADERS = re.compile(r"#include <(sys/|unistd\.h|pthread\.h|netinet/|arpa/|netdb\.h|fcntl\.h|"
                        r"poll\.h|sched\.h|ifaddrs\.h|net/|dlfcn\.h|signal\.h|windows\.h)")
INCLUDE = re.compile(r'#include "([a-z_]+)/')
# A record built on first use, or state kept per thread: both belong to the owner's records.
OWNED_STATE = re.compile(r"static (auto|[A-Za-z_:]+) \*[a-z_]+ = new |\bthread_local\b")


def main(src: pathlib.Path) -> int:
    rank = {name: i for i, name in enumerate(LAYERS)}
    unknown = sorted(p.name for p in src.iterdir() if p.is_dir() and p.name not in rank
                     and p.name != "common")
    problems = [f"src/{name}/ is not placed in the layer list" for name in unknown]
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".c"):
            continue
        folder = path.relative_to(src).parts[0]
        text = path.read_text(encoding="utf-8")
        for target in INCLUDE.findall(text):
            if target == folder or target not in rank and target != "common":
                continue
            if folder == "common" or (target != "common" and rank[target] > rank[folder]):
                problems.append(f"{path.relative_to(src.parent)} includes {target}/")
        if folder != "platform" and OS_HEADERS.search(text):
            problems.append(f"{path.relative_to(src.parent)} includes an operating-system header")
        if folder != "library" and OWNED_STATE.search(text):
            problems.append(f"{path.relative_to(src.parent)} keeps process state outside the owner")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")))
