"""What only an ordinary user meets: the kernel refuses what our attribute rules allow. A file
that cannot be read, a directory that can be entered but not listed, a destination directory
without write permission, someone else's file in a directory the user may write, and a
read-only file with stored attributes. Every refusal is a clear error with the action's status
value, nothing is left half done, and under /+c the rest is copied."""

import os

from scenario import T0, Dir, File, Scenario, lines

DENIED = "\t:error(5) Access is denied.  "

UNREADABLE = {
    "src/a.txt": "a\n",
    "src/b.txt": File("secret\n", mode=0o000),
    "src/c.txt": "c\n",
}


def user_scenario(name, args, **fields):
    return Scenario(name, args, as_user=True, only="native", **fields)


# A directory that can be entered (and its files opened by name) but not listed.
BLIND = {
    "src/a.txt": "a\n",
    "src/blind": Dir(mode=0o311),
    "src/blind/in.txt": "inside\n",
    "src/ok/b.txt": "b\n",
}

# A destination directory without write permission, holding an older file.
NO_WRITE = {
    "src/a.txt": File("new a\n", mtime=T0 + 60),
    "src/b.txt": "new b\n",
    "dst": Dir(mode=0o555),
    "dst/a.txt": File("old a\n", mtime=T0),
}

# A destination directory that can be entered and written but not listed, holding the same
# a.txt: its namesakes are looked up by name.
DEST_BLIND = {
    "src/a.txt": File("a\n", mtime=T0),
    "src/b.txt": File("b\n", mtime=T0),
    "dst": Dir(mode=0o311),
    "dst/a.txt": File("a\n", mtime=T0),
}

# A destination directory that cannot be entered: no namesake can be looked up.
DEST_LOCKED = {
    "src/a.txt": File("a\n", mtime=T0),
    "dst": Dir(mode=0o666),
    "dst/a.txt": File("a\n", mtime=T0),
}

# Someone else's older file (root's, mode 0644) in the user's own destination directory.
FOREIGN = {
    "src/a.txt": File("new a\n", mtime=T0 + 60),
    "src/b.txt": "new b\n",
    "dst/a.txt": File("root's a\n", mtime=T0, foreign=True),
}

SCENARIOS = [
    # A source file without read permission (mode 000): error 5, the others are copied.
    user_scenario("user/unreadable-source-file-continues", ["src", "dst", "/+c"],
                  tree=UNREADABLE,
                  stdout=lines("src\\a.txt", "src\\b.txt" + DENIED, "src\\c.txt",
                               " 2/3.files(1.dirs) copied(1.errors)."),
                  exit=0x01, result={**UNREADABLE, "dst/a.txt": "a\n", "dst/c.txt": "c\n"}),
    user_scenario("user/unreadable-source-file-stops", ["src", "dst"], tree=UNREADABLE,
                  stdout=lines("src\\a.txt", "src\\b.txt" + DENIED,
                               " 1/2.files(1.dirs) copied(1.errors)."),
                  exit=0x01, result={**UNREADABLE, "dst/a.txt": "a\n"}),
    # A directory that can be entered but not listed: one failure for it, the rest copied.
    user_scenario("user/directory-entered-but-not-listed", ["src", "dst", "/s", "/+c"],
                  tree=BLIND,
                  stdout=lines("src\\a.txt",
                               "src\\blind\\" + DENIED,
                               "src\\ok\\b.txt",
                               " 2/2.files(3.dirs) copied(1.errors)."),
                  exit=0x01,
                  result={**BLIND, "dst/a.txt": "a\n", "dst/ok/b.txt": "b\n"}),
    # A destination directory the user may not write: both the replacement and the new copy
    # are refused, the old file keeps its contents and time, and nothing is left in it.
    user_scenario("user/destination-directory-without-write-permission",
                  ["src", "dst", "/+c"], tree=NO_WRITE,
                  stdout=lines("src\\a.txt" + DENIED, "src\\b.txt" + DENIED,
                               " 0/2.files(1.dirs) copied(2.errors)."),
                  exit=0x01, result=NO_WRITE),
    user_scenario("user/move-into-a-directory-without-write-permission",
                  ["src", "dst", "/m", "/+c"], tree=NO_WRITE,
                  stdout=lines("src\\a.txt" + DENIED, "src\\b.txt" + DENIED,
                               " 0/2.files(1.dirs) moved(2.errors)."),
                  exit=0x03, result=NO_WRITE),
    # A destination directory that can be entered but not listed: a.txt is found there and
    # left, b.txt is copied (where the system opens a directory for lookups only with the
    # permission to read it, its names are looked up by their whole paths).
    user_scenario("user/update-into-a-directory-entered-but-not-listed", ["src", "dst", "/u"],
                  tree=DEST_BLIND,
                  stdout=lines("src\\b.txt", " 1/2.files(1.dirs) copied."),
                  result={**DEST_BLIND, "dst/b.txt": File("b\n", mtime=T0)}),
    # A destination directory that cannot be entered: the namesake's lookup fails, and the file
    # with it, with the lookup's error.
    user_scenario("user/compare-with-a-directory-not-entered", ["src", "dst", "/c"],
                  tree=DEST_LOCKED,
                  stdout=lines("src\\a.txt" + DENIED, " 0/1.files(1.dirs) compared(1.errors)."),
                  exit=0x08, result=DEST_LOCKED),
    # Someone else's file that the user may not write is not replaced (it would become the
    # user's); the next file is copied.
    user_scenario("user/someone-elses-file-is-not-replaced", ["src", "dst", "/+c"],
                  tree=FOREIGN,
                  stdout=lines("src\\a.txt" + DENIED, "src\\b.txt",
                               " 1/2.files(1.dirs) copied(1.errors)."),
                  exit=0x01,
                  result={**FOREIGN, "dst/b.txt": "new b\n"},
                  check=lambda root, stdout: owned_by_root(root, "dst/a.txt")),
    user_scenario("user/someone-elses-file-is-not-moved-over", ["src", "dst", "/m", "/+c"],
                  tree=FOREIGN,
                  stdout=lines("src\\a.txt" + DENIED, "src\\b.txt",
                               " 1/2.files(1.dirs) moved(1.errors)."),
                  exit=0x03,
                  result={"src/a.txt": File("new a\n"), "dst/a.txt": File("root's a\n", mtime=T0),
                          "dst/b.txt": "new b\n"}),
    # A read-only source with stored attributes: the copy stores them while it may still write
    # the new file, and only then makes it read-only.
    user_scenario("user/read-only-hidden-file-is-copied", ["src", "dst", "/x"],
                  tree={"src/ro.txt": File("saved\n", readonly=True, dosattrib="0x23")},
                  stdout=lines("src\\ro.txt", " 1/1.files(1.dirs) copied."),
                  result={"src/ro.txt": File("saved\n", readonly=True),
                          "dst/ro.txt": File("saved\n", readonly=True, dosattrib="0x22")}),
    # A compare refused for access under /x clears both files' protection for a second attempt;
    # whatever its outcome, each file gets back exactly the attributes it had.
    user_scenario("user/compare-retry-gives-back-both-protections", ["src", "dst", "/c", "/x"],
                  tree={"src/a": File("a\n", mtime=T0, mode=0o444),
                        "dst/a": File("a\n", mtime=T0, mode=0o000)},
                  stdout=lines("src\\a" + DENIED, " 0/1.files(1.dirs) compared(1.errors)."),
                  exit=0x08,
                  result={"src/a": "a\n", "dst/a": "a\n"},
                  check=lambda root, stdout: modes_are(root, {"src/a": 0o444, "dst/a": 0o000})),
]


def modes_are(root, modes):
    """Failure texts for the files whose permission bits are not the ones given."""
    failures = []
    for relative, mode in modes.items():
        got = os.lstat(os.path.join(root, *relative.split("/"))).st_mode & 0o7777
        if got != mode:
            failures.append(f"{relative} has mode {got:o}, expected {mode:o}")
    return failures


def owned_by_root(root, relative):
    info = os.lstat(os.path.join(root, *relative.split("/")))
    return [] if info.st_uid == 0 else [f"{relative} belongs to user {info.st_uid}, not root"]
