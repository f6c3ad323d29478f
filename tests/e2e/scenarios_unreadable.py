"""Directories that cannot be listed: a listing that fails for any reason other than "nothing
matches" is a failure of that directory (its path, the error, the status value of the action it
blocks, then the stop rule), never a directory passed over in silence. Shut directories mean
something only to an ordinary user, so these run as one."""

import re

from scenario import Dir, Link, Scenario, lines

LOCKED = {
    "src/a.txt": "a\n",
    "src/locked": Dir(mode=0o000),
    "src/locked/in.txt": "inside\n",
    "src/ok/b.txt": "b\n",
}

# Listed but not searchable: the names can be read, nothing about the entries.
NO_SEARCH = {
    "src/a.txt": "a\n",
    "src/names": Dir(mode=0o444),
    "src/names/in.txt": "inside\n",
    "src/names/deeper/x.txt": "x\n",
    "src/ok/b.txt": "b\n",
}

DENIED = "\t:error(5) Access is denied.  "

# A backup whose upstream directory the user may not search: whether a namesake exists there
# cannot be told.
SHUT_UPSTREAM = {
    "bak/docs/gone.txt": "gone\n",
    "bak/docs/r1.txt": "r1\n",
    "live/docs": Dir(mode=0o000),
    "live/docs/r1.txt": "r1\n",
}

# A chain of directories deeper than the open-file limit lets the walk keep open at once.
DEEP = {"src/" + "/".join(["d"] * 12) + "/f.txt": "deep\n"}


def out_of_files(root, stdout):
    """The output of a walk that runs out of open files: one failure for the directory whose
    listing ran out, then the summary, which counts that failure."""
    match = re.fullmatch(r"src((?:\\d)+)\\\t:error\(4\) The system cannot open the file\.  \n"
                         r" 0/0\.files\(([0-9]+)\.dirs\) found\(1\.errors\)\.\n", stdout)
    if match is None:
        return ["unexpected output: " + repr(stdout)]
    if len(match.group(1)) // 2 + 1 != int(match.group(2)):  # src and each d below it
        return ["the failing directory is not the last one walked: " + repr(stdout)]
    return []


SCENARIOS = [
    Scenario("unreadable/shut-directory-stops", ["src", "dst", "/s"], tree=LOCKED,
             stdout=lines("src\\a.txt",
                          "src\\locked\\" + DENIED,
                          " 1/1.files(2.dirs) copied(1.errors)."),
             exit=0x01,
             result={**LOCKED, "dst/a.txt": "a\n"},
             as_user=True, only="native"),
    Scenario("unreadable/shut-directory-continues", ["src", "dst", "/s", "/+c"], tree=LOCKED,
             stdout=lines("src\\a.txt",
                          "src\\locked\\" + DENIED,
                          "src\\ok\\b.txt",
                          " 2/2.files(3.dirs) copied(1.errors)."),
             exit=0x01,
             result={**LOCKED, "dst/a.txt": "a\n", "dst/ok/b.txt": "b\n"},
             as_user=True, only="native"),
    # A delete blocked by the shut directory records the delete's status value; the source
    # directory that still holds it stays.
    Scenario("unreadable/shut-directory-delete-verbose", ["src", "/del", "/s", "/+c", "/+v"],
             tree=LOCKED,
             stdout=lines(" delete(src){",
                          "  (src\\){",
                          "   src\\a.txt",
                          "   (src\\locked\\){",
                          "    src\\locked\\" + DENIED,
                          "   }",
                          "   (src\\ok\\){",
                          "    src\\ok\\b.txt",
                          "   }",
                          "   removedir(src\\ok\\)",
                          "  }",
                          " }",
                          " 2/2.files(3.dirs) deleted(1.errors)."),
             exit=0x02,
             result={"src/locked": Dir(), "src/locked/in.txt": "inside\n"},
             as_user=True, only="native"),
    # A mask carried down by /s: the shut directory is reported once, by its first pass; its
    # second pass, which would list the same directory, is not made.
    Scenario("unreadable/shut-directory-masked", ["src\\*.txt", "dst", "/s", "/+c"], tree=LOCKED,
             stdout=lines("src\\a.txt",
                          "src\\locked\\" + DENIED,
                          "src\\ok\\b.txt",
                          " 2/2.files(2.dirs) copied(1.errors)."),
             exit=0x01,
             result={**LOCKED, "dst/a.txt": "a\n", "dst/ok/b.txt": "b\n"},
             as_user=True, only="native"),
    # The shut directory named as the source itself.
    Scenario("unreadable/shut-source", ["src\\locked\\", "dst"], tree=LOCKED,
             stdout=lines("src\\locked\\" + DENIED),
             exit=0x01, result=LOCKED,
             as_user=True, only="native"),
    # The names of the directory can be read, but no entry can be examined or opened: one
    # failure for the directory, not one per entry (and never its subdirectories as files).
    Scenario("unreadable/listed-but-not-searchable", ["src", "dst", "/s", "/+c"], tree=NO_SEARCH,
             stdout=lines("src\\a.txt",
                          "src\\names\\" + DENIED,
                          "src\\ok\\b.txt",
                          " 2/2.files(3.dirs) copied(1.errors)."),
             exit=0x01,
             result={**NO_SEARCH, "dst/a.txt": "a\n", "dst/ok/b.txt": "b\n"},
             as_user=True, only="native"),
    # A delete of what no longer exists upstream, where the upstream directory cannot be
    # searched: a namesake that cannot be looked up is a failure of the file, never an absent
    # one, so nothing is deleted.
    Scenario("unreadable/shut-destination-delete", ["bak", "live", "/s", "/del", "/+e", "/+c"],
             tree=SHUT_UPSTREAM,
             stdout=lines("bak\\docs\\gone.txt" + DENIED, "bak\\docs\\r1.txt" + DENIED,
                          " 0/2.files(2.dirs) deleted(2.errors)."),
             exit=0x02, result=SHUT_UPSTREAM, as_user=True, only="native"),
    # A listing refused with too many link levels.
    Scenario("unreadable/link-loop-source", ["src\\loop\\", "dst"],
             tree={"src/a.txt": "a\n", "src/loop": Link("loop")},
             stdout=lines("src\\loop\\\t:error(1921) The name of the file cannot be resolved by "
                          "the system.  "),
             exit=0x01, result={"src/a.txt": "a\n", "src/loop": Link("loop")}),
    # Too many open files: the listing that runs out is reported, not passed over. How deep the
    # walk gets before it runs out depends on what else the process holds open. (Listed with /e:
    # a copy would run out in making a destination directory first, which is reported too.)
    Scenario("unreadable/too-many-open-files", ["src", "dst", "/s", "/e"], tree=DEEP,
             exit=0x01, nofile=10, only="native", check=out_of_files),
]
