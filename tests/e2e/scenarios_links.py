"""Symbolic links in the trees: a copy or compare refuses a link to a directory that the walk is
already inside (one failure, error 1921) and follows a link to any other directory as the
directory. A move or delete takes every link as an entry of its own: it moves or deletes the link
itself and never walks or touches what it leads to, except that a directory named as the source
through a link is walked (and never removed through it). A destination that leads into the
source through a link is the same path, and so is a source directory that is the destination."""

from scenario import T0, UNCHANGED, Dir, File, HardLink, Link, Scenario, lines

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

# A destination file that is a link to a read-only file outside the destination tree.
RO_OUTSIDE = {"src/f.txt": "new\n", "dst/f.txt": Link("../outside/ro.txt"),
              "outside/ro.txt": File("outside\n", readonly=True)}
RO_RESULT = {"src/f.txt": "new\n", "dst/f.txt": "new\n",
             "outside/ro.txt": File("outside\n", readonly=True)}
# Wine shows a POSIX symbolic link as the file it leads to, with no reparse point to tell it by:
# its SetFileAttributesA acts on the target (so the retry under /x clears the target's read-only
# attribute, and the copy refused without /x), and an update in place cannot see the link. The
# copy itself replaces the link by a rename, as natively.
WINE_LINK = "Wine shows a POSIX symbolic link as its target, without a reparse point"

# A grown source whose destination an incremental copy could append to: through a link, and
# through a hard link shared with an older snapshot. The destination is large enough (32 KiB).
OLD = b"L" * 40000
GROWN = OLD + b"new tail\n"
THROUGH_LINK = {"src/link.bin": File(GROWN, mtime=T0 + 100), "dst/link.bin": Link("../outside/victim.bin"),
                "outside/victim.bin": File(OLD, mtime=T0)}
SNAPSHOTS = {"src/log": File(GROWN, mtime=T0 + 100), "bak1/log": File(OLD, mtime=T0),
             "bak0/log": HardLink("bak1/log")}

# A link inside the source to a directory outside it, and one to a file outside it.
OUTSIDE = {"src/a.txt": "a\n", "src/shortcut": Link("../important"),
           "src/note": Link("../important/payroll.db"), "important/payroll.db": "pay\n"}
# Wine shows a POSIX symbolic link to a file as that file, and one to a directory as a reparse
# point without a tag, and its file operations on such a link act on what the link leads to:
# deleting or moving the link deletes or moves its target, removing it removes the target
# directory. The Windows build cannot act on a link itself there.
WINE_LINK_TARGETS = "Wine's file operations on a POSIX symbolic link act on what it leads to"

SCENARIOS = [
    # The link leads back to src: without the refusal the walk copied f.txt 41 times.
    Scenario("links/to-parent-refused", ["src", "dst", "/s"], tree=UP,
             stdout=lines("src\\a\\f.txt",
                          "src\\a\\up\\" + LOOP,
                          " 1/1.files(2.dirs) copied(1.errors)."),
             exit=0x01,
             result={**UP, "dst/a/f.txt": "x\n"}),
    # A delete takes the link as itself: it is removed, and the directories it left empty go.
    Scenario("links/to-parent-delete-verbose", ["src", "/del", "/s", "/+c", "/+v"], tree=UP,
             stdout=lines(" delete(src){",
                          "  (src\\){",
                          "   (src\\a\\){",
                          "    src\\a\\f.txt",
                          "    src\\a\\up",
                          "   }",
                          "   removedir(src\\a\\)",
                          "  }",
                          "  removedir(src\\)",
                          " }",
                          " 2/2.files(2.dirs) deleted."),
             result={"dst/keep": "keep\n"},
             wine={"reason": WINE_LINK_TARGETS + " (here src, which is in use: 32)",
                   "stdout": lines(" delete(src){",
                                   "  (src\\){",
                                   "   (src\\a\\){",
                                   "    src\\a\\f.txt",
                                   "    src\\a\\up\t:error(32) ...",
                                   "   }",
                                   "  }",
                                   " }",
                                   " 1/2.files(2.dirs) deleted(1.errors)."),
                   "exit": 0x02, "result": {"src/a/up": Link(".."), "dst/keep": "keep\n"}}),
    # The delete walked into the linked directory and deleted payroll.db, then failed on the
    # link (error 3) and stopped.
    Scenario("links/delete-removes-links-themselves", ["src", "/del", "/s"], tree=OUTSIDE,
             stdout=lines("src\\a.txt", "src\\note", "src\\shortcut", " 3/3.files(1.dirs) deleted."),
             result={"important/payroll.db": "pay\n"},
             wine={"reason": WINE_LINK_TARGETS,
                   "stdout": lines("src\\a.txt", "src\\note", "src\\shortcut",
                                   "src\\\t:error(145) ...", " 3/3.files(1.dirs) deleted(1.errors)."),
                   "exit": 0x06,
                   "result": {"src/note": Link("../important/payroll.db"),
                              "src/shortcut": Link("../important")}}),
    # The move took payroll.db away through the link, then failed on the link (error 3).
    Scenario("links/move-moves-links-themselves", ["src", "dst", "/m", "/s"], tree=OUTSIDE,
             stdout=lines("src\\a.txt", "src\\note", "src\\shortcut", " 3/3.files(1.dirs) moved."),
             result={"dst/a.txt": "a\n", "dst/shortcut": Link("../important"),
                     "dst/note": Link("../important/payroll.db"), "important/payroll.db": "pay\n"},
             wine={"reason": WINE_LINK_TARGETS,
                   "stdout": lines("src\\a.txt", "src\\note", "src\\shortcut",
                                   "src\\\t:error(145) ...", " 3/3.files(1.dirs) moved(1.errors)."),
                   "exit": 0x06,
                   "result": {"dst/a.txt": "a\n", "dst/note": "pay\n", "dst/shortcut": Dir(),
                              "src/note": Link("../important/payroll.db"),
                              "src/shortcut": Link("../important")}}),
    # To another file system (a tmpfs), where no rename can move them: the same links are made
    # at the destination, then removed from the source. The file link's target was copied into
    # a file of its own, and payroll.db moved away through the directory link.
    Scenario("links/move-across-file-systems-makes-the-same-links", ["src", "dst", "/m", "/s"],
             tree=OUTSIDE, mount={"dst": "1m"}, only="native",
             stdout=lines("src\\a.txt", "src\\note", "src\\shortcut", " 3/3.files(1.dirs) moved."),
             result={"dst/a.txt": "a\n", "dst/shortcut": Link("../important"),
                     "dst/note": Link("../important/payroll.db"), "important/payroll.db": "pay\n"}),
    # Onto an existing namesake a move copies and then deletes: the link's target was copied
    # into the namesake, and the link deleted. The link itself replaces the namesake instead.
    Scenario("links/move-onto-a-namesake-moves-the-link-itself", ["src", "dst", "/m"],
             tree={"src/note": Link("../outside/n.txt"), "outside/n.txt": "outside\n",
                   "dst/note": File("old\n", mtime=T0)},
             stdout=lines("src\\note", " 1/1.files(1.dirs) moved."),
             result={"dst/note": Link("../outside/n.txt"), "outside/n.txt": "outside\n"},
             wine={"reason": WINE_LINK_TARGETS,
                   "stdout": lines("src\\note", "src\\\t:error(145) ...",
                                   " 1/1.files(1.dirs) moved(1.errors)."),
                   "exit": 0x06,
                   "result": {"dst/note": "outside\n", "outside": Dir(),
                              "src/note": Link("../outside/n.txt")}}),
    # The directory named as the source is a link: the tree it leads to is moved, and neither
    # the link nor the directory is removed through it (the removal of the emptied directory
    # failed with error 3, exit 6).
    Scenario("links/named-source-link-is-walked-not-removed", ["src", "dst", "/m", "/s", "/+v"],
             tree={"realsrc/r.txt": "r\n", "realsrc/sub/s.txt": "s\n", "src": Link("realsrc")},
             stdout=lines(" move(src --> dst){",
                          "  createdir(dst)",
                          "  (src\\ --> dst\\){",
                          "   src\\r.txt\t--> dst\\r.txt",
                          "   (src\\sub\\ --> dst\\sub\\){",
                          "    createdir(dst\\sub)",
                          "    src\\sub\\s.txt\t--> dst\\sub\\s.txt",
                          "   }",
                          "   removedir(src\\sub\\)",
                          "  }",
                          " }",
                          " 2/2.files(2.dirs) moved."),
             result={"realsrc": Dir(), "src": Link("realsrc"), "dst/r.txt": "r\n",
                     "dst/sub/s.txt": "s\n"}),
    # A source directory that is the destination itself, reached through a link that the checks
    # of the destination's own path cannot see (the destination is the current directory): a.txt
    # was copied 103 times into loop\loop\... until the path was too long.
    Scenario("links/source-directory-that-is-the-destination-refused", ["src\\*", "/s"],
             tree={"src/a.txt": "a\n", "src/loop": Link("..")},
             stdout=lines("src\\a.txt", "Source and destination are the same path."), exit=0xF0,
             result={"src/a.txt": "a\n", "src/loop": Link(".."), "a.txt": "a\n"}),
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
    # A copy replaces a destination link as itself: the read-only bit of its target is the
    # target's, and the target never changes (it became writable under /x).
    Scenario("links/destination-link-to-read-only-replaced", ["src", "dst", "/x"], tree=RO_OUTSIDE,
             stdout=lines("src\\f.txt", " 1/1.files(1.dirs) copied."), result=RO_RESULT,
             wine={"reason": WINE_LINK,
                   "result": {"src/f.txt": "new\n", "dst/f.txt": "new\n",
                              "outside/ro.txt": File("outside\n", readonly=False)}}),
    Scenario("links/destination-link-to-read-only-without-x", ["src", "dst"], tree=RO_OUTSIDE,
             stdout=lines("src\\f.txt", " 1/1.files(1.dirs) copied."), result=RO_RESULT,
             wine={"reason": WINE_LINK,
                   "stdout": lines("src\\f.txt\t:error(5) Access is denied.  ",
                                   " 0/1.files(1.dirs) copied(1.errors)."),
                   "exit": 0x01, "result": UNCHANGED}),
    # An incremental copy never appends through a link or a hard link: the full copy replaces
    # the name, and the file outside, or the other snapshot's name, stays as it was.
    Scenario("links/incremental-never-writes-through-a-link", ["src", "dst", "/i"],
             tree=THROUGH_LINK,
             stdout=lines("src\\link.bin", " 1/1.files(1.dirs) copied."),
             result={"src/link.bin": GROWN, "dst/link.bin": GROWN, "outside/victim.bin": OLD},
             wine={"reason": WINE_LINK,
                   "stdout": lines("src\\link.bin\t*", " 1/1.files(1.dirs) copied."),
                   "result": {"src/link.bin": GROWN, "dst/link.bin": Link("../outside/victim.bin"),
                              "outside/victim.bin": GROWN}}),
    Scenario("links/incremental-never-writes-into-a-hard-link", ["src", "bak0", "/i"],
             tree=SNAPSHOTS,
             stdout=lines("src\\log", " 1/1.files(1.dirs) copied."),
             result={"src/log": GROWN, "bak1/log": OLD, "bak0/log": GROWN}),
]
