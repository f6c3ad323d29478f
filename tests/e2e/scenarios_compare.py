"""Compare mode (/c) and verification after a copy (/v): the longer, shorter and mismatch tails,
the unmatched line below the summary, files without a namesake passed over, a destination that
does not exist, chunk boundaries, and /e."""

from scenario import T0, UNCHANGED, Dir, File, Link, Scenario, lines


def pair(name, source, destination):
    """A source file and its namesake, both at the same time, so that the default selection
    takes every pair by size or by the exact match."""
    return {f"src/{name}": File(source, mtime=T0), f"dst/{name}": File(destination, mtime=T0)}


PAIRS = {
    **pair("a.txt", "abc", "abc"),
    **pair("b.txt", "abcd", "abc"),
    **pair("c.txt", "ab", "abc"),
    **pair("d.txt", "xyza", "xyzb"),
    "src/e.txt": File("no namesake", mtime=T0),
}

BIG = bytes(range(256)) * 256  # 65,536 bytes


SCENARIOS = [
    Scenario("compare/tails-and-unmatched", ["src", "dst", "/c"], tree=PAIRS,
             stdout=lines("src\\a.txt",
                          "src\\b.txt\t:longer",
                          "src\\c.txt\t:shorter",
                          "src\\d.txt\t:mismatch!(0000000003: 61 62)",
                          " 4/5.files(1.dirs) compared.",
                          " 3/4.files unmatched."),
             result=UNCHANGED),
    Scenario("compare/verbose", ["src", "dst", "/c", "/+v"], tree=PAIRS,
             stdout=lines(" compare(src <--> dst){",
                          "  (src\\ <--> dst\\){",
                          "   src\\a.txt\t<--> dst\\a.txt",
                          "   src\\b.txt\t<--> dst\\b.txt\t:longer",
                          "   src\\c.txt\t<--> dst\\c.txt\t:shorter",
                          "   src\\d.txt\t<--> dst\\d.txt\t:mismatch!(0000000003: 61 62)",
                          "  }",
                          " }",
                          " 4/5.files(1.dirs) compared.",
                          " 3/4.files unmatched."),
             result=UNCHANGED),
    Scenario("compare/all-equal", ["src", "dst", "/c", "/s"],
             tree={**pair("a.txt", "abc", "abc"), **pair("sub/b.txt", "", ""),
                   **pair("sub/c.bin", BIG, BIG)},
             stdout=lines("src\\a.txt", "src\\sub\\b.txt", "src\\sub\\c.bin",
                          " 3/3.files(2.dirs) compared."),
             result=UNCHANGED),
    Scenario("compare/mismatch-in-second-chunk", ["src\\x.bin", "dst", "/c"],
             tree=pair("x.bin", BIG + b"\x1a", BIG + b"\xa1"),
             stdout=lines("src\\x.bin\t:mismatch!(0000010000: 1A A1)",
                          " 1/1.files compared.",
                          " 1/1.files unmatched.")),
    Scenario("compare/mismatch-last-byte-of-first-chunk", ["src\\x.bin", "dst", "/c"],
             tree=pair("x.bin", BIG, BIG[:-1] + b"\x00"),
             stdout=lines("src\\x.bin\t:mismatch!(000000FFFF: FF 00)",
                          " 1/1.files compared.",
                          " 1/1.files unmatched.")),
    # A destination that does not exist: nothing is made, nothing compared.
    Scenario("compare/missing-destination", ["src", "nowhere", "/c", "/s"], tree=PAIRS,
             stdout=lines(" 0/5.files(1.dirs) compared."), result=UNCHANGED),
    # The selection applies: /+L compares only pairs whose source is larger.
    Scenario("compare/selection-applies", ["src", "dst", "/c", "/+L"], tree=PAIRS,
             stdout=lines("src\\b.txt\t:longer", " 1/5.files(1.dirs) compared.",
                          " 1/1.files unmatched.")),
    Scenario("compare/echo", ["src", "dst", "/c", "/e"], tree=PAIRS,
             stdout=lines("src\\a.txt", "src\\b.txt", "src\\c.txt", "src\\d.txt",
                          " 4/5.files(1.dirs) found."),
             result=UNCHANGED),
    # Verification after each copy: nothing more is printed when the copies match.
    Scenario("verify/copies-match", ["src", "dst", "/v", "/s"],
             tree={"src/a.txt": "abc", "src/sub/big.bin": BIG + b"tail", "src/sub/empty": ""},
             stdout=lines("src\\a.txt", "src\\sub\\big.bin", "src\\sub\\empty",
                          " 3/3.files(2.dirs) copied."),
             result={"src/a.txt": "abc", "src/sub/big.bin": BIG + b"tail", "src/sub/empty": "",
                     "dst/a.txt": "abc", "dst/sub/big.bin": BIG + b"tail", "dst/sub/empty": ""}),
    Scenario("verify/verbose", ["src\\a.txt", "dst", "/v", "/+v"],
             tree={"src/a.txt": "abc", "dst/a.txt": File("old", mtime=T0)},
             stdout=lines(" copy(src\\a.txt --> dst){",
                          "  src\\a.txt\t--> dst\\a.txt",
                          " }",
                          " 1/1.files copied."),
             result={"src/a.txt": "abc", "dst/a.txt": "abc"}),
    # A file whose status says 0 bytes but which yields data when read (/proc, /sys) is copied
    # and compared to its end, never taken for an empty file.
    Scenario("compare/size-zero-by-status-is-read-to-its-end",
             ["\\proc\\sys\\kernel\\ostype", "dst", "/c"], only="native",
             tree={"dst/ostype": ""},
             stdout=lines("\\proc\\sys\\kernel\\ostype\t:longer", " 1/1.files compared.",
                          " 1/1.files unmatched."),
             result=UNCHANGED),
    # A destination that holds more than its listing says (here a link to such a file) is not
    # equal to an empty source: both are read to their ends.
    Scenario("compare/destination-beyond-its-listed-size-is-not-equal", ["src", "dst", "/c"],
             only="native",
             tree={"src/ostype": File("", mtime=T0), "dst/ostype": Link("/proc/sys/kernel/ostype")},
             stdout=lines("src\\ostype\t:shorter", " 1/1.files(1.dirs) compared.",
                          " 1/1.files unmatched."),
             result=UNCHANGED),
    Scenario("copy/size-zero-by-status-is-read-to-its-end",
             ["\\proc\\sys\\kernel\\ostype", "dst", "/v"], only="native",
             stdout=lines("\\proc\\sys\\kernel\\ostype", " 1/1.files copied."),
             result={"dst/ostype": "Linux\n"}),
    # A copy is verified before it is published: a write the file system accepts and never
    # stores (a share that drops it; here the kernel's copy is reported done and not made)
    # fails the verification, nothing is published and the old destination stays whole.
    Scenario("verify/dropped-write-keeps-the-old-destination", ["src", "dst", "/v"],
             only="native", inject=("copy_file_range", "retval=9", 1),
             tree={"src/a.txt": File("new data\n", mtime=T0 + 100),
                   "dst/a.txt": File("old good\n", mtime=T0)},
             stdout=lines("src\\a.txt\t:longer", " 0/1.files(1.dirs) copied(1.errors).",
                          " 1/0.files unmatched."),
             exit=0x09, result=UNCHANGED),
    # A verified move verifies before it removes its source: a failed verification keeps it,
    # whether the move copies onto an older file or to another file system.
    Scenario("verify/move-over-a-file-keeps-its-source", ["src", "dst", "/m", "/v"],
             only="native", inject=("copy_file_range", "retval=9", 1),
             tree={"src/a.txt": File("new data\n", mtime=T0 + 100),
                   "dst/a.txt": File("old good\n", mtime=T0)},
             stdout=lines("src\\a.txt\t:longer", " 0/1.files(1.dirs) moved(1.errors).",
                          " 1/0.files unmatched."),
             exit=0x09, result=UNCHANGED),
    Scenario("verify/move-across-file-systems-keeps-its-source", ["src", "dst", "/m", "/v"],
             only="native", inject=("copy_file_range", "retval=9", 1), mount={"dst": "1m"},
             tree={"src/a.txt": File("new data\n", mtime=T0 + 100)},
             stdout=lines("src\\a.txt\t:longer", " 0/1.files(1.dirs) moved(1.errors).",
                          " 1/0.files unmatched."),
             exit=0x09, result={"src/a.txt": File("new data\n", mtime=T0 + 100), "dst": Dir()}),
]
