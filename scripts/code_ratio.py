#!/usr/bin/env python3
"""Non-blank lines of test code over non-blank lines of product code.

Counted: the C and C++ sources and headers git tracks (.c .cc .cpp .h .hpp).
Test code is
  - every *_test.cpp / *_test.h file,
  - everything under a folder named testing/ or tests/ (test doubles,
    fixtures, helper programs the tests start),
  - the programs and modules only tests start or load (test_*, testing_*),
  - the fuzz targets (fuzz/),
  - any header that only test code includes (found by following the
    #include lines until nothing changes), since it exists only for tests.
Benchmarks (bench/) measure speed and are neither; everything else is product
code: the deliverables, their libraries, the platform layer and the tools.

Usage: code_ratio.py [--list] [source folder]
"""
import os
import re
import subprocess
import sys

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def tracked_sources(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "--cached", "--others",
                              "--exclude-standard"], check=True,
                             capture_output=True, text=True).stdout
        paths = out.splitlines()
    except (OSError, subprocess.CalledProcessError):
        paths = []
    if not paths:
        # Not a checkout: every file but the build folders.
        for folder, subfolders, names in os.walk(root):
            subfolders[:] = [d for d in subfolders if d != "build" and not d.startswith(".")]
            paths += [os.path.relpath(os.path.join(folder, n), root) for n in names]
    return sorted(p for p in set(paths)
                  if p.endswith(SOURCE_SUFFIXES) and os.path.isfile(os.path.join(root, p)))


def is_test_by_name(path):
    parts = path.split("/")
    name = parts[-1]
    return (re.search(r"_test\.(cpp|h)$", name) is not None
            or name.startswith(("test_", "testing_"))
            or "testing" in parts[:-1] or "tests" in parts[:-1] or parts[0] == "fuzz")


def resolve(root, including, target, known):
    # Includes are written from the root ("platform/platform.h") or beside
    # the including file ("tess_internal.h").
    beside = os.path.normpath(os.path.join(os.path.dirname(including), target))
    for candidate in (target, beside):
        if candidate in known:
            return candidate
    return None


def classify(root):
    files = tracked_sources(root)
    known = set(files)
    texts = {}
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            texts[path] = f.read()
    includers = {path: set() for path in files}
    for path, text in texts.items():
        for target in INCLUDE.findall(text):
            hit = resolve(root, path, target, known)
            if hit and hit != path:
                includers[hit].add(path)
    test = {p for p in files if is_test_by_name(p)}
    changed = True
    while changed:
        changed = False
        for path in files:
            if path in test or not path.endswith((".h", ".hpp")):
                continue
            users = includers[path]
            if users and users <= test:
                test.add(path)
                changed = True
    kinds = {}
    for path in files:
        if path in test:
            kinds[path] = "test"
        elif path.startswith("bench/"):
            kinds[path] = "bench"
        else:
            kinds[path] = "product"
    return kinds, texts


def main():
    args = [a for a in sys.argv[1:] if a != "--list"]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    kinds, texts = classify(root)
    lines = {"test": 0, "product": 0, "bench": 0}
    for path, kind in sorted(kinds.items()):
        count = sum(1 for line in texts[path].splitlines() if line.strip())
        lines[kind] += count
        if "--list" in sys.argv:
            print(f"{kind:8} {count:6} {path}")
    ratio = lines["test"] / lines["product"] if lines["product"] else 0.0
    print(f"test-to-code ratio {ratio:.3f} ({lines['test']} test lines over "
          f"{lines['product']} product lines, non-blank)")


if __name__ == "__main__":
    main()
