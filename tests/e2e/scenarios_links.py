"""Symbolic links in the trees: a link to a directory that the walk is already inside is refused
(one failure, error 1921), while a link to any other directory is followed as the directory. A
destination that leads into the source through a link is the same path."""

from scenario import UNCHANGED, Link, Scenario, lines

LOOP = "\t:error(1921) The name of the file cannot be resolved by the system.  "

UP = {"src/a/f.txt": "x\n", "src/a/up": Link(".."), "dst/keep": "keep\n"}

TOP = {"src/a/f.txt": "x\n", "src/a/top": Link("{root}/src"), "src/b.txt": "b\n"}

# Two links that lead into each other's directory.
CROSS = {"src/x/f.txt": "f\n", "src/x/toy": Link("../y"), "src/y/g.txt": "g\n",
         "src/y/tox": Link("../x")}

# A link to a directory beside it: followed, as the directory it leads to.
BESIDE = {"src/a/f.txt": "x\n", "src/b/toa": Link("../a")}

# Destinations that are links: into the source, to the source, and to a directory elsewhere.
INTO = {"src/a.txt": "a\n", "src/sub/c.txt": "c\n", "dlink": Link("src/sub"), "slink": Link("src"),
        "other/keep": "keep\n", "olink": Link("other")}
SAME = lines("Source and destination are the same path.")

SCENARIOS = [
    # The link leads back to src: without the refusal the walk copied f.txt 41 times.
    Scenario("links/to-parent-refused", ["src", "dst", "/s"], tree=UP,
             stdout=lines("src\\a\\f.txt",
                          "src\\a\\up\\" + LOOP,
                          " 1/1.files(2.dirs) copied(1.errors)."),
             exit=0x01,
             result={**UP, "dst/a/f.txt": "x\n"}),
    # A delete records the delete's status; the directories stay, as their content is not
    # all gone.
    Scenario("links/to-parent-delete-verbose", ["src", "/del", "/s", "/+c", "/+v"], tree=UP,
             stdout=lines(" delete(src){",
                          "  (src\\){",
                          "   (src\\a\\){",
                          "    src\\a\\f.txt",
                          "    src\\a\\up\\" + LOOP,
                          "   }",
                          "  }",
                          " }",
                          " 1/1.files(2.dirs) deleted(1.errors)."),
             exit=0x02,
             result={"src/a/up": Link(".."), "dst/keep": "keep\n"}),
    # An absolute link to the top source directory, walked as a whole directory.
    Scenario("links/to-top-source-refused", ["{root}\\src\\", "dst", "/s", "/+c"], tree=TOP,
             stdout=lines("{root}\\src\\a\\f.txt",
                          "{root}\\src\\a\\top\\" + LOOP,
                          "{root}\\src\\b.txt",
                          " 2/2.files(1.dirs) copied(1.errors)."),
             exit=0x01,
             result={**TOP, "dst/a/f.txt": "x\n", "dst/b.txt": "b\n"}),
    # A loop through two links: each is followed once, then refused where it leads back.
    Scenario("links/two-link-loop-refused", ["src", "dst", "/s", "/+c"], tree=CROSS,
             stdout=lines("src\\x\\f.txt",
                          "src\\x\\toy\\g.txt",
                          "src\\x\\toy\\tox\\" + LOOP,
                          "src\\y\\g.txt",
                          "src\\y\\tox\\f.txt",
                          "src\\y\\tox\\toy\\" + LOOP,
                          " 4/4.files(5.dirs) copied(2.errors)."),
             exit=0x01,
             result={**CROSS, "dst/x/f.txt": "f\n", "dst/x/toy/g.txt": "g\n",
                     "dst/y/g.txt": "g\n", "dst/y/tox/f.txt": "f\n"}),
    Scenario("links/to-directory-beside-followed", ["src", "dst", "/s"], tree=BESIDE,
             stdout=lines("src\\a\\f.txt", "src\\b\\toa\\f.txt", " 2/2.files(4.dirs) copied."),
             result={**BESIDE, "dst/a/f.txt": "x\n", "dst/b/toa/f.txt": "x\n"}),
    # Moved into src/sub/sub, a.txt counted twice, before the refusal.
    Scenario("links/destination-into-source-refused", ["src", "dlink", "/s", "/m"], tree=INTO,
             stdout=SAME, exit=0xF0, result=UNCHANGED),
    Scenario("links/destination-is-the-source-refused", ["src", "slink", "/s"], tree=INTO,
             stdout=SAME, exit=0xF0, result=UNCHANGED),
    Scenario("links/destination-below-a-link-into-source-refused", ["src", "dlink\\new\\deeper"],
             tree=INTO, stdout=SAME, exit=0xF0, result=UNCHANGED),
    Scenario("links/destination-masked-into-source-refused", ["{root}\\src\\*.txt", "dlink", "/s"],
             tree=INTO, stdout=SAME, exit=0xF0, result=UNCHANGED),
    Scenario("links/destination-elsewhere-followed", ["src", "olink", "/s"], tree=INTO,
             stdout=lines("src\\a.txt", "src\\sub\\c.txt", " 2/2.files(2.dirs) copied."),
             result={**INTO, "other/a.txt": "a\n", "other/sub/c.txt": "c\n"}),
]
