#!/usr/bin/env python3
"""Builds the trees of the large-tree benchmark quickly, in one process.

  maketree.py large <dir>    the million-entry tree, no directory above 20,000 entries:
                             wide/p00..p09 with 20,000 files each, a chain deep/d/d/... 100
                             levels deep with 5 files on each level, and the rest of the million
                             in many/aNN/ directories of 1,000 files; files of 0 to 1 KiB
  maketree.py join <dir>     moves wide/p*/ up into wide/ itself: one directory of 200,000 files
  maketree.py walk <dir>     the tree of bench/walk: 200 directories of 100 files of 1-8 KiB
  maketree.py count <dir>    prints the entries below <dir> and the largest directory
"""
import os
import random
import sys

ENTRIES = 1_000_000
WIDE_PARTS, WIDE_PART_FILES = 10, 20_000
DEPTH, DEEP_FILES = 100, 5
MANY_FILES = 1_000


def write_files(directory, names, sizes, block):
    """Writes one file per name, its content a slice of `block`."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL
    dir_fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for name, size in zip(names, sizes):
            fd = os.open(name, flags, 0o644, dir_fd=dir_fd)
            if size:
                os.write(fd, block[size:size + size])
            os.close(fd)
    finally:
        os.close(dir_fd)


def build_large(root):
    random.seed(12)
    block = random.randbytes(1 << 20)
    made = 0

    def files(directory, count, prefix="f"):
        nonlocal made
        os.makedirs(directory, exist_ok=True)
        names = ["%s%06d.dat" % (prefix, i) for i in range(count)]
        write_files(directory, names, [random.randint(0, 1024) for _ in names], block)
        made += count

    os.makedirs(os.path.join(root, "wide"))
    made += 1
    for part in range(WIDE_PARTS):
        made += 1
        files(os.path.join(root, "wide", "p%02d" % part), WIDE_PART_FILES)

    level = os.path.join(root, "deep")
    made += 1
    for _ in range(DEPTH):
        level = os.path.join(level, "d")
        made += 1
        files(level, DEEP_FILES)

    many = os.path.join(root, "many")
    made += 1
    group = 0
    while made < ENTRIES:
        directory = os.path.join(many, "a%03d" % group)
        made += 1
        files(directory, min(MANY_FILES, ENTRIES - made))
        group += 1


def join_wide(root):
    wide = os.path.join(root, "wide")
    for part in sorted(os.listdir(wide)):
        path = os.path.join(wide, part)
        for name in os.listdir(path):
            os.rename(os.path.join(path, name), os.path.join(wide, "%s-%s" % (part, name)))
        os.rmdir(path)


def build_walk(root):
    # The same tree as bench/walk/run.sh builds (same seed, names and sizes).
    random.seed(7)
    for d in range(200):
        path = os.path.join(root, "d%03d" % d)
        os.makedirs(path)
        for f in range(100):
            with open(os.path.join(path, "f%03d.dat" % f), "wb") as out:
                out.write(random.randbytes(random.randint(1024, 8192)))


def count(root):
    entries, largest = 0, 0
    for _, dirs, names in os.walk(root):
        here = len(dirs) + len(names)
        entries += here
        largest = max(largest, here)
    print(entries, largest)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    command, root = sys.argv[1], sys.argv[2]
    actions = {"large": build_large, "join": join_wide, "walk": build_walk, "count": count}
    if command not in actions:
        sys.exit(__doc__)
    actions[command](root)


if __name__ == "__main__":
    main()
