"""Shares that fail or lie: the table of share faults.

Each row mounts the test file system faultfs (tests/share/faultfs.cpp) over one directory of the
tree, the share, which passes every request through to that directory's own content except the
ones its rules pick out: a request that fails with an error, one that is carried out and then
answers an error (a lost reply), a write that is accepted and never stored (and one whose loss
shows only when the file is closed), and delays. The run's output, its exit status and both
trees, byte for byte, are checked once the share is unmounted again.

A row is: name, the share directory, its rules (faultfs's rule syntax: operation, path below the
share, action), the arguments, the initial tree, the expected output, exit status and tree.
The table covers, with the share as destination and as source where that applies:

- a lookup that fails (not "not found"): the namesake of a file, and the destination directory
  itself, under /del, /c and a copy; the listing of a source directory that fails
- a remove of a move's source whose reply is lost, and one that fails
- a verified move, and a verified copy over an older file, whose writes are never stored
- an incremental copy whose error comes only at close, and one whose mark cannot be removed
- failures treecopy already handles soundly: a write, a publishing rename, a time, a full share,
  a share without extended attributes, an incremental copy whose write fails, a slow share

Native only: mounting a FUSE file system needs /dev/fuse (and root, or fusermount3); where it
cannot be used the rows are skipped, saying why.

EXPECTED_FAIL_UNTIL_MERGED names rows whose sound behaviour is still to come (none now); they
are run and their failure is expected. A row on it that passes is a failure: take it off.
"""

from scenario import T0, Dir, File, Scenario, lines

EXPECTED_FAIL_UNTIL_MERGED = {}

IO_ERROR = "\t:error(1117) The request could not be performed because of an I/O device error.  "
LATER = T0 + 3600
KIB = 1024

# A backup of live\docs (r1..r3) that also holds a file deleted upstream.
BACKUP = {
    "bak/docs/gone.txt": File("gone\n", mtime=T0), "bak/docs/r1.txt": File("r1\n", mtime=T0),
    "bak/docs/r2.txt": File("r2\n", mtime=T0), "bak/docs/r3.txt": File("r3\n", mtime=T0),
    "live/docs/r1.txt": File("r1\n", mtime=T0), "live/docs/r2.txt": File("R2\n", mtime=T0),
    "live/docs/r3.txt": File("r3\n", mtime=T0),
}
BACKUP_GONE_DELETED = {path: item for path, item in BACKUP.items() if path != "bak/docs/gone.txt"}

# A file in a subdirectory, and its older namesake.
SUB_PAIR = {"src/sub/a.txt": File("new\n", mtime=LATER), "dst/sub/a.txt": File("old\n", mtime=T0)}

# One file to copy or move, and an older good destination.
DATA = bytes((i * 13 + i // 251) & 0xFF for i in range(48 * KIB))
OLD_DATA = b"old " * (4 * KIB)
ONE = {"src/a.bin": File(DATA, mtime=LATER)}
ONE_OVER_OLDER = {**ONE, "dst/a.bin": File(OLD_DATA, mtime=T0)}
COPIED = {**ONE, "dst/a.bin": File(DATA, mtime=LATER)}
MOVED = {"src": Dir(), "dst/a.bin": File(DATA, mtime=LATER)}

# A grown log: the destination holds its first 40 KiB, the source 56 KiB.
LOG = bytes((i * 7 + i // 4096) & 0xFF for i in range(56 * KIB))
LOG_OLD = File(LOG[:40 * KIB], mtime=T0)
LOG_TREE = {"src/app.log": File(LOG, mtime=LATER), "dst/app.log": LOG_OLD}
LOG_UPDATED = {"src/app.log": File(LOG, mtime=LATER), "dst/app.log": File(LOG, mtime=LATER)}

# Stored attributes that a share without extended attributes cannot keep.
HIDDEN = {"src/h.txt": File("hidden\n", mtime=T0, dosattrib="0x22")}

# The rules of a share without extended attributes.
NO_XATTR = ["setxattr * fail EOPNOTSUPP", "getxattr * fail EOPNOTSUPP",
            "listxattr * fail EOPNOTSUPP", "removexattr * fail EOPNOTSUPP"]


# name, share, rules, arguments, tree, output, exit status, expected tree
TABLE = [
    # --- A lookup that fails is a failure of that file, never an absent namesake ---
    ("share/lookup-fails-del-keeps-backup", "live", ["getattr /docs/r2.txt fail EIO"],
     ["bak", "live", "/s", "/del", "/+e"], BACKUP,
     lines("bak\\docs\\gone.txt", "bak\\docs\\r2.txt" + IO_ERROR,
           " 1/3.files(2.dirs) deleted(1.errors)."),
     0x02, BACKUP_GONE_DELETED),
    ("share/lookup-fails-del-continues", "live", ["getattr /docs/r2.txt fail EIO"],
     ["bak", "live", "/s", "/del", "/+e", "/+c"], BACKUP,
     lines("bak\\docs\\gone.txt", "bak\\docs\\r2.txt" + IO_ERROR,
           " 1/4.files(2.dirs) deleted(1.errors)."),
     0x02, BACKUP_GONE_DELETED),
    ("share/lookup-of-destination-dir-fails-del", "live", ["getattr /docs fail EIO"],
     ["bak", "live", "/s", "/del", "/+e"], BACKUP,
     lines("bak\\docs\\gone.txt" + IO_ERROR, " 0/1.files(2.dirs) deleted(1.errors)."),
     0x02, BACKUP),
    ("share/lookup-fails-compare", "live", ["getattr /docs/r2.txt fail EIO"],
     ["bak", "live", "/s", "/c", "/+c"], BACKUP,
     lines("bak\\docs\\r1.txt", "bak\\docs\\r2.txt" + IO_ERROR, "bak\\docs\\r3.txt",
           " 2/4.files(2.dirs) compared(1.errors)."),
     0x08, BACKUP),
    ("share/lookup-of-destination-dir-fails-compare", "dst", ["getattr /sub fail EIO"],
     ["src", "dst", "/s", "/c"], SUB_PAIR,
     lines("src\\sub\\a.txt" + IO_ERROR, " 0/1.files(2.dirs) compared(1.errors)."),
     0x08, SUB_PAIR),
    # A copy makes a destination directory it cannot find: making it fails too, and says so.
    ("share/lookup-of-destination-dir-fails-copy", "dst", ["getattr /sub fail EIO"],
     ["src", "dst", "/s"], SUB_PAIR,
     lines("dst\\sub" + IO_ERROR, " 0/0.files(2.dirs) copied(1.errors)."),
     0x04, SUB_PAIR),
    ("share/lookup-fails-copy", "dst", ["getattr /a.bin fail EIO"],
     ["src", "dst", "/s"], ONE_OVER_OLDER,
     lines("src\\a.bin" + IO_ERROR, " 0/1.files(1.dirs) copied(1.errors)."),
     0x01, ONE_OVER_OLDER),
    # The share as source: a directory that cannot be listed is reported as such.
    ("share/source-listing-fails", "src", ["opendir /sub fail EIO"],
     ["src", "dst", "/s"], {"src/a.txt": "a\n", "src/sub/b.txt": "b\n"},
     lines("src\\a.txt", "src\\sub\\" + IO_ERROR, " 1/1.files(2.dirs) copied(1.errors)."),
     0x01, {"src/a.txt": "a\n", "src/sub/b.txt": "b\n", "dst/a.txt": "a\n"}),

    # --- A move's source on the share whose remove fails or loses its reply ---
    ("share/move-source-remove-lost-reply", "src", ["unlink /a.bin lost EIO"],
     ["src\\a.bin", "dst", "/m"], ONE,
     lines("src\\a.bin", " 1/1.files moved."),
     0, MOVED),
    ("share/move-source-remove-answers-not-found", "src", ["unlink /a.bin lost ENOENT"],
     ["src\\a.bin", "dst", "/m"], ONE,
     lines("src\\a.bin", " 1/1.files moved."),
     0, MOVED),
    ("share/move-source-remove-fails", "src", ["unlink /a.bin fail EIO"],
     ["src\\a.bin", "dst", "/m"], ONE,
     lines("src\\a.bin" + IO_ERROR, " 0/1.files moved(1.errors)."),
     0x03, {**ONE, "dst": Dir()}),

    # --- Writes the share accepts and never stores: the verify is what catches them ---
    ("share/move-verify-write-never-stored", "dst", ["write * drop"],
     ["src\\a.bin", "dst", "/m", "/v"], ONE,
     lines("src\\a.bin\t:longer", " 0/1.files moved(1.errors).", " 1/0.files unmatched."),
     0x09, ONE),
    ("share/verify-new-write-never-stored", "dst", ["write * drop"],
     ["src", "dst", "/v"], ONE,
     lines("src\\a.bin\t:longer", " 0/1.files(1.dirs) copied(1.errors).", " 1/0.files unmatched."),
     0x09, ONE),
    ("share/verify-over-older-write-never-stored", "dst", ["write * drop"],
     ["src", "dst", "/v"], ONE_OVER_OLDER,
     lines("src\\a.bin\t:longer", " 0/1.files(1.dirs) copied(1.errors).", " 1/0.files unmatched."),
     0x09, ONE_OVER_OLDER),

    # --- An incremental copy on the share ---
    # Its write is lost and says so only at close: the appended bytes are cut off again and the
    # old time put back.
    ("share/incremental-error-at-close", "dst", ["write /app.log late EIO"],
     ["src\\app.log", "dst", "/i"], LOG_TREE,
     lines("src\\app.log" + IO_ERROR, " 0/1.files copied(1.errors)."),
     0x01, LOG_TREE),
    # The mark of the update cannot be removed at the end: the update is complete, and that is
    # reported.
    ("share/incremental-mark-not-removed", "dst", ["removexattr /app.log fail EIO"],
     ["src\\app.log", "dst", "/i"], LOG_TREE,
     lines("src\\app.log" + IO_ERROR, " 0/1.files copied(1.errors)."),
     0x01, LOG_UPDATED),
    ("share/incremental-write-fails", "dst", ["write /app.log fail EIO"],
     ["src\\app.log", "dst", "/i"], LOG_TREE,
     lines("src\\app.log" + IO_ERROR, " 0/1.files copied(1.errors)."),
     0x01, LOG_TREE),

    # --- Share faults already handled soundly ---
    ("share/copy-write-fails", "dst", ["write * fail EIO"],
     ["src", "dst"], ONE_OVER_OLDER,
     lines("src\\a.bin" + IO_ERROR, " 0/1.files(1.dirs) copied(1.errors)."),
     0x01, ONE_OVER_OLDER),
    ("share/copy-write-lost-at-close", "dst", ["write * late EIO"],
     ["src", "dst"], ONE_OVER_OLDER,
     lines("src\\a.bin" + IO_ERROR, " 0/1.files(1.dirs) copied(1.errors)."),
     0x01, ONE_OVER_OLDER),
    ("share/copy-share-full", "dst", ["write * fail ENOSPC"],
     ["src", "dst"], ONE_OVER_OLDER,
     lines("src\\a.bin\t:error(112) There is not enough space on the disk.  ",
           " 0/1.files(1.dirs) copied(1.errors)."),
     0x01, ONE_OVER_OLDER),
    ("share/copy-publish-rename-fails", "dst", ["rename * fail EIO"],
     ["src", "dst"], ONE_OVER_OLDER,
     lines("src\\a.bin" + IO_ERROR, " 0/1.files(1.dirs) copied(1.errors)."),
     0x01, ONE_OVER_OLDER),
    ("share/copy-time-fails", "dst", ["utimens * fail EIO"],
     ["src", "dst"], ONE_OVER_OLDER,
     lines("src\\a.bin" + IO_ERROR, " 0/1.files(1.dirs) copied(1.errors)."),
     0x01, ONE_OVER_OLDER),
    ("share/copy-no-extended-attributes", "dst", NO_XATTR,
     ["src", "dst", "/x"], HIDDEN,
     lines("src\\h.txt", " 1/1.files(1.dirs) copied."),
     0, {**HIDDEN, "dst/h.txt": File("hidden\n", mtime=T0)}),
    ("share/copy-from-share-without-extended-attributes", "src", NO_XATTR,
     ["src", "dst"], {"src/a.txt": File("a\n", mtime=T0)},
     lines("src\\a.txt", " 1/1.files(1.dirs) copied."),
     0, {"src/a.txt": File("a\n", mtime=T0), "dst/a.txt": File("a\n", mtime=T0)}),
    ("share/move-onto-slow-share", "dst", ["* * delay 2000"],
     ["src", "dst", "/s", "/m"], {"src/a.txt": "a\n", "src/sub/b.txt": "b\n"},
     lines("src\\a.txt", "src\\sub\\b.txt", " 2/2.files(2.dirs) moved."),
     0, {"dst/a.txt": "a\n", "dst/sub/b.txt": "b\n"}),
]


def scenario_of(row):
    name, share, rules, args, tree, stdout, exit_code, result = row
    # The share's directory exists even when nothing is in it: it is mounted over.
    if not any(path == share or path.startswith(share + "/") for path in result):
        result = {**result, share: Dir()}
    return Scenario(name, args, tree=tree, stdout=stdout, exit=exit_code, result=result,
                    only="native", share={share: rules},
                    expected_fail=EXPECTED_FAIL_UNTIL_MERGED.get(name))


SCENARIOS = [scenario_of(row) for row in TABLE]
