"""Delete mode (/del): without a destination every accepted file goes; with one, only the files
whose relation to their namesakes the selection picks (the default selection includes files
without a namesake). Emptied subdirectories are removed; read-only files need /x."""

from scenario import T0, UNCHANGED, Dir, File, Scenario, lines


def merged(tree, add=None, drop=()):
    """The tree with the entries of `add` put in and the paths of `drop` (and all below them)
    taken out."""
    out = {path: item for path, item in tree.items()
           if not any(path == d or path.startswith(d + "/") for d in drop)}
    out.update(add or {})
    return out


TMP = {
    "src/a.tmp": "a\n",
    "src/b.tmp": "b\n",
    "src/keep.txt": "keep\n",
    "src/sub/c.tmp": "c\n",
}

# Beside the source, a destination with an identical namesake, a different one and none.
PAIRS = {
    "src/same.txt": File("same\n", mtime=T0),
    "src/diff.txt": File("source\n", mtime=T0),
    "src/only.txt": File("only\n", mtime=T0),
    "dst/same.txt": File("same\n", mtime=T0),
    "dst/diff.txt": File("destination\n", mtime=T0),
}

ROUNDED = {
    "src/doc.bin": File(b"s" * 100000, mtime=T0 + 0.7),
    "bak/doc.bin": File(b"s" * 50000, mtime=T0),
}

SCENARIOS = [
    Scenario("delete/mask-without-destination-verbose", ["{root}\\src\\*.tmp", "/del", "/s", "/+v"],
             tree=TMP,
             stdout=lines(" delete({root}\\src\\*.tmp){",
                          "  {root}\\src\\a.tmp",
                          "  {root}\\src\\b.tmp",
                          "  ({root}\\src\\sub\\*.tmp){",
                          "   {root}\\src\\sub\\c.tmp",
                          "  }",
                          "  removedir({root}\\src\\sub\\)",
                          " }",
                          " 3/3.files(1.dirs) deleted."),
             result={"src/keep.txt": "keep\n"}),
    Scenario("delete/tree-verbose", ["src", "/del", "/s", "/+v"], tree=TMP,
             stdout=lines(" delete(src){",
                          "  (src\\){",
                          "   src\\a.tmp",
                          "   src\\b.tmp",
                          "   src\\keep.txt",
                          "   (src\\sub\\){",
                          "    src\\sub\\c.tmp",
                          "   }",
                          "   removedir(src\\sub\\)",
                          "  }",
                          "  removedir(src\\)",
                          " }",
                          " 4/4.files(2.dirs) deleted."),
             result={}),
    Scenario("delete/directory-without-s", ["src", "/del"], tree=TMP,
             stdout=lines("src\\a.tmp", "src\\b.tmp", "src\\keep.txt", " 3/3.files(1.dirs) deleted."),
             result={"src/sub/c.tmp": "c\n"}),
    Scenario("delete/excluded-stays", ["src", "[keep.txt]", "/del", "/s"], tree=TMP,
             stdout=lines("src\\a.tmp", "src\\b.tmp", "src\\sub\\c.tmp", " 3/3.files(2.dirs) deleted."),
             result={"src/keep.txt": "keep\n"}),
    Scenario("delete/echo", ["src", "/del", "/s", "/e"], tree=TMP,
             stdout=lines("src\\a.tmp", "src\\b.tmp", "src\\keep.txt", "src\\sub\\c.tmp",
                          " 4/4.files(2.dirs) found."),
             result=UNCHANGED),
    # With a destination: the default selection takes files without namesake too.
    Scenario("delete/with-destination-default", ["src", "dst", "/del"], tree=PAIRS,
             stdout=lines("src\\diff.txt", "src\\only.txt", "src\\same.txt",
                          " 3/3.files(1.dirs) deleted."),
             result=merged(PAIRS, drop=["src"])),
    Scenario("delete/with-destination-identical-only", ["src", "dst", "/del", "/+m"], tree=PAIRS,
             stdout=lines("src\\same.txt", " 1/3.files(1.dirs) deleted."),
             result=merged(PAIRS, drop=["src/same.txt"])),
    # A source at 00:00:00.7 and its half-size namesake at a whole even second (as FAT, zip
    # and many restores give): the times count as the same, the sizes never do.
    Scenario("delete/identical-only-keeps-a-source-whose-backup-is-smaller",
             ["src", "bak", "/del", "/+m"], tree=ROUNDED, stdout=lines(" 0/1.files(1.dirs) deleted."),
             result=UNCHANGED),
    Scenario("delete/with-destination-overwrite-only", ["src", "dst", "/del", "/o", "/+v"],
             tree=PAIRS,
             stdout=lines(" delete(src <--> dst){",
                          "  (src\\ <--> dst\\){",
                          "   src\\diff.txt",
                          "   src\\same.txt",
                          "  }",
                          " }",
                          " 2/3.files(1.dirs) deleted."),
             result=merged(PAIRS, drop=["src/same.txt", "src/diff.txt"])),
    Scenario("delete/with-missing-destination", ["src", "nowhere", "/del", "/o"], tree=PAIRS,
             stdout=lines(" 0/3.files(1.dirs) deleted."), result=UNCHANGED),
    # A mask written where the destination stands: the delete would pair each file with a
    # namesake in a directory named *.log, find none, and take every file. Refused before
    # anything is touched; the mask belongs to the source.
    Scenario("delete/wildcard-destination-refused", ["src", "*.log", "/del", "/s"],
             tree={**TMP, "src/x.log": "x\n"},
             stdout=lines("*.log :wildcard in the destination of a delete"),
             exit=0x80, result=UNCHANGED),
    Scenario("delete/wildcard-destination-question-mark", ["src", "dst\\a?", "/del"], tree=PAIRS,
             stdout=lines("dst\\a? :wildcard in the destination of a delete"),
             exit=0x80, result=UNCHANGED),
    Scenario("delete/mask-in-the-source", ["{root}\\src\\*.log", "/del", "/s"],
             tree={**TMP, "src/x.log": "x\n", "src/sub/y.log": "y\n"},
             stdout=lines("{root}\\src\\x.log", "{root}\\src\\sub\\y.log",
                          " 2/2.files(1.dirs) deleted."),
             result=TMP),
    # A read-only file: refused without /x (status 0x02), deleted with it.
    Scenario("delete/read-only-refused", ["src", "/del"],
             tree={"src/a.txt": "a\n", "src/ro.txt": File("ro\n", readonly=True), "src/z.txt": "z\n"},
             stdout=lines("src\\a.txt", "src\\ro.txt\t:error(5) Access is denied.  ",
                          " 1/2.files(1.dirs) deleted(1.errors)."),
             exit=0x02,
             result={"src/ro.txt": File("ro\n", readonly=True), "src/z.txt": "z\n"}),
    Scenario("delete/read-only-with-x", ["src", "/del", "/x"],
             tree={"src/a.txt": "a\n", "src/ro.txt": File("ro\n", readonly=True), "src/z.txt": "z\n"},
             stdout=lines("src\\a.txt", "src\\ro.txt", "src\\z.txt", " 3/3.files(1.dirs) deleted."),
             result={}),
    # The record of a destructive run survives a kill: the line of each file already deleted
    # has reached the pipe before the next file is touched.
    Scenario("delete/killed-midway-keeps-its-record", ["src", "/del"], only="native",
             kill_at=("unlink", 2), tree=TMP, stdout=lines("src\\a.tmp"), exit=-9,
             result=merged(TMP, drop=["src/a.tmp"])),
    # A directory read-only through its mode: /x gives it the owner's write bit back and
    # removes it once emptied. (Wine, run without the right to override permissions, cannot
    # delete the file inside that directory in the first place.)
    Scenario("delete/read-only-directory-with-x", ["src", "/del", "/s", "/x"], only="native",
             tree={"src/sub/b.txt": "b\n", "src/sub": Dir(readonly=True)},
             stdout=lines("src\\sub\\b.txt", " 1/1.files(2.dirs) deleted."),
             result={}),
]
