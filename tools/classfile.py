#!/usr/bin/env python3
"""Lists what a storage-class file (repository, access, page, persistent)
holds: its sections and entries as a tree, with their kinds and sizes, and
for the inbox each message's push name and texts.

The file is a serialised section (kernel/sstore.h): entries of
  kind (1) | name length N (1) | value length V, big-endian (2) |
  value (V) | name (N) | 0 | one pad byte when 5 + V + N is odd
ended by four 0 bytes; a folder's value is a serialised section itself.

    tools/classfile.py build/bin/repository          # the tree
    tools/classfile.py --inbox build/bin/repository  # one line a message
    tools/classfile.py --count build/bin/repository  # the inbox's message count
"""
import argparse
import re
import signal
import sys

KINDS = {0: "int", 1: "string", 2: "wstring", 3: "raw", 4: "folder"}


def entries(block):
    """(kind, name, value) of a serialised section; raises ValueError on damage."""
    at = 0
    while at + 4 <= len(block):
        kind, n = block[at], block[at + 1]
        if n == 0:
            return
        v = block[at + 2] << 8 | block[at + 3]
        if at + 4 + v + n + 1 > len(block):
            raise ValueError("entry at %d runs past the block" % at)
        value = block[at + 4:at + 4 + v]
        name = block[at + 4 + v:at + 4 + v + n].decode("latin-1")
        yield kind, name, value
        step = 5 + v + n
        at += step + (step & 1)
    if at != len(block):
        raise ValueError("no end marker")


def texts(value):
    """The readable texts of a record: 8-bit runs and UTF-16LE runs."""
    found = [m.decode("latin-1") for m in re.findall(rb"[\x20-\x7e]{4,}", value)]
    for shift in (0, 1):
        for m in re.findall(rb"(?:[\x20-\x7e]\x00){3,}", value[shift:]):
            found.append(m.decode("utf-16-le"))
    return found


def tree(block, depth=0, out=sys.stdout):
    for kind, name, value in entries(block):
        label = KINDS.get(kind, "kind %d" % kind)
        print("%s%s (%s, %d bytes)" % ("  " * depth, name, label, len(value)), file=out)
        if kind == 4:
            tree(value, depth + 1, out)


def inbox(block):
    for kind, name, value in entries(block):
        if kind == 4 and name == "inbox":
            return [(n, v) for k, n, v in entries(value) if re.fullmatch(r"m\d+", n)], value
    return [], b""


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("file")
    p.add_argument("--inbox", action="store_true", help="one line a message of the inbox")
    p.add_argument("--count", action="store_true", help="the number of the inbox's messages")
    args = p.parse_args()
    try:
        data = open(args.file, "rb").read()
    except OSError as e:
        print("%s: %s" % (args.file, e.strerror), file=sys.stderr)
        return 1
    try:
        if args.count:
            print(len(inbox(data)[0]))
        elif args.inbox:
            messages, section = inbox(data)
            print("inbox: %d messages, %d bytes" % (len(messages), len(section)))
            for name, value in messages:
                push = re.search(rb"push:[^\x00-\x20|]*?\.\d+", value)
                shown = []
                for t in texts(value):
                    if "push:" not in t and t not in shown:
                        shown.append(t)
                print("%s %d bytes %s %s" % (name, len(value), push.group().decode() if push else "-",
                                            " | ".join(shown)))
        else:
            print("%s: %d bytes" % (args.file, len(data)))
            tree(data)
    except ValueError as e:
        print("%s: damaged: %s" % (args.file, e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
