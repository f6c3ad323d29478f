"""A full disk, for real: the destination is a small tmpfs (1 MiB) mounted for the scenario and
filled almost to the brim, so that the copy, the new copy, the incremental update and the move
across file systems each run out of space midway. Every time the old destination is whole (or
absent where it was absent), no temporary file is left in the directory (the expected trees are
exact), the line carries error 112, the status has the action's value, and under /+c the run
goes on with the next file, which fits.

Native only: mounting needs root (elsewhere these are skipped: "cannot mount"), and the
whole-or-nothing copy is this program's own on POSIX, while the Windows build copies with the
system's CopyFile, which writes into the destination in place (under Wine, Wine's)."""

from scenario import T0, File, Scenario, lines

KIB = 1024
FULL = "\t:error(112) There is not enough space on the disk.  "
SMALL_FS = {"dst": "1m"}

NEW = b"N" * (700 * KIB)  # more than the room left
OLD = File(b"o" * (100 * KIB), mtime=T0)
FILL = b"f" * (300 * KIB)  # with OLD: about 620 KiB left of 1 MiB
FILL_ALONE = b"f" * (400 * KIB)  # about 620 KiB left without OLD
LATER = T0 + 3600


def copy_tree(with_old):
    tree = {"src/big.bin": File(NEW, mtime=LATER), "src/small.txt": "fits\n",
            "dst/fill": FILL if with_old else FILL_ALONE}
    if with_old:
        tree["dst/big.bin"] = OLD
    return tree


def small_moved(tree):
    """The tree after a move in which only the small file got through."""
    result = {path: item for path, item in tree.items() if path != "src/small.txt"}
    result["dst/small.txt"] = "fits\n"
    return result


# A grown log: the destination holds its first 400 KiB, the source 1000 KiB; 300 KiB left.
LOG = bytes((i * 7 + i // 4096) & 0xFF for i in range(1000 * KIB))
LOG_OLD = File(LOG[:400 * KIB], mtime=T0)
LOG_TREE = {"src/log.bin": File(LOG, mtime=LATER), "src/small.txt": "fits\n",
            "dst/log.bin": LOG_OLD, "dst/fill": FILL}

# A disk image of 8 MiB that holds 12 KiB of data, the rest holes: its copy fits only where the
# holes stay holes.
IMAGE = bytearray(8 * 1024 * KIB)
for at in (0, 4 * 1024 * KIB, 8 * 1024 * KIB - 4 * KIB):
    IMAGE[at:at + 4 * KIB] = bytes((i * 13) & 0xFF for i in range(4 * KIB))
IMAGE = bytes(IMAGE)

SCENARIOS = [
    # A sparse source onto the small file system, as a copy and as a move: only its data are
    # written.
    Scenario("diskfull/sparse-copy-keeps-holes", ["src", "dst"], only="native", mount=SMALL_FS,
             tree={"src/image.bin": File(IMAGE, mtime=T0, holes=True), "dst/fill": FILL_ALONE},
             stdout=lines("src\\image.bin", " 1/1.files(1.dirs) copied."),
             result={"src/image.bin": File(IMAGE, mtime=T0), "dst/image.bin": File(IMAGE, mtime=T0),
                     "dst/fill": FILL_ALONE}),
    # A copy over an older destination: the old file stays, with its time; the next file fits.
    Scenario("diskfull/copy-over-older-continues", ["src", "dst", "/+c"], only="native",
             mount=SMALL_FS, tree=copy_tree(True),
             stdout=lines("src\\big.bin" + FULL, "src\\small.txt",
                          " 1/2.files(1.dirs) copied(1.errors)."),
             exit=0x01, result={**copy_tree(True), "dst/small.txt": "fits\n"}),
    Scenario("diskfull/copy-over-older-stops", ["src", "dst"], only="native",
             mount=SMALL_FS, tree=copy_tree(True),
             stdout=lines("src\\big.bin" + FULL, " 0/1.files(1.dirs) copied(1.errors)."),
             exit=0x01, result=copy_tree(True)),
    # A new copy: nothing of it is left.
    Scenario("diskfull/new-copy-continues", ["src", "dst", "/+c"], only="native",
             mount=SMALL_FS, tree=copy_tree(False),
             stdout=lines("src\\big.bin" + FULL, "src\\small.txt",
                          " 1/2.files(1.dirs) copied(1.errors)."),
             exit=0x01, result={**copy_tree(False), "dst/small.txt": "fits\n"}),
    # An incremental update that runs out of room while appending: the destination is cut back
    # to what it was, its time too, so that it still looks older and a later run updates it.
    Scenario("diskfull/incremental-continues", ["src", "dst", "/i", "/+c"], only="native",
             mount=SMALL_FS, tree=LOG_TREE,
             stdout=lines("src\\log.bin" + FULL, "src\\small.txt",
                          " 1/2.files(1.dirs) copied(1.errors)."),
             exit=0x01, result={**LOG_TREE, "dst/small.txt": "fits\n"}),
    # A move from the disk onto the small file system, to an absent destination (copied, then
    # the source removed) and over an older one (copied over it, then the source deleted): the
    # source stays, the destination is as it was, and the next file is moved.
    Scenario("diskfull/move-across-file-systems-continues", ["src", "dst", "/m", "/+c"],
             only="native", mount=SMALL_FS, tree=copy_tree(False),
             stdout=lines("src\\big.bin" + FULL, "src\\small.txt",
                          " 1/2.files(1.dirs) moved(1.errors)."),
             exit=0x03, result=small_moved(copy_tree(False))),
    Scenario("diskfull/move-over-older-continues", ["src", "dst", "/m", "/+c"],
             only="native", mount=SMALL_FS, tree=copy_tree(True),
             stdout=lines("src\\big.bin" + FULL, "src\\small.txt",
                          " 1/2.files(1.dirs) moved(1.errors)."),
             exit=0x03, result=small_moved(copy_tree(True))),
    Scenario("diskfull/move-over-older-stops", ["src", "dst", "/m"],
             only="native", mount=SMALL_FS, tree=copy_tree(True),
             stdout=lines("src\\big.bin" + FULL, " 0/1.files(1.dirs) moved(1.errors)."),
             exit=0x03, result=copy_tree(True)),
]
