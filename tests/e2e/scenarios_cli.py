"""The command line and the start of a run: usage text, syntax errors, unknown options,
conflicting modes, a missing list file. None of these may touch the tree."""

from scenario import UNCHANGED, USAGE, Scenario

# A small tree that a run which wrongly went ahead would change.
TREE = {"src/a.txt": "alpha\n", "src/sub/b.txt": "beta\n", "dst/old.txt": "old\n"}


def refused(name, args, stdout, exit_code):
    """A run that must end at the command line: its message, its status, the tree as it was."""
    return Scenario(name, args, stdout=stdout, exit=exit_code, tree=TREE, result=UNCHANGED)


SCENARIOS = [
    # The usage text: asked for, or shown because there is no source.
    refused("usage/slash-question", ["/?"], USAGE, 0),
    refused("usage/no-arguments", [], USAGE, 0),
    # On POSIX --help or --version alone shows the usage; with anything else it stays a name.
    Scenario("usage/double-dash-help-alone", ["--help"], stdout=USAGE, tree=TREE, result=UNCHANGED,
             only="native"),
    Scenario("usage/double-dash-version-alone", ["--version"], stdout=USAGE, tree=TREE,
             result=UNCHANGED, only="native"),
    Scenario("usage/double-dash-help-with-a-destination-is-a-name", ["--help", "dst"],
             stdout="--help :file not found.\n", exit=0xA0, tree=TREE, result=UNCHANGED,
             only="native"),
    refused("usage/options-only", ["/s", "/+v", "/+t3"], USAGE, 0),
    refused("usage/lone-mask-is-a-destination", ["*.txt"], USAGE, 0),
    refused("usage/help-forms", ["/h", "/HE", "/hel", "/Help"], USAGE, 0),
    refused("usage/help-wins-over-paths", ["src", "dst", "/s", "/?"], USAGE, 0),
    refused("usage/help-glued-to-source", ["src/?", "dst"], USAGE, 0),
    refused("usage/bare-slash-and-plus", ["/", "/+"], USAGE, 0),
    refused("usage/options-any-case", ["/DEL", "/+l", "/X"], USAGE, 0),
    refused("usage/exclusion-group-only", ["[.bak", ".tmp", "x]"], USAGE, 0),
    # Forbidden characters and malformed option runs: exit 0x80.
    refused("syntax/two-letters-after-one-slash", ["/as"], "/as :syntax error\n", 128),
    refused("syntax/del-with-tail", ["/delx"], "/delx :syntax error\n", 128),
    refused("syntax/help-with-tail-shows-no-usage", ["/helpx"], "/helpx :syntax error\n", 128),
    refused("syntax/bar-in-source", ["src|x", "dst"], "src| :syntax error\n", 128),
    refused("syntax/bar-in-destination", ["src", "d|st"], "d| :syntax error\n", 128),
    refused("syntax/quote-in-path", ["src", 'a"b'], 'a" :syntax error\n', 128),
    refused("syntax/tab-in-path", ["src", "a\tb"], "a\t :syntax error\n", 128),
    refused("syntax/less-than-in-mask", ["src", "<x", "dst"], "< :syntax error\n", 128),
    refused("syntax/semicolon-in-list-name", ["src", "@li;st"], "li; :syntax error\n", 128),
    refused("syntax/bar-in-exclusion", ["src", "[a|b]", "dst"], "a| :syntax error\n", 128),
    refused("syntax/first-failure-is-the-last-message", ["/as", "/d", "src|"],
            "/as :syntax error\n", 128),
    refused("syntax/path-too-long", ["a" * 600], "a" * 600 + " :path too long\n", 128),
    refused("syntax/path-too-long-as-destination", ["src", "b" * 600],
            "b" * 600 + " :path too long\n", 128),
    # Unknown options and suboptions: exit 0x90.
    refused("options/unknown-letter", ["/d"], "/d :Unknown option\n", 144),
    refused("options/unknown-suboption", ["/+z"], "/+z :Unknown suboption\n", 144),
    refused("options/unknown-names-rest-of-argument", ["/k/a"], "/k/a :Unknown option\n", 144),
    refused("options/digit-is-unknown", ["src", "dst", "/1"], "/1 :Unknown option\n", 144),
    refused("options/slash-splits-a-path", ["src/dir", "dst"], "/dir :Unknown option\n", 144),
    refused("options/first-failure-is-the-last-message", ["/d", "/as"],
            "/d :Unknown option\n", 144),
    # More than one of /m, /c, /del: exit 0x90, before the help test.
    refused("conflict/move-and-compare", ["src", "dst", "/m", "/c"], "conflict options.\n", 144),
    refused("conflict/before-help", ["/m", "/c", "/?"], "conflict options.\n", 144),
    refused("conflict/delete-and-move", ["src", "/del", "/M"], "conflict options.\n", 144),
    refused("conflict/all-three", ["src", "dst", "/c", "/del", "/m", "/s"],
            "conflict options.\n", 144),
    # A list file that cannot be opened: exit 0xB0, nothing walked, no summary.
    refused("listfile/missing-alone", ["@missing"], "@missing :file not found.\n", 176),
    refused("listfile/missing-with-paths", ["src", "@missing", "dst", "/s"],
            "@missing :file not found.\n", 176),
]
