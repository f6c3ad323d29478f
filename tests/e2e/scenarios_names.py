"""Names the path syntax spells one way only: a POSIX name that ends in a dot is that entry when
it exists as written (readme and readme. may be two files), and the final dot that the
program gives a plain name for its own use never names the file with the dot. A POSIX name
that holds a backslash cannot be spelled at all: it is never acted on, paired or descended,
and is reported instead."""

from scenario import T0, Dir, File, Scenario, lines

DOTS = {"src/readme": "plain\n", "src/readme.": "dotted\n",
        "src/sub/readme": "sub plain\n", "src/sub/readme.": "sub dotted\n"}



CASE_PAIR = {"src/X.txt": File("A\n", mtime=T0), "src/x.txt": File("B, later\n", mtime=T0 + 60)}

# A file named a\\b beside the directory a, which holds b.
BACKSLASH = {"src/a/b": "keep\n", "src/a\\b": "odd\n", "src/c.txt": "c\n"}
BAD = "\t:error(123) The filename, directory name, or volume label syntax is incorrect.  "


def without(tree, *paths):
    return {path: item for path, item in tree.items() if path not in paths}


# Names made only of dots, beside a plain one: on POSIX each is an entry like any other.
DOT_RUNS = {"src/...": "precious\n", "src/....": "four\n", "src/...../f.txt": "f\n",
            "src/a.txt": "a\n"}
DOT_RUNS_COPIED = lines("src\\...", "src\\....", "src\\.....\\f.txt", "src\\a.txt")
WINDOWS_DOT_RUNS = "Windows cannot spell a name made of dots: refused (error 123)"
DOT_RUNS_REFUSED = lines("src\\..." + BAD, "src\\...." + BAD, "src\\....." + BAD, "src\\a.txt")

SCENARIOS = [
    # Native only: Windows names cannot end in a dot, so readme and readme. cannot both exist.
    Scenario("names/trailing-dot-names-its-own-entry", ["{root}\\src\\readme.", "/del"], tree=DOTS,
             stdout=lines("{root}\\src\\readme.", " 1/1.files deleted."),
             result=without(DOTS, "src/readme."), only="native"),
    Scenario("names/plain-name-names-the-entry-without-dot", ["{root}\\src\\readme", "/del"],
             tree=DOTS,
             stdout=lines("{root}\\src\\readme", " 1/1.files deleted."),
             result=without(DOTS, "src/readme"), only="native"),
    Scenario("names/trailing-dot-carried-down", ["{root}\\src\\readme.", "/del", "/s"], tree=DOTS,
             stdout=lines("{root}\\src\\readme.", "{root}\\src\\sub\\readme.",
                          " 2/2.files(1.dirs) deleted."),
             result=without(DOTS, "src/readme.", "src/sub/readme."), only="native"),
    Scenario("names/plain-name-carried-down", ["{root}\\src\\readme", "dst", "/s"], tree=DOTS,
             stdout=lines("{root}\\src\\readme", "{root}\\src\\sub\\readme",
                          " 2/2.files(1.dirs) copied."),
             result={**DOTS, "dst/readme": "plain\n", "dst/sub/readme": "sub plain\n"},
             only="native"),
    # Only . and .. are no entries: the others were left out, not counted and left behind by a
    # move, without a word. (Dot names are hidden on POSIX: /x.) Windows drops trailing dots, so
    # no path spells them there: each is refused like a name that holds a backslash.
    Scenario("names/dot-runs-are-copied", ["src", "dst", "/s", "/x", "/+c"], tree=DOT_RUNS,
             stdout=DOT_RUNS_COPIED + lines(" 4/4.files(2.dirs) copied."),
             result={**DOT_RUNS, **{"dst/" + path[4:]: item for path, item in DOT_RUNS.items()}},
             wine={"reason": WINDOWS_DOT_RUNS,
                   "stdout": DOT_RUNS_REFUSED + lines(" 1/3.files(1.dirs) copied(3.errors)."),
                   "exit": 0x01, "result": {**DOT_RUNS, "dst/a.txt": "a\n"}}),
    Scenario("names/dot-runs-are-moved", ["src", "dst", "/s", "/x", "/m", "/+c"], tree=DOT_RUNS,
             stdout=DOT_RUNS_COPIED + lines(" 4/4.files(2.dirs) moved."),
             result={"dst/" + path[4:]: item for path, item in DOT_RUNS.items()},
             wine={"reason": WINDOWS_DOT_RUNS,
                   "stdout": DOT_RUNS_REFUSED + lines(" 1/3.files(1.dirs) moved(3.errors)."),
                   "exit": 0x03, "result": {**without(DOT_RUNS, "src/a.txt"), "dst/a.txt": "a\n"}}),
    # Native only below: Windows names cannot hold a backslash (Wine shows such a file under
    # another name).
    # The directory a is excluded, so src\\a\\b would have been deleted only through a\\b.
    Scenario("names/backslash-delete-stops", ["src", "/del", "/s", "[a]"], tree=BACKSLASH,
             stdout=lines("src\\a\\b" + BAD, " 0/1.files(1.dirs) deleted(1.errors)."),
             exit=0x02, result=BACKSLASH, only="native"),
    Scenario("names/backslash-delete-continues", ["src", "/del", "/s", "/+c", "[a]"],
             tree=BACKSLASH,
             stdout=lines("src\\a\\b" + BAD, "src\\c.txt", " 1/2.files(1.dirs) deleted(1.errors)."),
             exit=0x02, result=without(BACKSLASH, "src/c.txt"), only="native"),
    # A move would have taken src/a/b into dst/a/b.
    Scenario("names/backslash-move", ["src", "dst", "/m", "/+c"],
             tree={**BACKSLASH, "dst/a": Dir()},
             stdout=lines("src\\a\\b" + BAD, "src\\c.txt", " 1/2.files(1.dirs) moved(1.errors)."),
             exit=0x03,
             result={**without(BACKSLASH, "src/c.txt"), "dst/a": Dir(), "dst/c.txt": "c\n"},
             only="native"),
    # A directory whose name holds a backslash is reported where /s would descend it; the
    # directory that holds it is not removed, as it is not empty.
    Scenario("names/backslash-directory-verbose", ["src", "/del", "/s", "/+c", "/+v"],
             tree={"src/x/y/g.txt": "g\n", "src/x\\y/f.txt": "f\n"},
             stdout=lines(" delete(src){",
                          "  (src\\){",
                          "   (src\\x\\){",
                          "    (src\\x\\y\\){",
                          "     src\\x\\y\\g.txt",
                          "    }",
                          "    removedir(src\\x\\y\\)",
                          "   }",
                          "   removedir(src\\x\\)",
                          "   src\\x\\y" + BAD,
                          "  }",
                          " }",
                          " 1/1.files(3.dirs) deleted(1.errors)."),
             exit=0x02, result={"src/x\\y/f.txt": "f\n"}, only="native"),
    # Two names that differ only in letter case, copied to a destination that folds case: the
    # second never replaces the copy of the first (80). A POSIX destination keeps two files; a
    # case-folding one cannot be had natively here (a kernel without case folding for tmpfs).
    Scenario("names/letter-case-pair-onto-a-case-folding-destination", ["src", "dst"],
             tree=CASE_PAIR,
             stdout=lines("src\\X.txt", "src\\x.txt", " 2/2.files(1.dirs) copied."),
             result=dict(CASE_PAIR, **{"dst/X.txt": "A\n", "dst/x.txt": "B, later\n"}),
             wine={"reason": "Wine folds letter case in the destination: x.txt names X.txt there",
                   "stdout": lines("src\\X.txt", "src\\x.txt\t:error(80) The file exists.  ",
                                   " 1/2.files(1.dirs) copied(1.errors)."),
                   "exit": 0x01, "result": dict(CASE_PAIR, **{"dst/X.txt": "A\n"})}),
]
