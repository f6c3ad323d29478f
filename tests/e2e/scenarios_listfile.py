"""List files: one walk per line, relative to the source path; quoted lines, CR LF line ends and
empty lines; a line that finds nothing stops the run without /+c and is passed over with it;
masks given beside a list file are ignored."""

import os

from scenario import T0, UNCHANGED, Dir, File, Pause, Scenario, lines


def merged(tree, add=None, drop=()):
    """The tree with the entries of `add` put in and the paths of `drop` (and all below them)
    taken out."""
    out = {path: item for path, item in tree.items()
           if not any(path == d or path.startswith(d + "/") for d in drop)}
    out.update(add or {})
    return out


FILES = {
    "src/a.txt": "a\n",
    "src/b c.txt": "b c\n",
    "src/sub/d.txt": "d\n",
    "src/sub/e.log": "e\n",
    "src/x.c": "x\n",
    "dst/keep": "keep\n",
}


def with_list(content):
    return merged(FILES, {"files.lst": content})


# Windows line ends, a quoted name with a blank and text after its closing quote, an empty line.
MIXED = b'a.txt\r\n"b c.txt" and a remark\r\n\r\nsub\\d.txt\r\n'
MISSING = b"a.txt\nmissing.txt\nb c.txt\n"

# A line longer than a path can be (511 bytes fit after the prefix src\\), whose tail names a
# file: the tail must never be read as a line of its own.
LONG = ("x" * 511 + "a.txt\n").encode()
LONG_SHOWN = "src\\" + "x" * 511 + " :path too long"
TWO_OF_ONE_NAME = {"src/a/x.txt": File("A\n", mtime=T0), "src/b/x.txt": File("B\n", mtime=T0 + 60),
                   "files.lst": b"a\\x.txt\nb\\x.txt\n"}
SLASHES = {"src/old/config.ini": "old\n", "src/config.ini": "current\n"}

SCENARIOS = [
    Scenario("listfile/mixed-lines-verbose", ["src", "@files.lst", "dst", "/+v"],
             tree=with_list(MIXED),
             stdout=lines(" copy(src\\a.txt --> dst){",
                          "  src\\a.txt\t--> dst\\a.txt",
                          " }",
                          " copy(src\\b c.txt --> dst){",
                          "  src\\b c.txt\t--> dst\\b c.txt",
                          " }",
                          " copy(src\\sub\\d.txt --> dst){",
                          "  src\\sub\\d.txt\t--> dst\\d.txt",
                          " }",
                          " 3/3.files copied.")),
    Scenario("listfile/no-source", ["@files.lst", "dst"],
             tree=with_list(b"src\\a.txt\nsrc\\x.c\n"),
             stdout=lines("src\\a.txt", "src\\x.c", " 2/2.files copied."),
             result=merged(with_list(b"src\\a.txt\nsrc\\x.c\n"),
                           {"dst/a.txt": "a\n", "dst/x.c": "x\n"})),
    Scenario("listfile/patterns-and-directories", ["src", "@files.lst", "dst", "/s"],
             tree=with_list(b"*.c\nsub\n"),
             stdout=lines("src\\x.c", "src\\sub\\d.txt", "src\\sub\\e.log",
                          " 3/3.files(2.dirs) copied."),
             result=merged(with_list(b"*.c\nsub\n"),
                           {"dst/x.c": "x\n", "dst/d.txt": "d\n", "dst/e.log": "e\n"})),
    Scenario("listfile/masks-beside-are-ignored", ["src", "@files.lst", "*.log", "dst"],
             tree=with_list(b"a.txt\n"),
             stdout=lines("src\\a.txt", " 1/1.files copied.")),
    Scenario("listfile/no-closing-quote", ["src", "@files.lst", "dst"],
             tree=with_list(b'"a.txt\n'),
             stdout=lines("src\\a.txt", " 1/1.files copied.")),
    # A line that finds nothing: its own message, status 0xA0, one error; without /+c the
    # reading stops there.
    Scenario("listfile/line-not-found-stops", ["src", "@files.lst", "dst"],
             tree=with_list(MISSING),
             stdout=lines("src\\a.txt", "src\\missing.txt :file not found.",
                          " 1/1.files copied(1.errors)."),
             exit=0xA0,
             result=merged(with_list(MISSING), {"dst/a.txt": "a\n"})),
    Scenario("listfile/line-not-found-continues", ["src", "@files.lst", "dst", "/+c"],
             tree=with_list(MISSING),
             stdout=lines("src\\a.txt", "src\\missing.txt :file not found.", "src\\b c.txt",
                          " 2/2.files copied(1.errors)."),
             exit=0xA0,
             result=merged(with_list(MISSING), {"dst/a.txt": "a\n", "dst/b c.txt": "b c\n"})),
    # No file and no directory found by any walk, but lines were walked: no summary line.
    Scenario("listfile/line-not-found-verbose", ["src", "@files.lst", "dst", "/+v"],
             tree=with_list(b"none.txt\n"),
             stdout=lines(" copy(src\\none.txt --> dst){}",
                          "src\\none.txt :file not found."),
             exit=0xA0),
    Scenario("listfile/only-missing-lines", ["src", "@files.lst", "dst", "/+c"],
             tree=with_list(b"no1\nno2\n"),
             stdout=lines("src\\no1 :file not found.", "src\\no2 :file not found."),
             exit=0xA0),
    # A line that finds only files that are not acted on is not "not found".
    Scenario("listfile/line-finds-but-acts-on-none", ["src", "@files.lst", "dst", "/n"],
             tree=merged(with_list(b"a.txt\n"), {"dst/a.txt": "old\n"}),
             stdout=lines(" 0/1.files copied.")),
    # Nothing walked at all: the message names the source prefix.
    Scenario("listfile/empty-file", ["src", "@files.lst", "dst"],
             tree=with_list(b""),
             stdout=lines("src\\ :file not found."), exit=0xA0,
             result=with_list(b"")),
    Scenario("listfile/into-missing-destination", ["src", "@files.lst", "new\\dir", "/+v"],
             tree=with_list(b"a.txt\nx.c\n"),
             stdout=lines(" copy(src\\a.txt --> new\\dir){",
                          "  createdir(new)",
                          "  createdir(new\\dir)",
                          "  src\\a.txt\t--> new\\dir\\a.txt",
                          " }",
                          " copy(src\\x.c --> new\\dir){",
                          "  src\\x.c\t--> new\\dir\\x.c",
                          " }",
                          " 2/2.files copied."),
             result=merged(with_list(b"a.txt\nx.c\n"), {"new/dir/a.txt": "a\n",
                                                       "new/dir/x.c": "x\n"})),
    Scenario("listfile/delete-lines", ["src", "@files.lst", "/del"],
             tree=with_list(b"a.txt\nsub\\e.log\n"),
             stdout=lines("src\\a.txt", "src\\sub\\e.log", " 2/2.files deleted."),
             result=merged(with_list(b"a.txt\nsub\\e.log\n"), drop=["src/a.txt", "src/sub/e.log"])),
    # An over-long line is reported once, as far as it fits; its tail is dropped unread.
    Scenario("listfile/overlong-line-stops", ["src", "@files.lst", "/del"],
             tree=with_list(LONG + b"b c.txt\n"),
             stdout=lines(LONG_SHOWN), exit=0xA0, result=UNCHANGED),
    Scenario("listfile/overlong-line-continues", ["src", "@files.lst", "/del", "/+c"],
             tree=with_list(LONG + b"x.c\n"),
             stdout=lines(LONG_SHOWN, "src\\x.c", " 1/1.files deleted(1.errors)."),
             exit=0xA0, result=merged(with_list(LONG + b"x.c\n"), drop=["src/x.c"])),
    # A line that fits exactly is walked (the system refuses a name that long); a quoted path is
    # not too long for a long remark.
    Scenario("listfile/line-that-just-fits", ["src", "@files.lst", "dst", "/+c"],
             tree=with_list(("x" * 511 + "\n").encode() + b'"a.txt" ' + b"r" * 600 + b"\n"),
             stdout=lines("src\\" + "x" * 511 + "\t:error(206) The filename or extension is too long.  ",
                          "src\\a.txt", " 1/1.files copied(1.errors)."),
             exit=0x01),
    # A / is a separator, as \\ is: the line names the file below old, not the one above it.
    Scenario("listfile/slash-is-a-separator", ["src", "@files.lst", "/del"],
             tree={**SLASHES, "files.lst": b"old/config.ini\n"},
             stdout=lines("src\\old\\config.ini", " 1/1.files deleted."),
             result={"src/old": Dir(), "src/config.ini": "current\n", "files.lst": b"old/config.ini\n"}),
    # A line is a path below the source: one that climbs out of it, or an absolute one, is
    # refused before any line is walked, so the lines before it move nothing either.
    Scenario("listfile/climbing-line-is-refused", ["src", "@files.lst", "dst", "/m"],
             tree=merged(with_list(b"a.txt\n..\\outside\\f.txt\n"), {"outside/f.txt": "f\n"}),
             stdout=lines("..\\outside\\f.txt :not a path below the source"), exit=0x80,
             result=UNCHANGED),
    Scenario("listfile/absolute-line-is-refused", ["src", "@files.lst", "/del"],
             tree=merged(with_list(b"a.txt\n{root}\\outside\\f.txt\n"), {"outside/f.txt": "f\n"}),
             stdout=lines("{root}\\outside\\f.txt :not a path below the source"), exit=0x80,
             result=UNCHANGED),
    # Without a source path each line is a source of its own, written as on the command line.
    Scenario("listfile/without-source-a-line-may-climb", ["@files.lst", "dst"],
             tree=merged(with_list(b"src\\..\\outside\\f.txt\n"), {"outside/f.txt": "f\n"}),
             stdout=lines("src\\..\\outside\\f.txt", " 1/1.files copied."),
             result=merged(with_list(b"src\\..\\outside\\f.txt\n"),
                           {"outside/f.txt": "f\n", "dst/f.txt": "f\n"})),
    # A byte-order mark at the start (as Notepad writes one) is no part of the first line.
    Scenario("listfile/byte-order-mark-is-skipped", ["src", "@files.lst", "dst"],
             tree=with_list(b"\xef\xbb\xbfa.txt\r\nx.c\r\n"),
             stdout=lines("src\\a.txt", "src\\x.c", " 2/2.files copied."),
             result=merged(with_list(b"\xef\xbb\xbfa.txt\r\nx.c\r\n"),
                           {"dst/a.txt": "a\n", "dst/x.c": "x\n"})),
    # A NUL byte cannot be part of a path: the line is refused as a bad name, not cut short
    # (which would copy a.txt).
    Scenario("listfile/nul-byte-refuses-the-line", ["src", "@files.lst", "dst", "/+c"],
             tree=with_list(b"a.txt\x00.bak\nx.c\n"),
             stdout=lines("src\\a.txt\t:error(123) The filename, directory name, or volume label "
                          "syntax is incorrect.  ", "src\\x.c", " 1/1.files copied(1.errors)."),
             exit=0xA0, result=merged(with_list(b"a.txt\x00.bak\nx.c\n"), {"dst/x.c": "x\n"})),
    Scenario("listfile/slash-in-quotes-and-verbose", ["src", "@files.lst", "dst", "/+v"],
             tree={**SLASHES, "files.lst": b'"old/config.ini" the old one\r\n'},
             stdout=lines(" copy(src\\old\\config.ini --> dst){",
                          "  createdir(dst)",
                          "  src\\old\\config.ini\t--> dst\\config.ini",
                          " }",
                          " 1/1.files copied."),
             result={**SLASHES, "files.lst": b'"old/config.ini" the old one\r\n',
                     "dst/config.ini": "old\n"}),
    # Two lines whose files have one name: the second never replaces what the first has put in
    # the destination (in a move, the only copy of the first file): it fails with 80, untouched.
    Scenario("listfile/second-file-of-one-name-moved", ["src", "@files.lst", "dst", "/m"],
             tree=TWO_OF_ONE_NAME,
             stdout=lines("src\\a\\x.txt", "src\\b\\x.txt\t:error(80) The file exists.  ",
                          " 1/2.files moved(1.errors)."),
             exit=0x03, result=merged(TWO_OF_ONE_NAME, {"src/a": Dir(), "dst/x.txt": "A\n"}, drop=["src/a/x.txt"])),
    Scenario("listfile/second-file-of-one-name-copied", ["src", "@files.lst", "dst", "/+c"],
             tree=merged(TWO_OF_ONE_NAME, {"files.lst": b"a\\x.txt\nb\\x.txt\nb\\y.txt\n",
                                           "src/b/y.txt": "Y\n"}),
             stdout=lines("src\\a\\x.txt", "src\\b\\x.txt\t:error(80) The file exists.  ",
                          "src\\b\\y.txt", " 2/3.files copied(1.errors)."),
             exit=0x01, result=merged(TWO_OF_ONE_NAME, {"files.lst": b"a\\x.txt\nb\\x.txt\nb\\y.txt\n",
                                                        "src/b/y.txt": "Y\n", "dst/x.txt": "A\n",
                                                        "dst/y.txt": "Y\n"})),
    # Another program puts a new, empty destination in place of the old one between two lines
    # (renamed away, made again): the second line's namesake is looked up in the new directory,
    # never in the one renamed away, so b.txt is copied. The window: the listing of src\b.txt.
    Scenario("listfile/destination-replaced-between-lines", ["src", "@files.lst", "dst", "/u"],
             only="native",
             tree={"src/a.txt": File("a\n", mtime=T0), "src/b.txt": File("b\n", mtime=T0),
                   "dst/b.txt": File("b\n", mtime=T0), "files.lst": "a.txt\nb.txt\n"},
             pause=Pause("statx", 1, lambda root: (os.rename(os.path.join(root, "dst"),
                                                             os.path.join(root, "dst.old")),
                                                   os.mkdir(os.path.join(root, "dst"))),
                         path="src/b.txt"),
             stdout=lines("src\\a.txt", "src\\b.txt", " 2/2.files copied."),
             result={"src/a.txt": "a\n", "src/b.txt": "b\n", "files.lst": "a.txt\nb.txt\n",
                     "dst.old/a.txt": "a\n", "dst.old/b.txt": "b\n", "dst/b.txt": "b\n"}),
    # The same file named twice is no collision: copied again, as any selected pair is.
    Scenario("listfile/one-file-named-twice", ["src", "@files.lst", "dst"],
             tree=merged(TWO_OF_ONE_NAME, {"files.lst": b"a\\x.txt\na/x.txt\n"}),
             stdout=lines("src\\a\\x.txt", "src\\a\\x.txt", " 2/2.files copied."),
             result=merged(TWO_OF_ONE_NAME, {"files.lst": b"a\\x.txt\na/x.txt\n", "dst/x.txt": "A\n"})),
]
