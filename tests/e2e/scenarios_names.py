"""Names the path syntax spells one way only: a POSIX name that ends in a dot is that entry when
it exists as written (readme and readme. may be two files), and the final dot that the
program gives a plain name for its own use never names the file with the dot."""

from scenario import Scenario, lines

DOTS = {"src/readme": "plain\n", "src/readme.": "dotted\n",
        "src/sub/readme": "sub plain\n", "src/sub/readme.": "sub dotted\n"}



def without(tree, *paths):
    return {path: item for path, item in tree.items() if path not in paths}


SCENARIOS = [
    # Native only: Windows names cannot end in a dot, so readme and readme. cannot both exist.
    Scenario("names/trailing-dot-names-its-own-entry", ["{root}\\src\\readme.", "/del"], tree=DOTS,
             stdout=lines("{root}\\src\\readme.", " 1/1.files deleted."),
             result=without(DOTS, "src/readme."), only="native"),
    Scenario("names/plain-name-names-the-entry-without-dot", ["{root}\\src\\readme", "/del"],
             tree=DOTS,
             stdout=lines("{root}\\src\\readme", " 1/1.files deleted."),
             result=without(DOTS, "src/readme"), only="native"),
    Scenario("names/trailing-dot-carried-down", ["{root}\\src\\readme.", "/del", "/s"], tree=DOTS,
             stdout=lines("{root}\\src\\readme.", "{root}\\src\\sub\\readme.",
                          " 2/2.files(1.dirs) deleted."),
             result=without(DOTS, "src/readme.", "src/sub/readme."), only="native"),
    Scenario("names/plain-name-carried-down", ["{root}\\src\\readme", "dst", "/s"], tree=DOTS,
             stdout=lines("{root}\\src\\readme", "{root}\\src\\sub\\readme",
                          " 2/2.files(1.dirs) copied."),
             result={**DOTS, "dst/readme": "plain\n", "dst/sub/readme": "sub plain\n"},
             only="native"),
]
