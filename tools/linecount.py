#!/usr/bin/env python3
"""Non-blank lines of the product against its tests.

Counts C, C++, Python and CMake sources of every top-level folder that
builds. Generated tables (committed or made at build time) are left out of
both sides, so the ratio measures what people write.

    python3 tools/linecount.py [repository root]
"""
import os
import sys

TESTS = ["tests"]
# Fuzzers and benchmarks are counted apart: neither is product nor a suite
# that ctest runs.
OTHER = ["fuzz", "bench"]

SUFFIXES = (".c", ".cpp", ".h", ".py", "CMakeLists.txt", ".cmake")
GENERATED = ("lng_table_", "input_classes.cpp")


def counted(name):
    if name.startswith(GENERATED):
        return False
    return name.endswith(SUFFIXES)


def lines(root, top):
    total = 0
    for folder, dirs, files in os.walk(os.path.join(root, top)):
        dirs[:] = [d for d in dirs if not d.startswith(("build", "."))]
        for name in files:
            if not counted(name):
                continue
            with open(os.path.join(folder, name), encoding="utf-8",
                      errors="replace") as f:
                total += sum(1 for line in f if line.strip())
    return total


def product_folders(root):
    """Every top-level folder that builds (has a CMakeLists.txt) and is
    neither tests nor fuzz and bench, so a new library counts by itself."""
    return sorted(d for d in os.listdir(root)
                  if os.path.isfile(os.path.join(root, d, "CMakeLists.txt"))
                  and d not in TESTS + OTHER)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    product_dirs = product_folders(root)
    product = sum(lines(root, d) for d in product_dirs)
    tests = sum(lines(root, d) for d in TESTS)
    other = sum(lines(root, d) for d in OTHER)
    print(f"product      {product:7d}")
    print(f"tests        {tests:7d}")
    print(f"fuzz+bench   {other:7d}")
    print(f"tests/product        {tests / product:6.1%}")
    print(f"tests/(all written)  {tests / (product + tests):6.1%}")


if __name__ == "__main__":
    main()
