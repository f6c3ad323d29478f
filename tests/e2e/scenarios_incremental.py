"""Incremental copy (/i): a grown destination of at least 32,768 bytes whose last 4,096 bytes
still match gets only the new tail (marked "\\t*" and given the source's times); smaller files,
a changed tail, an absent destination fall back to a full copy; /+h rewrites the head too; /i
selects only absent and newer files."""

from scenario import T0, File, Scenario, lines


def pattern(size, seed=0):
    """`size` bytes of a pattern that repeats every 251 bytes (so no chunk boundary lines up)."""
    block = bytes((i * 7 + seed) % 251 for i in range(251))
    return (block * (size // len(block) + 1))[:size]


OLD = 40_000
NEW = 50_000
GROWN = pattern(NEW)
NEWER = T0 + 100


def grown_tree(destination, source=GROWN, source_time=NEWER, dest_time=T0, name="big.bin"):
    return {f"src/{name}": File(source, mtime=source_time),
            f"dst/{name}": File(destination, mtime=dest_time)}


SCENARIOS = [
    Scenario("incremental/grown-file", ["src", "dst", "/i"], tree=grown_tree(GROWN[:OLD]),
             stdout=lines("src\\big.bin\t*", " 1/1.files(1.dirs) copied."),
             result={"src/big.bin": File(GROWN, mtime=NEWER), "dst/big.bin": File(GROWN, mtime=NEWER)}),
    Scenario("incremental/grown-file-verbose", ["src", "dst", "/i", "/+v"],
             tree=grown_tree(GROWN[:OLD]),
             stdout=lines(" copy(src --> dst){",
                          "  (src\\ --> dst\\){",
                          "   src\\big.bin\t--> dst\\big.bin\t*",
                          "  }",
                          " }",
                          " 1/1.files(1.dirs) copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": GROWN}),
    Scenario("incremental/least-size", ["src\\big.bin", "dst", "/i"],
             tree=grown_tree(GROWN[:32_768]),
             stdout=lines("src\\big.bin\t*", " 1/1.files copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": GROWN}),
    Scenario("incremental/below-least-size-copies-whole", ["src\\big.bin", "dst", "/i"],
             tree=grown_tree(GROWN[:32_767]),
             stdout=lines("src\\big.bin", " 1/1.files copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": File(GROWN, mtime=NEWER)}),
    # Only the new bytes are written: a destination whose older part differs keeps it.
    Scenario("incremental/only-tail-written", ["src\\big.bin", "dst", "/i"],
             tree=grown_tree(b"X" * 1000 + GROWN[1000:OLD]),
             stdout=lines("src\\big.bin\t*", " 1/1.files copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": b"X" * 1000 + GROWN[1000:]}),
    Scenario("incremental/tail-differs-copies-whole", ["src\\big.bin", "dst", "/i"],
             tree=grown_tree(GROWN[:OLD - 10] + b"Z" + GROWN[OLD - 9:OLD]),
             stdout=lines("src\\big.bin", " 1/1.files copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": GROWN}),
    Scenario("incremental/end-of-file-mark-replaced", ["src\\big.bin", "dst", "/i"],
             tree=grown_tree(GROWN[:OLD - 1] + b"\x1a"),
             stdout=lines("src\\big.bin\t*", " 1/1.files copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": GROWN}),
    # /+h: the head is written again, and a file of unchanged size can be refreshed.
    Scenario("incremental/header-same-size", ["src\\big.bin", "dst", "/i", "/+h4"],
             tree=grown_tree(b"H" * 4096 + GROWN[4096:OLD], source=GROWN[:OLD]),
             stdout=lines("src\\big.bin\t*", " 1/1.files copied."),
             result={"src/big.bin": GROWN[:OLD], "dst/big.bin": File(GROWN[:OLD], mtime=NEWER)}),
    Scenario("incremental/header-only-its-length", ["src\\big.bin", "dst", "/i", "/+h1"],
             tree=grown_tree(b"H" * 2048 + GROWN[2048:OLD]),
             stdout=lines("src\\big.bin\t*", " 1/1.files copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": GROWN[:1024] + b"H" * 1024 + GROWN[2048:]}),
    # /i selects absent and newer files only; an absent file is copied whole.
    Scenario("incremental/selects-absent-and-newer", ["src", "dst", "/i"],
             tree={**grown_tree(GROWN[:OLD]),
                   "src/new.txt": "new\n",
                   "src/older.txt": File("older\n", mtime=T0), "dst/older.txt": File("o\n", mtime=NEWER)},
             stdout=lines("src\\big.bin\t*", "src\\new.txt", " 2/3.files(1.dirs) copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": GROWN, "src/new.txt": "new\n",
                     "dst/new.txt": "new\n", "src/older.txt": "older\n", "dst/older.txt": "o\n"}),
    # A read-only destination: without /x the update fails (no full copy follows); with /x it
    # is updated and takes the source's attributes.
    Scenario("incremental/read-only-destination-fails", ["src", "dst", "/i"],
             tree={"src/big.bin": File(GROWN, mtime=NEWER),
                   "dst/big.bin": File(GROWN[:OLD], mtime=T0, readonly=True)},
             stdout=lines("src\\big.bin\t:error(5) Access is denied.  ",
                          " 0/1.files(1.dirs) copied(1.errors)."),
             exit=1,
             result={"src/big.bin": GROWN, "dst/big.bin": File(GROWN[:OLD], mtime=T0, readonly=True)}),
    Scenario("incremental/read-only-destination-with-x", ["src", "dst", "/i", "/x"],
             tree={"src/big.bin": File(GROWN, mtime=NEWER),
                   "dst/big.bin": File(GROWN[:OLD], mtime=T0, readonly=True)},
             stdout=lines("src\\big.bin\t*", " 1/1.files(1.dirs) copied."),
             result={"src/big.bin": GROWN, "dst/big.bin": File(GROWN, mtime=NEWER, readonly=False)}),
]
