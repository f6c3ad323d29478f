"""Move mode (/m): a rename into an absent destination, copy-then-delete onto an existing one,
/s removing each emptied source directory (innermost first, with removedir lines under /+v),
directories that keep content, a hidden leftover that makes the removal fail, and /e."""

import os

from scenario import T0, UNCHANGED, Dir, File, Pause, Scenario, lines


def merged(tree, add=None, drop=()):
    """The tree with the entries of `add` put in and the paths of `drop` (and all below them)
    taken out."""
    out = {path: item for path, item in tree.items()
           if not any(path == d or path.startswith(d + "/") for d in drop)}
    out.update(add or {})
    return out


TREE = {
    "src/a.txt": File("alpha\n", mtime=T0),
    "src/sub/b.txt": File("beta\n", mtime=T0),
    "dst/keep": "keep\n",
}
MOVED = {
    "dst/keep": "keep\n",
    "dst/a.txt": File("alpha\n", mtime=T0),
    "dst/sub/b.txt": File("beta\n", mtime=T0),
}

DISK_FULL = "\t:error(112) There is not enough space on the disk.  "

SHARING = "\t:error(32) The process cannot access the file because it is being used by another process.  "


def appending(path, text):
    """A change that appends `text` to the file at `path` (relative to the scenario directory),
    as a program writing a log does."""
    def change(root):
        with open(os.path.join(root, path), "a") as out:
            out.write(text)
    return change


def replacing(path, text):
    """A change that puts a new file with `text` in place of `path` by a rename, its size and
    last-write time those of the old one, as an editor saving a file does."""
    def change(root):
        full = os.path.join(root, path)
        old = os.stat(full)
        with open(full + ".new", "w") as out:
            out.write(text)
        os.utime(full + ".new", ns=(old.st_atime_ns, old.st_mtime_ns))
        os.rename(full + ".new", full)
    return change


def removing(path):
    """A change that removes the file at `path`."""
    return lambda root: os.remove(os.path.join(root, path))


# A log and its namesake in the destination, older.
LOG = {"src/app.log": File("line 1\n", mtime=T0), "dst/app.log": File("old\n", mtime=T0 - 3600)}

# A name that makes src\\LONG\\LONG\\LONG\\ fill a path buffer but leaves no room for *.*.
LONG = "n" * 170

SCENARIOS = [
    Scenario("move/one-file", ["src\\a.txt", "dst", "/m"], tree=TREE,
             stdout=lines("src\\a.txt", " 1/1.files moved."),
             result=merged(TREE, {"dst/a.txt": File("alpha\n", mtime=T0)}, drop=["src/a.txt"])),
    # Without /s the named directory's files go; the directory itself keeps its subdirectory.
    Scenario("move/directory-keeps-subdirectory", ["src", "dst", "/m"], tree=TREE,
             stdout=lines("src\\a.txt", " 1/1.files(1.dirs) moved."),
             result=merged(TREE, {"dst/a.txt": "alpha\n"}, drop=["src/a.txt"])),
    Scenario("move/recurse-verbose", ["src", "dst", "/m", "/s", "/+v"], tree=TREE,
             stdout=lines(" move(src --> dst){",
                          "  (src\\ --> dst\\){",
                          "   src\\a.txt\t--> dst\\a.txt",
                          "   (src\\sub\\ --> dst\\sub\\){",
                          "    createdir(dst\\sub)",
                          "    src\\sub\\b.txt\t--> dst\\sub\\b.txt",
                          "   }",
                          "   removedir(src\\sub\\)",
                          "  }",
                          "  removedir(src\\)",
                          " }",
                          " 2/2.files(2.dirs) moved."),
             result=MOVED),
    Scenario("move/recurse-empty-directories", ["src", "dst", "/m", "/s", "/+v"],
             tree={"src/e1": Dir(), "src/e2/e3": Dir(), "dst": Dir()},
             stdout=lines(" move(src --> dst){",
                          "  (src\\ --> dst\\){",
                          "   (src\\e1\\ --> dst\\e1\\){",
                          "    createdir(dst\\e1)",
                          "   }",
                          "   removedir(src\\e1\\)",
                          "   (src\\e2\\ --> dst\\e2\\){",
                          "    createdir(dst\\e2)",
                          "    (src\\e2\\e3\\ --> dst\\e2\\e3\\){",
                          "     createdir(dst\\e2\\e3)",
                          "    }",
                          "    removedir(src\\e2\\e3\\)",
                          "   }",
                          "   removedir(src\\e2\\)",
                          "  }",
                          "  removedir(src\\)",
                          " }",
                          " 0/0.files(4.dirs) moved."),
             result={"dst/e1": Dir(), "dst/e2/e3": Dir()}),
    # Onto an existing destination: copy, then delete the source.
    Scenario("move/onto-existing", ["src", "dst", "/m", "/s"],
             tree=merged(TREE, {"dst/a.txt": File("old alpha\n", mtime=T0 - 3600)}),
             stdout=lines("src\\a.txt", "src\\sub\\b.txt", " 2/2.files(2.dirs) moved."),
             result=MOVED),
    # Directories that keep something stay, silently.
    Scenario("move/unselected-file-keeps-directory", ["src", "dst", "/m", "/s", "/u", "/+v"],
             tree=merged(TREE, {"dst/sub/b.txt": File("newer beta\n", mtime=T0 + 3600)}),
             stdout=lines(" move(src --> dst){",
                          "  (src\\ --> dst\\){",
                          "   src\\a.txt\t--> dst\\a.txt",
                          "   (src\\sub\\ --> dst\\sub\\){}",
                          "  }",
                          " }",
                          " 1/2.files(2.dirs) moved."),
             result={"src/sub/b.txt": File("beta\n", mtime=T0), "dst/keep": "keep\n",
                     "dst/a.txt": "alpha\n", "dst/sub/b.txt": File("newer beta\n", mtime=T0 + 3600)}),
    Scenario("move/excluded-file-keeps-directory", ["src", "[.log]", "dst", "/m", "/s"],
             tree=merged(TREE, {"src/sub/c.log": "log\n"}),
             stdout=lines("src\\a.txt", "src\\sub\\b.txt", " 2/2.files(2.dirs) moved."),
             result=merged(MOVED, {"src/sub/c.log": "log\n"})),
    Scenario("move/masked-recurse-removes-emptied", ["src", "*.txt", "dst", "/m", "/s", "/+v"],
             tree=merged(TREE, {"src/c.log": "log\n"}),
             stdout=lines(" move(src\\*.txt --> dst){",
                          "  src\\a.txt\t--> dst\\a.txt",
                          "  (src\\sub\\*.txt --> dst\\sub\\){",
                          "   createdir(dst\\sub)",
                          "   src\\sub\\b.txt\t--> dst\\sub\\b.txt",
                          "  }",
                          "  removedir(src\\sub\\)",
                          " }",
                          " 2/2.files(1.dirs) moved."),
             result=merged(MOVED, {"src/c.log": "log\n"})),
    # A hidden file left behind: the directory counts as empty, its removal is refused.
    Scenario("move/hidden-leftover-removal-fails", ["src", "dst", "/m", "/s"],
             tree=merged(TREE, {"src/sub/.hid": "hidden\n"}),
             stdout=lines("src\\a.txt", "src\\sub\\b.txt",
                          "src\\sub\\\t:error(145) The directory is not empty.  ",
                          " 2/2.files(2.dirs) moved(1.errors)."),
             exit=0x06,
             result=merged(MOVED, {"src/sub/.hid": "hidden\n"})),
    Scenario("move/hidden-with-x", ["src", "dst", "/m", "/s", "/x"],
             tree=merged(TREE, {"src/sub/.hid": "hidden\n"}),
             stdout=lines("src\\a.txt", "src\\sub\\.hid", "src\\sub\\b.txt",
                          " 3/3.files(2.dirs) moved."),
             result=merged(MOVED, {"dst/sub/.hid": "hidden\n"})),
    # /e: nothing moves; removedir lines only for directories that were empty already.
    Scenario("move/echo", ["src", "dst", "/m", "/s", "/e", "/+v"],
             tree=merged(TREE, {"src/empty": Dir()}),
             stdout=lines(" move(src --> dst){",
                          "  (src\\ --> dst\\){",
                          "   src\\a.txt\t--> dst\\a.txt",
                          "   (src\\empty\\ --> dst\\empty\\){",
                          "    createdir(dst\\empty)",
                          "   }",
                          "   removedir(src\\empty\\)",
                          "   (src\\sub\\ --> dst\\sub\\){",
                          "    createdir(dst\\sub)",
                          "    src\\sub\\b.txt\t--> dst\\sub\\b.txt",
                          "   }",
                          "  }",
                          " }",
                          " 2/2.files(3.dirs) found."),
             result=UNCHANGED),
    # A directory whose search pattern does not fit a path is reported as the move it blocks,
    # once; it was never listed, so it is not taken for emptied and no removal is tried.
    # Native only: Windows refuses paths this long before the walk gets that deep.
    Scenario("move/source-path-too-long", ["src", "dst", "/m", "/s", "/+c"], only="native",
             tree={f"src/{LONG}/{LONG}/{LONG}/f.txt": "deep\n"},
             stdout=lines(f"src\\{LONG}\\{LONG}\\{LONG}\\ :path too long",
                          " 0/0.files(4.dirs) moved(1.errors)."),
             exit=0x03,
             result={f"src/{LONG}/{LONG}/{LONG}/f.txt": "deep\n", f"dst/{LONG}/{LONG}": Dir()}),
    # A failed move: the source stays; status 0x03.
    Scenario("move/failure", ["src", "dst", "/m", "/+c"],
             tree={"src/a.txt": "a\n", "src/b.txt": "b\n", "dst/a.txt/x": ""},
             stdout=lines("src\\a.txt\t:error(5) Access is denied.  ",
                          "src\\b.txt",
                          " 1/2.files(1.dirs) moved(1.errors)."),
             exit=0x03,
             result={"src/a.txt": "a\n", "dst/a.txt/x": "", "dst/b.txt": "b\n"}),
    # The record of a move survives a kill after the first file, renamed or copied over its
    # namesake and deleted; the line of each file moved has reached the pipe.
    Scenario("move/killed-after-a-rename-keeps-its-record", ["src", "dst", "/m", "/s"],
             only="native", kill_at=("renameat2", 2), tree=TREE, stdout=lines("src\\a.txt"),
             exit=-9, result=merged(TREE, {"dst/a.txt": File("alpha\n", mtime=T0), "dst/sub": Dir()},
                                    drop=["src/a.txt"])),
    Scenario("move/killed-after-a-copy-keeps-its-record", ["src", "dst", "/m"], only="native",
             kill_at=("unlink", 2),
             tree={"src/a.txt": "new a\n", "src/b.txt": "new b\n", "dst/a.txt": "old\n",
                   "dst/b.txt": "old\n"},
             stdout=lines("src\\a.txt"), exit=-9,
             result={"src/b.txt": "new b\n", "dst/a.txt": "new a\n", "dst/b.txt": "new b\n"}),
    # A source that changes while it is copied is kept, whole, and its move fails with 32; the
    # destination holds the copy of what was read. The window: the program stops once the copy's
    # data are written (their flush), and the scenario changes the source meanwhile.
    Scenario("move/grown-during-the-copy-across-file-systems", ["src\\app.log", "dst", "/m"],
             only="native", mount={"dst": "1m"}, tree={"src/app.log": File("line 1\n", mtime=T0)},
             pause=Pause("fsync", 1, appending("src/app.log", "line 2\n")),
             stdout=lines("src\\app.log" + SHARING, " 0/1.files moved(1.errors)."), exit=0x03,
             result={"src/app.log": "line 1\nline 2\n", "dst/app.log": File("line 1\n", mtime=T0)}),
    Scenario("move/grown-during-the-copy-onto-a-namesake", ["src\\app.log", "dst", "/m"],
             only="native", tree=LOG, pause=Pause("fsync", 1, appending("src/app.log", "line 2\n")),
             stdout=lines("src\\app.log" + SHARING, " 0/1.files moved(1.errors)."), exit=0x03,
             result={"src/app.log": "line 1\nline 2\n", "dst/app.log": File("line 1\n", mtime=T0)}),
    # Replaced by a rename: the same size and time, another file.
    Scenario("move/replaced-during-the-copy-onto-a-namesake", ["src\\app.log", "dst", "/m"],
             only="native", tree=LOG, pause=Pause("fsync", 1, replacing("src/app.log", "line X\n")),
             stdout=lines("src\\app.log" + SHARING, " 0/1.files moved(1.errors)."), exit=0x03,
             result={"src/app.log": File("line X\n", mtime=T0), "dst/app.log": File("line 1\n", mtime=T0)}),
    # Removing the source answers an error although the source is gone (a share that did the work
    # and lost its reply, or a retried remove that finds nothing): the move is complete and the
    # copy stays. The program's own remove is failed by strace; the scenario removes the source.
    Scenario("move/source-removed-with-an-error-across-file-systems", ["src\\a.bin", "dst", "/m"],
             only="native", mount={"dst": "1m"}, tree={"src/a.bin": File("data\n", mtime=T0)},
             pause=Pause("unlink", 1, removing("src/a.bin"), path="src/a.bin", error="EIO"),
             stdout=lines("src\\a.bin", " 1/1.files moved."),
             result={"src": Dir(), "dst/a.bin": File("data\n", mtime=T0)}),
    Scenario("move/source-removed-with-an-error-onto-a-namesake", ["src\\app.log", "dst", "/m"],
             only="native", tree=LOG,
             pause=Pause("unlink", 1, removing("src/app.log"), path="src/app.log", error="ENOENT"),
             stdout=lines("src\\app.log", " 1/1.files moved."),
             result={"src": Dir(), "dst/app.log": File("line 1\n", mtime=T0)}),
    # A remove that truly failed leaves the source as it was: the copy made for it goes again.
    Scenario("move/source-not-removed-across-file-systems", ["src\\a.bin", "dst", "/m"],
             only="native", mount={"dst": "1m"}, tree={"src/a.bin": File("data\n", mtime=T0)},
             pause=Pause("unlink", 1, lambda root: None, path="src/a.bin", error="EIO"),
             stdout=lines("src\\a.bin\t:error(1117) The request could not be performed because of an I/O device error.  ",
                          " 0/1.files moved(1.errors)."), exit=0x03,
             result={"src/a.bin": File("data\n", mtime=T0), "dst": Dir()}),
    # The destination directory sub could not be readied (its attributes could not be stored:
    # the disk is full), though it exists: no file of it is moved, each fails with the
    # directory's error. (a.txt was moved into a file named *.*.)
    Scenario("move/destination-directory-not-ready-moves-nothing-into-it",
             ["src", "dst", "/s", "/m", "/+c"], only="native",
             inject=("setxattr,fsetxattr", "error=ENOSPC"),
             tree={"src/sub/a.txt": "a\n", "src/sub/b.txt": "b\n", "src/sub": Dir(dosattrib="0x11"),
                   "dst": Dir()},
             stdout=lines("dst\\sub" + DISK_FULL,
                          "src\\sub\\a.txt" + DISK_FULL,
                          "src\\sub\\b.txt" + DISK_FULL,
                          " 0/2.files(2.dirs) moved(3.errors)."),
             exit=0x07,
             result={"src/sub/a.txt": "a\n", "src/sub/b.txt": "b\n", "dst/sub": Dir()}),
]
