"""File names outside any one ANSI code page (Greek, Cyrillic, Chinese): they are listed,
copied and printed byte for byte as UTF-8. Natively names are bytes; the Windows program sees
them through the manifest that makes UTF-8 its code page (without it, the names would reach it
as question marks and could not be copied). The switch of the console to UTF-8 output is not
seen here: the program's output is a pipe, and the console code page only applies to a console."""

from scenario import T0, File, Scenario, lines

TREE = {
    "src/Ελληνικά.txt": File("alpha\n", mtime=T0),
    "src/Русский/файл.txt": File("beta\n", mtime=T0),
    "src/中文/文件.txt": File("gamma\n", mtime=T0),
}


def with_copies(tree, copies):
    out = dict(tree)
    out.update(copies)
    return out


SCENARIOS = [
    Scenario("scripts/tree-copy", ["src", "dst", "/s"], tree=TREE,
             stdout=lines("src\\Ελληνικά.txt",
                          "src\\Русский\\файл.txt",
                          "src\\中文\\文件.txt",
                          " 3/3.files(3.dirs) copied."),
             result=with_copies(TREE, {"dst/Ελληνικά.txt": File("alpha\n", mtime=T0),
                                       "dst/Русский/файл.txt": File("beta\n", mtime=T0),
                                       "dst/中文/文件.txt": File("gamma\n", mtime=T0)})),
    # A name on the command line, and a destination that takes it from the source directory
    # as the file system spells it.
    Scenario("scripts/named-directory-verbose", ["src\\中文", "dst\\*", "/+v"], tree=TREE,
             stdout=lines(" copy(src\\中文 --> dst\\中文){",
                          "  createdir(dst)",
                          "  (src\\中文\\ --> dst\\中文\\){",
                          "   createdir(dst\\中文)",
                          "   src\\中文\\文件.txt\t--> dst\\中文\\文件.txt",
                          "  }",
                          " }",
                          " 1/1.files(1.dirs) copied."),
             result=with_copies(TREE, {"dst/中文/文件.txt": File("gamma\n", mtime=T0)})),
    # A mask holding such a name, and a compare that finds the copies equal.
    Scenario("scripts/mask-and-compare", ["src", "Ελληνικά.txt", "dst", "/c"],
             tree=with_copies(TREE, {"dst/Ελληνικά.txt": File("alpha\n", mtime=T0)}),
             stdout=lines("src\\Ελληνικά.txt", " 1/1.files compared."),
             result="unchanged"),
]
