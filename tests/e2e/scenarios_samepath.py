"""The same-path refusal: a destination that is the source or lies inside it (by its text, by
identity, through links, or through a bind mount met by the walk) is refused with
"Source and destination are the same path." in place of the summary (exit 0xF0), in every
mode; a file that would be copied onto itself is refused the same way; a sibling whose name
merely begins with the source's is not."""

from scenario import UNCHANGED, Scenario, lines

TREE = {"src/a.txt": "alpha\n", "src/b.txt": "beta\n", "src/sub/c.txt": "gamma\n"}
SAME = lines("Source and destination are the same path.")


def refused(name, args, stdout=SAME):
    return Scenario(name, args, tree=TREE, stdout=stdout, exit=0xF0, result=UNCHANGED)


SCENARIOS = [
    refused("samepath/identical-with-separator", ["src", "src\\", "/s"]),
    refused("samepath/inside-missing", ["src", "src\\new\\deeper", "/s"]),
    refused("samepath/inside-verbose", ["src", "src\\sub", "/+v"],
            stdout=lines(" copy(src --> src\\sub){}", "Source and destination are the same path.")),
    # Names compare as the file system compares them: on POSIX SRC is another directory.
    Scenario("samepath/letter-case", ["src", "SRC\\sub"], tree=TREE,
             stdout=lines("src\\a.txt", "src\\b.txt", " 2/2.files(1.dirs) copied."),
             result={**TREE, "SRC/sub/a.txt": "alpha\n", "SRC/sub/b.txt": "beta\n"},
             wine={"reason": "Windows names fold letter case: SRC is the source itself",
                   "stdout": SAME, "exit": 0xF0, "result": UNCHANGED}),
    Scenario("samepath/letter-case-photos", ["Photos", "photos", "/s"],
             tree={"Photos/p.jpg": "jpeg\n"},
             stdout=lines("Photos\\p.jpg", " 1/1.files(1.dirs) copied."),
             result={"Photos/p.jpg": "jpeg\n", "photos/p.jpg": "jpeg\n"},
             wine={"reason": "Windows names fold letter case: photos is Photos itself",
                   "stdout": SAME, "exit": 0xF0, "result": UNCHANGED}),
    refused("samepath/absolute-and-relative", ["src", "{root}\\src\\sub", "/s"]),
    refused("samepath/current-directory-alone", ["."]),
    refused("samepath/current-directory-into-subdirectory", [".", "dst", "/s"]),
    refused("samepath/reverse", ["src\\sub", "src", "/+r"]),
    refused("samepath/move", ["src", "src\\sub", "/m", "/s"]),
    refused("samepath/compare", ["src", "src\\", "/c"]),
    refused("samepath/file-onto-itself", ["src\\a.txt", "src"]),
    refused("samepath/masked-recurse-into-own-subdirectory",
            ["{root}\\src\\*.txt", "{root}\\src\\sub", "/s"]),
    # The destination m shows src\\sub through a bind mount, which no text or link test can see:
    # the walk never descends into the very directory it fills. (The tree was moved into itself
    # 128 levels deep until the path was too long.) a.txt and b.txt, met first, go into it.
    Scenario("samepath/bind-mount-of-a-source-directory-refused", ["src", "m", "/s", "/m"],
             tree=TREE, bind={"m": "src/sub"}, only="native",
             stdout=lines("src\\a.txt", "src\\b.txt", "Source and destination are the same path."),
             exit=0xF0,
             result={"src/sub/c.txt": "gamma\n", "src/sub/a.txt": "alpha\n", "src/sub/b.txt": "beta\n",
                     "m/c.txt": "gamma\n", "m/a.txt": "alpha\n", "m/b.txt": "beta\n"}),
    # Not the same path: a sibling with a longer name, and a masked source without /s whose
    # destination is a subdirectory of its directory.
    Scenario("samepath/sibling-with-longer-name", ["src", "srcx"], tree=TREE,
             stdout=lines("src\\a.txt", "src\\b.txt", " 2/2.files(1.dirs) copied."),
             result={**TREE, "srcx/a.txt": "alpha\n", "srcx/b.txt": "beta\n"}),
    Scenario("samepath/masked-source-into-subdirectory", ["{root}\\src\\*.txt", "src\\sub"], tree=TREE,
             stdout=lines("{root}\\src\\a.txt", "{root}\\src\\b.txt", " 2/2.files copied."),
             result={**TREE, "src/sub/a.txt": "alpha\n", "src/sub/b.txt": "beta\n"}),
]
