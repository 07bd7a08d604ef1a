#!/usr/bin/env python3
"""One way to take a block: no player source calls the heap's own allocation
functions but the allocator (player/anim_alloc.cpp) and the heap itself
(player/anim_heap.*). Every other block the player takes goes through
AnimPlayer_Take and its short forms, which let the copies of what can be
drawn again go before a block the player needs is refused.

Usage: one_allocator_check.py PLAYER_DIR. Exits 1, naming each place, when
any other player file names AnimHeap_Alloc or AnimHeap_Malloc in its code
(comments and string literals aside): a call, or the function's address.
"""
import pathlib
import re
import sys

ALLOWED = {"anim_alloc.cpp", "anim_heap.cpp", "anim_heap.h"}
NAMES = re.compile(r"\bAnimHeap_(?:Alloc|Malloc)\b")
# Comments and literals, replaced by blanks of the same lines.
HIDDEN = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


def code_only(text):
    return HIDDEN.sub(lambda m: "\n" * m.group(0).count("\n") + " ", text)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    player = pathlib.Path(sys.argv[1])
    files = sorted(p for p in player.iterdir() if p.suffix in (".cpp", ".h"))
    if not files:
        print(f"no player sources in {player}")
        return 2
    found = []
    for path in files:
        if path.name in ALLOWED:
            continue
        source = path.read_text(encoding="utf-8", errors="replace")
        lines = source.split("\n")
        for number, line in enumerate(code_only(source).split("\n"), 1):
            if NAMES.search(line):
                found.append(f"{path.name}:{number}: {lines[number - 1].strip()}")
    if found:
        print("Player code outside the allocator takes heap blocks directly "
              "(use AnimPlayer_Alloc, AnimPlayer_TryAlloc or AnimPlayer_AllocCopy):")
        for f in found:
            print("  " + f)
        return 1
    print(f"{len(files)} player sources: only the allocator and the heap call AnimHeap_Alloc or AnimHeap_Malloc")
    return 0


if __name__ == "__main__":
    sys.exit(main())
