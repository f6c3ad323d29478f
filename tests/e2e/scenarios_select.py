"""Selection: /u, /n, /o and the /+ relations against existing namesakes (times set), the time
tolerance /+t and the fixed 2-second rule of the exact match, the detail timestamp lines of
/+d (local time is UTC in these runs), and the archive filters /a and /b."""

import os

from scenario import T0, UNCHANGED, File, Pause, Scenario, lines


def merged(tree, add=None, drop=()):
    """The tree with the entries of `add` put in and the paths of `drop` (and all below them)
    taken out."""
    out = {path: item for path, item in tree.items()
           if not any(path == d or path.startswith(d + "/") for d in drop)}
    out.update(add or {})
    return out


def ticks(seconds):
    """100-ns ticks since 1601 of a time in seconds since 1970."""
    return seconds * 10_000_000 + 116_444_736_000_000_000


# One file per relation, all of equal size: absent, newer, older, identical.
REL = {
    "src/new.txt": File("1234\n", mtime=T0),
    "src/newer.txt": File("1234\n", mtime=T0 + 100),
    "dst/newer.txt": File("abcd\n", mtime=T0),
    "src/older.txt": File("1234\n", mtime=T0),
    "dst/older.txt": File("abcd\n", mtime=T0 + 100),
    "src/same.txt": File("1234\n", mtime=T0),
    "dst/same.txt": File("1234\n", mtime=T0),
}

# Sizes differ, times equal.
SIZES = {
    "src/big.txt": File("123456\n", mtime=T0),
    "dst/big.txt": File("12\n", mtime=T0),
    "src/small.txt": File("12\n", mtime=T0),
    "dst/small.txt": File("123456\n", mtime=T0),
}


def copied(tree, *names):
    """The tree after the named files of src have been copied into dst."""
    add = {}
    for name in names:
        item = tree[f"src/{name}"]
        add[f"dst/{name}"] = File(item.content, mtime=item.mtime)
    return merged(tree, add)


def stamp(seconds_after_t0, millis=0):
    """The local (UTC) date and time text of T0 + the given seconds."""
    total = 12 * 3600 + 26 * 60 + 40 + seconds_after_t0
    return f"2020/09/13 {total // 3600:02d}:{total // 60 % 60:02d}:{total % 60:02d}.{millis:03d}"


def detail(name, fill, source, destination):
    """A non-verbose detail line: the name, its fill and the two times."""
    return f" {name}{fill} {source}  {destination}"


TWO_TABS = "\t\t      "

# Names whose columns need each kind of fill (name length + 1 = the column after the name).
LONG = {
    "a.txt": "\t\t\t      ",              # column 6
    "n" * 16 + ".txt": "\t      ",         # column 21
    "n" * 19 + ".txt": "      ",           # column 24: six blanks
    "n" * 21 + ".txt": "    ",             # column 26: four blanks
    "n" * 25 + ".txt": "",                 # column 30: no fill
}
LONG_TREE = {}
for _name in LONG:
    LONG_TREE[f"src/{_name}"] = File("x", mtime=T0)
    LONG_TREE[f"dst/{_name}"] = File("x", mtime=T0)


SCENARIOS = [
    Scenario("select/default", ["src", "dst"], tree=REL,
             stdout=lines("src\\new.txt", "src\\newer.txt", "src\\older.txt", "src\\same.txt",
                          " 4/4.files(1.dirs) copied."),
             result=copied(REL, "new.txt", "newer.txt", "older.txt", "same.txt")),
    Scenario("select/update", ["src", "dst", "/u"], tree=REL,
             stdout=lines("src\\new.txt", "src\\newer.txt", " 2/4.files(1.dirs) copied."),
             result=copied(REL, "new.txt", "newer.txt")),
    # Another program puts a new, empty destination in place of the old one (renamed away, made
    # again) while a subdirectory is walked: the file after it, c.txt, is looked up in the new
    # directory, which the copy writes into, never in the one renamed away (where a.txt was looked
    # up), so it is copied. The window: the namesake lookup of dst\b\x.txt (after the look at
    # dst\b that readies it).
    Scenario("select/update-destination-replaced-between-levels", ["src", "dst", "/s", "/u"],
             only="native",
             tree={"src/a.txt": File("a\n", mtime=T0), "src/b/x.txt": File("x\n", mtime=T0),
                   "src/c.txt": File("c\n", mtime=T0), "dst/a.txt": File("a\n", mtime=T0),
                   "dst/b/x.txt": File("x\n", mtime=T0), "dst/c.txt": File("c\n", mtime=T0)},
             pause=Pause("statx", 2, lambda root: (os.rename(os.path.join(root, "dst"),
                                                             os.path.join(root, "dst.old")),
                                                   os.mkdir(os.path.join(root, "dst"))),
                         path="dst/b"),
             stdout=lines("src\\c.txt", " 1/3.files(2.dirs) copied."),
             result={"src/a.txt": "a\n", "src/b/x.txt": "x\n", "src/c.txt": "c\n",
                     "dst.old/a.txt": "a\n", "dst.old/b/x.txt": "x\n", "dst.old/c.txt": "c\n",
                     "dst/c.txt": "c\n"}),
    Scenario("select/no-overwrite", ["src", "dst", "/n"], tree=REL,
             stdout=lines("src\\new.txt", " 1/4.files(1.dirs) copied."),
             result=copied(REL, "new.txt")),
    Scenario("select/overwrite-only", ["src", "dst", "/o"], tree=REL,
             stdout=lines("src\\newer.txt", "src\\older.txt", "src\\same.txt",
                          " 3/4.files(1.dirs) copied."),
             result=copied(REL, "newer.txt", "older.txt", "same.txt")),
    Scenario("select/newer", ["src", "dst", "/+n"], tree=REL,
             stdout=lines("src\\newer.txt", " 1/4.files(1.dirs) copied."),
             result=copied(REL, "newer.txt")),
    Scenario("select/exist-and-matching", ["src", "dst", "/+e", "/+m"], tree=REL,
             stdout=lines("src\\new.txt", "src\\same.txt", " 2/4.files(1.dirs) copied.")),
    Scenario("select/larger", ["src", "dst", "/+L"], tree=SIZES,
             stdout=lines("src\\big.txt", " 1/2.files(1.dirs) copied."),
             result=copied(SIZES, "big.txt")),
    Scenario("select/attributes-differ", ["src", "dst", "/+a", "/e"],
             tree={"src/a.txt": File("a", mtime=T0), "dst/a.txt": File("a", mtime=T0, readonly=True),
                   "src/b.txt": File("b", mtime=T0), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("src\\a.txt", " 1/2.files(1.dirs) found."),
             result=UNCHANGED),
    # A difference in the destination's stored attributes alone (hidden) is a difference of
    # attributes, and keeps the pair from matching all: the namesake's stored bits are read
    # where the choice turns on them.
    Scenario("select/stored-attribute-differs", ["src", "dst", "/+a", "/e"],
             tree={"src/a.txt": File("a", mtime=T0), "dst/a.txt": File("a", mtime=T0, dosattrib="0x22"),
                   "src/b.txt": File("b", mtime=T0), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("src\\a.txt", " 1/2.files(1.dirs) found."),
             result=UNCHANGED),
    Scenario("select/stored-attribute-keeps-from-matching", ["src", "dst", "/+m", "/e"],
             tree={"src/a.txt": File("a", mtime=T0), "dst/a.txt": File("a", mtime=T0, dosattrib="0x22"),
                   "src/b.txt": File("b", mtime=T0), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("src\\b.txt", " 1/2.files(1.dirs) found."),
             result=UNCHANGED),
    # Times: equal sizes and attributes, times less than 2 seconds apart of which neither is a
    # whole multiple of 2 seconds: the one pair the default selection leaves alone.
    Scenario("select/near-times-not-selected", ["src", "dst"],
             tree={"src/a.txt": File("a", mtime=T0 + 0.1), "dst/a.txt": File("b", mtime=T0 + 1.3)},
             stdout=lines(" 0/1.files(1.dirs) copied."), result=UNCHANGED),
    # The two-second rule forgives the times, never a difference in size.
    Scenario("select/two-second-rule-keeps-sizes", ["src", "dst", "/+m"],
             tree={"src/a.txt": File("a", mtime=T0), "dst/a.txt": File("b", mtime=T0 + 1.5),
                   "src/b.txt": File("a", mtime=T0), "dst/b.txt": File("bbb", mtime=T0 + 1.5)},
             stdout=lines("src\\a.txt", " 1/2.files(1.dirs) copied.")),
    Scenario("select/two-seconds-apart-not-matching", ["src", "dst", "/+m"],
             tree={"src/a.txt": File("a", mtime=T0), "dst/a.txt": File("b", mtime=T0 + 2)},
             stdout=lines(" 0/1.files(1.dirs) copied.")),
    Scenario("select/newer-by-the-tolerance", ["src", "dst", "/u"],
             tree={"src/a.txt": File("a", mtime=T0 + 2), "dst/a.txt": File("b", mtime=T0),
                   "src/b.txt": File("a", mtime=T0 + 1.9), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("src\\a.txt", " 1/2.files(1.dirs) copied.")),
    Scenario("select/tolerance-wider", ["src", "dst", "/u", "/+t5"],
             tree={"src/a.txt": File("a", mtime=T0 + 3), "dst/a.txt": File("b", mtime=T0),
                   "src/b.txt": File("a", mtime=T0 + 5), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("src\\b.txt", " 1/2.files(1.dirs) copied.")),
    Scenario("select/tolerance-zero", ["src", "dst", "/u", "/+t0"],
             tree={"src/a.txt": File("a", mtime=T0 + 0.5), "dst/a.txt": File("b", mtime=T0),
                   "src/b.txt": File("a", mtime=T0), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("src\\a.txt", " 1/2.files(1.dirs) copied.")),
    # /+d: one line with both times for every existing pair, selected or not.
    Scenario("select/detail", ["src", "dst", "/+d"], tree=REL,
             stdout=lines("src\\new.txt",
                          detail("newer.txt", TWO_TABS, stamp(100), stamp(0)),
                          "src\\newer.txt",
                          detail("older.txt", TWO_TABS, stamp(0), stamp(100)),
                          "src\\older.txt",
                          detail("same.txt", TWO_TABS, stamp(0), stamp(0)),
                          "src\\same.txt",
                          " 4/4.files(1.dirs) copied.")),
    Scenario("select/detail-with-nothing-selectable", ["src", "dst", "/+d", "/n", "/+n"], tree=REL,
             stdout=lines(detail("newer.txt", TWO_TABS, stamp(100), stamp(0)),
                          detail("older.txt", TWO_TABS, stamp(0), stamp(100)),
                          detail("same.txt", TWO_TABS, stamp(0), stamp(0)),
                          " 0/4.files(1.dirs) copied."),
             result=UNCHANGED),
    Scenario("select/detail-verbose", ["src", "dst", "/+d", "/+v", "/+n"],
             tree=merged(REL, {"src/newer.txt": File("1234\n", mtime=T0 + 100.25)}),
             stdout=lines(" copy(src --> dst){",
                          "  (src\\ --> dst\\){",
                          "    newer.txt" + TWO_TABS + " " + stamp(100, 250) + "  " + stamp(0),
                          "   src\\newer.txt\t--> dst\\newer.txt",
                          "    older.txt" + TWO_TABS + " " + stamp(0) + "  " + stamp(100),
                          "    same.txt" + TWO_TABS + " " + stamp(0) + "  " + stamp(0),
                          "  }",
                          " }",
                          " 1/4.files(1.dirs) copied.")),
    Scenario("select/detail-name-columns", ["src", "dst", "/+d", "/+n"], tree=LONG_TREE,
             stdout=lines(*[detail(name, fill, stamp(0), stamp(0)) for name, fill in LONG.items()],
                          " 0/5.files(1.dirs) copied."),
             result=UNCHANGED),
    Scenario("select/detail-name-columns-verbose", ["src\\a.txt", "dst", "/+d", "/+n", "/+v"],
             tree=LONG_TREE,
             stdout=lines(" copy(src\\a.txt --> dst){",
                          "   a.txt\t\t      " + " " + stamp(0) + "  " + stamp(0),
                          " }",
                          " 0/1.files copied."),
             result=UNCHANGED),
    # A time past the range of file times (tmpfs keeps 1e13 seconds) is the newest of all, and
    # /+d, which has no calendar date for it, says so with its failure text (counted as an
    # error, which ends the run without /+c).
    Scenario("select/far-future-time-is-the-newest", ["src", "dst", "/u"], place="tmpfs",
             tree={"src/a.txt": File("new", mtime=1e13), "dst/a.txt": File("old", mtime=T0)},
             stdout=lines("src\\a.txt", " 1/1.files(1.dirs) copied."),
             result={"src/a.txt": File("new", mtime=1e13), "dst/a.txt": File("new", mtime=1e13)},
             only="native"),
    Scenario("select/far-future-time-in-the-detail", ["src", "dst", "/+d", "/+c"], place="tmpfs",
             tree={"src/a.txt": File("new", mtime=1e13), "dst/a.txt": File("old", mtime=T0),
                   "src/b.txt": File("b", mtime=T0), "dst/b.txt": File("b", mtime=T0)},
             stdout=lines("\t:error(87) The parameter is incorrect.  ",
                          detail("b.txt", "\t" + TWO_TABS, stamp(0), stamp(0)),
                          "src\\b.txt",
                          " 1/2.files(1.dirs) copied(1.errors)."),
             result={"src/a.txt": File("new", mtime=1e13), "dst/a.txt": File("old", mtime=T0),
                     "src/b.txt": "b", "dst/b.txt": "b"},
             only="native"),
    # The archive filter: a file whose stored attributes lack the archive bit (and whose
    # contents were not written since) is passed over silently; /b clears the bit after a copy.
    Scenario("select/archive-only", ["src", "dst", "/a"],
             tree={"src/arch.txt": "changed\n", "src/clean.txt": File("saved\n", mtime=T0, dosattrib="0x0")},
             stdout=lines("src\\arch.txt", " 1/2.files(1.dirs) copied."),
             result={"src/arch.txt": "changed\n", "src/clean.txt": "saved\n", "dst/arch.txt": "changed\n"},
             wine={"reason": "Wine reports the archive bit on every file",
                   "stdout": lines("src\\arch.txt", "src\\clean.txt", " 2/2.files(1.dirs) copied."),
                   "result": None}),
    Scenario("select/backup-clears-archive", ["src", "dst", "/b"],
             tree={"src/arch.txt": "changed\n", "src/clean.txt": File("saved\n", mtime=T0, dosattrib="0x0")},
             stdout=lines("src\\arch.txt", " 1/2.files(1.dirs) copied."),
             result={"src/arch.txt": File("changed\n", dosattrib="0x0"),
                     "src/clean.txt": File("saved\n", dosattrib="0x0"), "dst/arch.txt": "changed\n"},
             wine={"reason": "Wine reports the archive bit on every file and does not store it",
                   "stdout": lines("src\\arch.txt", "src\\clean.txt", " 2/2.files(1.dirs) copied."),
                   "result": None}),
    # An ordinary user backs up a read-only file of their own: the copy is made and the archive
    # bit cleared (the store needs the owner's write bit for a moment), on disk and on tmpfs.
    *[Scenario(f"select/backup-of-a-read-only-file-as-its-owner{suffix}", ["src", "dst", "/b"],
               only="native", as_user=True, place=place,
               tree={"src/ro.txt": File("saved\n", readonly=True)},
               stdout=lines("src\\ro.txt", " 1/1.files(1.dirs) copied."),
               result={"src/ro.txt": File("saved\n", readonly=True, dosattrib="0x0"),
                       "dst/ro.txt": File("saved\n", readonly=True)})
      for suffix, place in (("", None), ("-on-tmpfs", "tmpfs"))],
    # A destination left by an incremental copy that did not end: part of the new tail, the time
    # of the interruption (newer than the source) and the mark of the size and time it had
    # before. Every selection takes it for that older file, so /u copies it again. (Windows
    # keeps no such mark.)
    Scenario("select/interrupted-update-is-taken-as-it-was", ["src", "dst", "/u"],
             only="native",
             tree={"src/log.txt": File("old part\nnew part\n", mtime=T0 + 100),
                   "dst/log.txt": File("old part\nnew", mtime=T0 + 200,
                                       xattrs={"user.treecopy.update": f"9 {ticks(T0)}"})},
             stdout=lines("src\\log.txt", " 1/1.files(1.dirs) copied."),
             result={"src/log.txt": "old part\nnew part\n",
                     "dst/log.txt": File("old part\nnew part\n", mtime=T0 + 100)}),
]

