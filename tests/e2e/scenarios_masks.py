"""Masks: mask lists (one walk per mask), plain-name masks that carry the destination along,
the leading-dot shorthand, a mask list after a source that is a file, and bracketed exclusions
(by extension, by name without extension, by directory name; never by wildcard)."""

from scenario import UNCHANGED, Dir, Scenario, lines


def merged(tree, add=None, drop=()):
    """The tree with the entries of `add` put in and the paths of `drop` (and all below them)
    taken out."""
    out = {path: item for path, item in tree.items()
           if not any(path == d or path.startswith(d + "/") for d in drop)}
    out.update(add or {})
    return out


CODE = {
    "src/a.c": "int a;\n",
    "src/b.h": "int b();\n",
    "src/c.txt": "text\n",
    "src/sub/d.c": "int d;\n",
    "dst/keep": "keep\n",
}

NAMED = {
    "src/sub1/a.txt": "one\n",
    "src/sub2/b.txt": "two\n",
    "src/sub3/c.txt": "three\n",
    "src/top.txt": "top\n",
}

TEXTS = {
    "src/a.txt": "a\n",
    "src/b.txt": "b\n",
    "src/c.log": "c\n",
    "src/sub/d.txt": "d\n",
    "src/sub/e.log": "e\n",
    "dst/keep": "keep\n",
}

EXCL = {
    "src/a.txt": "a\n",
    "src/a.bak": "bak\n",
    "src/a.bak.txt": "not a bak\n",
    "src/x.y.bak": "bak too\n",
    "src/old.bak/f.txt": "in a directory named like a bak\n",
    "src/sub/b.BAK": "upper-case bak\n",
    "src/readme": "no extension\n",
    "src/readme.txt": "has one\n",
    "src/temp/x.txt": "in temp\n",
    "src/deep/TEMP/y.txt": "in TEMP\n",
    "src/deep/temp.txt": "file named temp.txt\n",
    "src/deep/z/temp": "a file named temp\n",
}

SCENARIOS = [
    # A directory whose name matches the mask carried down by /s is no file of the first pass:
    # only what the mask takes inside it is copied, in the subdirectory pass (also when workers
    # list the entries ahead, whose names must not count as the mask as typed).
    Scenario("masks/carried-mask-matching-a-directory", ["src\\*.txt", "dst", "/s"],
             tree={"src/d.txt/a.txt": "alpha\n", "src/d.txt/b.dat": "beta\n"},
             stdout=lines("src\\d.txt\\a.txt", " 1/1.files(1.dirs) copied."),
             result={"src/d.txt/a.txt": "alpha\n", "src/d.txt/b.dat": "beta\n",
                     "dst/d.txt/a.txt": "alpha\n"}),
    # A mask list: each mask is one walk of the source directory.
    Scenario("masks/list", ["src", "*.c", "*.h", "dst"], tree=CODE,
             stdout=lines("src\\a.c", "src\\b.h", " 2/2.files copied."),
             result=merged(CODE, {"dst/a.c": "int a;\n", "dst/b.h": "int b();\n"})),
    Scenario("masks/list-verbose-recurse", ["src", "*.c", "*.h", "dst", "/s", "/+v"], tree=CODE,
             stdout=lines(" copy(src\\*.c --> dst){",
                          "  src\\a.c\t--> dst\\a.c",
                          "  (src\\sub\\*.c --> dst\\sub\\){",
                          "   createdir(dst\\sub)",
                          "   src\\sub\\d.c\t--> dst\\sub\\d.c",
                          "  }",
                          " }",
                          " copy(src\\*.h --> dst){",
                          "  src\\b.h\t--> dst\\b.h",
                          "  (src\\sub\\*.h --> dst\\sub\\){}",
                          " }",
                          " 3/3.files(2.dirs) copied."),
             result=merged(CODE, {"dst/a.c": "int a;\n", "dst/b.h": "int b();\n",
                                  "dst/sub/d.c": "int d;\n"})),
    # Overlapping masks reach one file twice: no collision, it is copied again as today.
    Scenario("masks/list-overlapping", ["src", "*.c", "a*", "dst"], tree=CODE,
             stdout=lines("src\\a.c", "src\\a.c", " 2/2.files copied."),
             result=merged(CODE, {"dst/a.c": "int a;\n"})),
    Scenario("masks/list-without-source", ["*.c", "dst"], tree={"a.c": "x\n", "b.h": "y\n"},
             stdout=lines("a.c", " 1/1.files copied."),
             result={"a.c": "x\n", "b.h": "y\n", "dst/a.c": "x\n"}),
    Scenario("masks/list-finds-nothing-names-last-mask", ["src", "*.x", "*.y", "dst"], tree=CODE,
             stdout=lines("src\\*.y :file not found."), exit=0xA0, result=CODE),
    # A failure ends the run before the next mask unless /+c is given.
    Scenario("masks/list-stops-after-failure", ["src", "*.c", "*.h", "dst"],
             tree=merged(CODE, {"dst/a.c/x": ""}),
             stdout=lines("src\\a.c\t:error(5) Access is denied.  ",
                          " 0/1.files copied(1.errors)."),
             exit=1, result=merged(CODE, {"dst/a.c/x": ""})),
    Scenario("masks/list-continues-after-failure", ["src", "*.c", "*.h", "dst", "/+c"],
             tree=merged(CODE, {"dst/a.c/x": ""}),
             stdout=lines("src\\a.c\t:error(5) Access is denied.  ", "src\\b.h",
                          " 1/2.files copied(1.errors)."),
             exit=1, result=merged(CODE, {"dst/a.c/x": "", "dst/b.h": "int b();\n"})),
    # Plain names as masks: each walks that subdirectory into the namesake below the destination.
    Scenario("masks/plain-names-verbose", ["src", "sub1", "sub2", "dst", "/+v"],
             tree=merged(NAMED, {"dst/keep": "keep\n"}),
             stdout=lines(" copy(src\\sub1 --> dst\\sub1){",
                          "  (src\\sub1\\ --> dst\\sub1\\){",
                          "   createdir(dst\\sub1)",
                          "   src\\sub1\\a.txt\t--> dst\\sub1\\a.txt",
                          "  }",
                          " }",
                          " copy(src\\sub2 --> dst\\sub2){",
                          "  (src\\sub2\\ --> dst\\sub2\\){",
                          "   createdir(dst\\sub2)",
                          "   src\\sub2\\b.txt\t--> dst\\sub2\\b.txt",
                          "  }",
                          " }",
                          " 2/2.files(2.dirs) copied."),
             result=merged(NAMED, {"dst/keep": "keep\n", "dst/sub1/a.txt": "one\n",
                                   "dst/sub2/b.txt": "two\n"})),
    # The star of the destination takes the source directory's name first (as for any source),
    # so the named subdirectories go below dst\src.
    Scenario("masks/plain-names-star-destination", ["src", "sub1", "sub3", "dst\\*"], tree=NAMED,
             stdout=lines("src\\sub1\\a.txt", "src\\sub3\\c.txt", " 2/2.files(2.dirs) copied."),
             result=merged(NAMED, {"dst/src/sub1/a.txt": "one\n", "dst/src/sub3/c.txt": "three\n"})),
    Scenario("masks/plain-name-and-pattern", ["src", "sub2", "*.txt", "dst"], tree=NAMED,
             stdout=lines("src\\sub2\\b.txt", "src\\top.txt", " 2/2.files(1.dirs) copied."),
             result=merged(NAMED, {"dst/sub2/b.txt": "two\n", "dst/top.txt": "top\n"})),
    # A mask is a name or a path below its source: one that climbs out with .. (and would be
    # followed into the destination as bak\outside) or an absolute one is refused before any
    # mask is walked.
    Scenario("masks/climbing-mask-is-refused", ["src", "*.c", "..\\outside", "bak\\dst"],
             tree=merged(CODE, {"outside/f.txt": "outside\n", "bak/dst": Dir()}, drop=["dst"]),
             stdout=lines("..\\outside :not a path below the source"), exit=0x80,
             result=UNCHANGED),
    Scenario("masks/absolute-mask-is-refused", ["src", "*.c", "{root}\\outside", "dst", "/m"],
             tree=merged(CODE, {"outside/f.txt": "outside\n"}),
             stdout=lines("{root}\\outside :not a path below the source"), exit=0x80,
             result=UNCHANGED),
    # A source that is a file: it is walked first, then each mask in its directory.
    Scenario("masks/after-a-file-source", ["src\\readme", "*.c", "dst"],
             tree=merged(CODE, {"src/readme": "read me\n"}),
             stdout=lines("src\\readme", "src\\a.c", " 2/2.files copied."),
             result=merged(CODE, {"src/readme": "read me\n", "dst/readme": "read me\n",
                                  "dst/a.c": "int a;\n"})),
    # The leading-dot shorthand: .txt stands for *.txt, in a mask and in a source.
    Scenario("masks/leading-dot", ["src", ".txt", "dst", "/+v"], tree=TEXTS,
             stdout=lines(" copy(src\\.txt --> dst){",
                          "  src\\a.txt\t--> dst\\a.txt",
                          "  src\\b.txt\t--> dst\\b.txt",
                          " }",
                          " 2/2.files copied."),
             result=merged(TEXTS, {"dst/a.txt": "a\n", "dst/b.txt": "b\n"})),
    Scenario("masks/leading-dot-recurse", ["src", ".txt", ".log", "dst", "/s"], tree=TEXTS,
             stdout=lines("src\\a.txt", "src\\b.txt", "src\\sub\\d.txt", "src\\c.log",
                          "src\\sub\\e.log", " 5/5.files(2.dirs) copied."),
             result=merged(TEXTS, {"dst/a.txt": "a\n", "dst/b.txt": "b\n", "dst/c.log": "c\n",
                                   "dst/sub/d.txt": "d\n", "dst/sub/e.log": "e\n"})),
    Scenario("masks/leading-dot-in-source", ["{root}\\src\\.log", "dst", "/s", "/+v"], tree=TEXTS,
             stdout=lines(" copy({root}\\src\\.log --> dst){",
                          "  {root}\\src\\c.log\t--> dst\\c.log",
                          "  ({root}\\src\\sub\\*.log --> dst\\sub\\){",
                          "   createdir(dst\\sub)",
                          "   {root}\\src\\sub\\e.log\t--> dst\\sub\\e.log",
                          "  }",
                          " }",
                          " 2/2.files(1.dirs) copied."),
             result=merged(TEXTS, {"dst/c.log": "c\n", "dst/sub/e.log": "e\n"})),
    # /s with a file name: every file of that name, each into the matching subdirectory.
    Scenario("masks/recurse-with-file-name", ["{root}\\src\\d.txt", "dst", "/s"],
             tree=merged(TEXTS, {"src/d.txt": "top d\n", "src/sub/deeper/d.txt": "deep d\n"}),
             stdout=lines("{root}\\src\\d.txt", "{root}\\src\\sub\\d.txt",
                          "{root}\\src\\sub\\deeper\\d.txt", " 3/3.files(2.dirs) copied."),
             result=merged(TEXTS, {"src/d.txt": "top d\n", "src/sub/deeper/d.txt": "deep d\n",
                                   "dst/d.txt": "top d\n", "dst/sub/d.txt": "d\n",
                                   "dst/sub/deeper/d.txt": "deep d\n"})),
    # Exclusions: .ext by extension (files only), name. by name without extension, a plain name
    # by directory name; letter case folded; no wildcards.
    Scenario("masks/exclude-extension", ["src", "[.bak]", "dst", "/s"], tree=EXCL,
             stdout=lines("src\\a.bak.txt", "src\\a.txt", "src\\deep\\TEMP\\y.txt",
                          "src\\deep\\temp.txt", "src\\deep\\z\\temp",
                          "src\\old.bak\\f.txt", "src\\readme", "src\\readme.txt",
                          "src\\temp\\x.txt", " 9/9.files(7.dirs) copied."),
             result=merged(EXCL, {"dst/a.bak.txt": "not a bak\n", "dst/a.txt": "a\n",
                                  "dst/deep/temp.txt": "file named temp.txt\n",
                                  "dst/deep/TEMP/y.txt": "in TEMP\n",
                                  "dst/deep/z/temp": "a file named temp\n",
                                  "dst/old.bak/f.txt": "in a directory named like a bak\n",
                                  "dst/readme": "no extension\n", "dst/readme.txt": "has one\n",
                                  "dst/sub": Dir(), "dst/temp/x.txt": "in temp\n"})),
    Scenario("masks/exclude-group-over-arguments", ["src", "[.bak", "temp", "readme.]", "dst", "/s"],
             tree=EXCL,
             stdout=lines("src\\a.bak.txt", "src\\a.txt", "src\\deep\\temp.txt",
                          "src\\deep\\z\\temp", "src\\old.bak\\f.txt", "src\\readme.txt",
                          " 6/6.files(5.dirs) copied."),
             result=merged(EXCL, {"dst/a.bak.txt": "not a bak\n", "dst/a.txt": "a\n",
                                  "dst/deep/temp.txt": "file named temp.txt\n",
                                  "dst/deep/z/temp": "a file named temp\n",
                                  "dst/old.bak/f.txt": "in a directory named like a bak\n",
                                  "dst/readme.txt": "has one\n", "dst/sub": Dir()})),
    Scenario("masks/exclude-whole-name", ["src", "[a.txt]", "[readme.txt]", "dst"], tree=EXCL,
             stdout=lines("src\\a.bak", "src\\a.bak.txt", "src\\readme", "src\\x.y.bak",
                          " 4/4.files(1.dirs) copied.")),
    Scenario("masks/exclude-wildcard-excludes-nothing", ["src", "[*.bak]", "[a?txt]", "dst"],
             tree=EXCL,
             stdout=lines("src\\a.bak", "src\\a.bak.txt", "src\\a.txt", "src\\readme",
                          "src\\readme.txt", "src\\x.y.bak", " 6/6.files(1.dirs) copied.")),
    Scenario("masks/exclude-in-mask-list", ["src", "*.txt", "*.bak", "[a.txt]", "[.bak]", "dst"],
             tree=EXCL,
             stdout=lines("src\\a.bak.txt", "src\\readme.txt", " 2/2.files copied.")),
]
