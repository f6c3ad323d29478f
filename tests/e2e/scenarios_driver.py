"""The run driver: one walk per source, per mask or per list-file line, wildcard directories,
reversed paths, and the closing summary or report."""

from scenario import UNCHANGED, Dir, Scenario, lines

SRC = {"src/a.txt": "alpha\n", "src/b.txt": "beta\n", "src/c.log": "gamma\n"}
BAD_NAME = "\t:error(123) The filename, directory name, or volume label syntax is incorrect.  "

SCENARIOS = [
    Scenario("driver/one-file-copy", ["src\\a.txt", "dst"],
             stdout=lines("src\\a.txt", " 1/1.files copied."),
             tree={"src/a.txt": "alpha\n", "dst": Dir()},
             result={"src/a.txt": "alpha\n", "dst/a.txt": "alpha\n"}),
    Scenario("driver/echo-changes-nothing", ["src\\a.txt", "dst", "/e"],
             stdout=lines("src\\a.txt", " 1/1.files found."),
             tree={"src/a.txt": "alpha\n"}, result=UNCHANGED),
    Scenario("driver/source-not-found", ["nothing.txt", "dst"],
             stdout="nothing.txt :file not found.\n", exit=0xA0,
             tree={"dst": Dir()}, result=UNCHANGED),
    Scenario("driver/destination-is-the-source", ["src", "src", "/s"],
             stdout="Source and destination are the same path.\n", exit=0xF0,
             tree=SRC, result=UNCHANGED),
    Scenario("driver/destination-inside-the-source", ["src", "src\\sub", "/s"],
             stdout="Source and destination are the same path.\n", exit=0xF0,
             tree=SRC, result=UNCHANGED),
    # Masks: one walk each, in command-line order.
    Scenario("driver/mask-list", ["src", "*.log", "a.*", "dst"],
             stdout=lines("src\\c.log", "src\\a.txt", " 2/2.files copied."),
             tree=SRC, result=dict(SRC, **{"dst/c.log": "gamma\n", "dst/a.txt": "alpha\n"})),
    # /+r swaps the paths as written: the walk runs from the written destination.
    Scenario("driver/reverse-paths", ["bak", "src\\a.txt", "/+r"],
             stdout=lines("src\\a.txt", " 1/1.files copied."),
             tree={"src/a.txt": "alpha\n"},
             result={"src/a.txt": "alpha\n", "bak/a.txt": "alpha\n"}),
    # A wildcard last component that first matches a directory stands for it, and a destination
    # ending in * takes its name. (Written relative, logs\run* would be a mask, not a source.)
    Scenario("driver/wildcard-directory", ["{root}\\logs\\run*", "bak\\*", "/s"], exit=0,
             tree={"logs/run-01/x.log": "x\n", "logs/run-02/y.log": "y\n"},
             result={"logs/run-01/x.log": "x\n", "logs/run-02/y.log": "y\n",
                     "bak/run-01/x.log": "x\n"}),
    # A wildcard that matches a file names files, even when a directory matches first: the
    # directory archive.txt and what it holds stay.
    Scenario("driver/wildcard-matching-files-and-a-directory", ["{root}\\src\\*.txt", "/del"],
             tree={"src/archive.txt/important.doc": "keep\n", "src/b.txt": "b\n"},
             stdout=lines("{root}\\src\\b.txt", " 1/1.files deleted."),
             result={"src/archive.txt/important.doc": "keep\n"}),
    Scenario("driver/wildcard-matching-files-and-a-directory-with-s",
             ["{root}\\src\\*.txt", "dst", "/s"],
             tree={"src/archive.txt/important.doc": "keep\n", "src/archive.txt/in.txt": "in\n",
                   "src/b.txt": "b\n"},
             stdout=lines("{root}\\src\\b.txt", "{root}\\src\\archive.txt\\in.txt",
                          " 2/2.files(1.dirs) copied."),
             result={"src/archive.txt/important.doc": "keep\n", "src/archive.txt/in.txt": "in\n",
                     "src/b.txt": "b\n", "dst/b.txt": "b\n", "dst/archive.txt/in.txt": "in\n"}),
    # Only directories match: the wildcard stands for the first of them, as before.
    Scenario("driver/wildcard-matching-only-directories", ["{root}\\src\\proj*", "dst"],
             tree={"src/proj1/a.txt": "a\n", "src/proj2/b.txt": "b\n"},
             stdout=lines("{root}\\src\\proj1\\a.txt", " 1/1.files(1.dirs) copied."),
             result={"src/proj1/a.txt": "a\n", "src/proj2/b.txt": "b\n", "dst/a.txt": "a\n"}),
    # List files: one path per line relative to the source; quotes, empty lines, CR LF ends.
    Scenario("driver/list-file", ["src", "@list.txt", "dst"],
             stdout=lines("src\\a.txt", "src\\c.log", " 2/2.files copied."),
             tree=dict(SRC, **{"list.txt": 'a.txt\r\n\r\n"c.log" and a remark\r\n'}),
             result=dict(SRC, **{"list.txt": 'a.txt\r\n\r\n"c.log" and a remark\r\n',
                                 "dst/a.txt": "alpha\n", "dst/c.log": "gamma\n"})),
    Scenario("driver/list-line-not-found-stops-the-run", ["src", "@list.txt", "dst"],
             stdout="src\\missing.txt :file not found.\n", exit=0xA0,
             tree=dict(SRC, **{"list.txt": "missing.txt\na.txt\n"}), result=UNCHANGED),
    Scenario("driver/list-line-not-found-with-continue", ["src", "@list.txt", "dst", "/+c"],
             stdout=lines("src\\missing.txt :file not found.", "src\\a.txt",
                          " 1/1.files copied(1.errors)."),
             exit=0xA0, tree=dict(SRC, **{"list.txt": "missing.txt\na.txt\n"}),
             result=dict(SRC, **{"list.txt": "missing.txt\na.txt\n", "dst/a.txt": "alpha\n"})),
    # A missing name (0xA0) and a destination that is a file (0xD0) add up to the bits of the
    # same-path status, but no path was the same: the summary stands, the status is their union.
    Scenario("driver/status-bits-do-not-make-a-same-path-refusal",
             ["src", "@list.txt", "dst", "/+c"],
             stdout=lines("src\\missing.txt :file not found.", "Destination must be a path.",
                          "src\\a.txt\t:error(3) The system cannot find the path specified.  ",
                          " 0/1.files copied(3.errors)."),
             exit=0xF1, tree=dict(SRC, **{"list.txt": "missing.txt\na.txt\n", "dst": "a file\n"}),
             result=UNCHANGED),
    # A source that climbs through a wildcard or through a file finds nothing, on both builds.
    Scenario("driver/wildcard-in-a-directory-component-finds-nothing", ["src\\*\\*.txt", "dst"],
             stdout="src\\*\\*.txt :file not found.\n", exit=0xA0,
             tree=dict(SRC, **{"src/d/x.txt": "x\n"}), result=UNCHANGED),
    Scenario("driver/file-as-a-directory-component-finds-nothing", ["src\\a.txt\\x", "dst"],
             stdout="src\\a.txt\\x :file not found.\n", exit=0xA0, tree=SRC, result=UNCHANGED),
    Scenario("driver/empty-list-file", ["src", "@list.txt", "dst"],
             stdout="src\\ :file not found.\n", exit=0xA0,
             tree=dict(SRC, **{"list.txt": "\n\n"}), result=UNCHANGED),
    # A listing that cannot be written is said once on standard error and makes the exit status
    # non-zero; the copy itself is done all the same.
    Scenario("driver/listing-to-a-full-device", ["src", "dst"], output="full",
             stderr="Standard output could not be written.\n", exit=0x40,
             tree=SRC, result=dict(SRC, **{"dst/" + name[4:]: item for name, item in SRC.items()})),
    Scenario("driver/listing-to-a-closed-output", ["src", "dst"], output="closed",
             stderr="Standard output could not be written.\n", exit=0x40,
             tree=SRC, result=dict(SRC, **{"dst/" + name[4:]: item for name, item in SRC.items()})),
    # A destination whose wildcard matched no directory names none: it is refused as Windows
    # refuses such a name, before anything is made.
    Scenario("driver/wildcard-destination-that-matched-nothing", ["src", "new?"],
             stdout=lines("new?" + BAD_NAME), exit=0x04, tree=SRC, result=UNCHANGED),
    Scenario("driver/wildcard-destination-of-a-source-that-matched-nothing", ["*", "?.txt"],
             stdout=lines("?.txt" + BAD_NAME), exit=0x04, tree={}, result=UNCHANGED),
]
