"""The vocabulary of end-to-end scenarios: one run of treecopy in a fresh directory.

A scenario names an initial tree, an argument list, the expected standard output (byte for byte),
the expected exit status and, when given, the expected tree afterwards. Scenarios live in the
modules scenarios_*.py of this directory, each holding a list SCENARIOS; run_e2e.py runs them.

Paths in trees are relative POSIX paths ("src/sub/a.txt"). Arguments and expected output are
written as the program sees and prints them: backslash separators ("src\\sub"). The text {root}
in an argument, in the expected output or in a file's contents stands for the absolute program
path of the scenario's directory (\\tmp\\... natively, Z:\\tmp\\... under Wine).
"""

# A fixed point in time for file times (2020-09-13 12:26:40 UTC), in seconds since 1970.
T0 = 1_600_000_000

# The usage text, as printed with the program name "treecopy".
USAGE = (
    "treecopy Version 1.02\n"
    "usage: treecopy <srcpath> {<mask>|[<mask>]} [<dstpath>] {/<option>}\n"
    "       treecopy <srcpath>     @filelist     [<dstpath>] {/<option>}\n"
    "option: /a   Archive            /n   No overwrite\n"
    "        /b   Backup             /o   Overwrite only\n"
    "        /c   Compare            /s   Subdirectories\n"
    "        /del Delete             /u   Update new files\n"
    "        /e   Echo               /v   Verify\n"
    "        /i   Incremental copy   /x   Hidden files too\n"
    "        /m   Move\n"
    "suboption:\n"
    "        /+e  Exist              /+a  Attributes unmatch\n"
    "        /+n  New                /+m  Matching all\n"
    "        /+o  Old                /+c  Continues even if errors\n"
    "        /+L  Large              /+v  Verbose message\n"
    "        /+s  Small              /+r  Reverse path\n"
    "                                /+d  Detail Timestamp\n"
    "        /+h<HeaderSize(KB)> (Incremental copy only)\n"
    "        /+t<Allowable timestamp difference(sec)>\n"
)


class File:
    """A file of a tree: its contents and, optionally, its last-write time (seconds since 1970),
    read-only state and stored DOS attributes (the user.DOSATTRIB text, e.g. "0x4").

    In an expected tree, a time, read-only state or DOS attribute text that is given is checked;
    one left as None is not. A `foreign` file of an initial tree stays root's when the tree is
    handed to the ordinary user (as_user): someone else's file in the user's directory. `mode`,
    when given, sets its permission bits once the tree is made (0o000: only root may read it);
    it is not checked in an expected tree."""

    def __init__(self, content, mtime=None, readonly=None, dosattrib=None, foreign=False, mode=None):
        self.content = content.encode("utf-8", "surrogateescape") if isinstance(content, str) else content
        self.mtime = mtime
        self.readonly = readonly
        self.dosattrib = dosattrib
        self.foreign = foreign
        self.mode = mode


class Dir:
    """A directory of a tree (its contents are listed by their own paths). `mode`, when given,
    sets its permission bits after the whole tree is made (0o000: nobody but root may list it);
    it is not checked in an expected tree."""

    def __init__(self, mtime=None, readonly=None, dosattrib=None, mode=None):
        self.mtime = mtime
        self.readonly = readonly
        self.dosattrib = dosattrib
        self.mode = mode


class Link:
    """A symbolic link of a tree with the text `target` (relative to the link's directory, or
    absolute; "{root}" stands for the scenario directory's system path). In an expected tree it
    must still be that link; what it leads to is checked through the target's own path."""

    def __init__(self, target):
        self.target = target


class HardLink:
    """Another name of the file at `path` (which the same tree lists as a File), made by a hard
    link. In an expected tree only its contents are checked, as for a File."""

    def __init__(self, path):
        self.path = path


# As the expected tree: the tree must be exactly as it was before the run.
UNCHANGED = "unchanged"


def lines(*texts):
    """Joins output lines, each ended by a line feed."""
    return "".join(text + "\n" for text in texts)


class Scenario:
    """One run of the program.

    name      unique name, "topic/case"
    args      the argument list (no shell in between)
    tree      the initial tree: {path: str | bytes | File | Dir}; parents are made as needed
    stdout    the expected standard output, exact; None leaves it unchecked
    exit      the expected exit status
    result    the expected tree afterwards ({path: ...}, UNCHANGED, or None for unchecked)
    wine      under Wine, these fields replace the ones above: a dict that must hold "reason",
              the known difference of Wine that makes the result differ
    only      "native" or "wine" when the scenario means one build only
    env       extra environment variables for the program
    check     an extra test: a function of the scenario directory (a str) and the standard
              output (a str) that returns a list of failure texts (empty when all is well)
    place     "tmpfs" runs the scenario in a directory on tmpfs (/dev/shm) instead of the disk
              file system of the temporary directory
    as_user   run as an ordinary user: when the suite runs as root, the program runs as user
              and group 65534 (setpriv) and the scenario directory is handed to that user first;
              otherwise it runs as the suite's own user. Native only (the scenario must say
              only="native")
    nofile    the limit of open files (RLIMIT_NOFILE) for the program; native only
    kill_at   (system call, n): the program is killed (SIGKILL) when it enters that system call
              for the n-th time, through strace's fault injection; native only. The expected
              exit status is then -9.
    root_only the reason why the scenario means something only when the suite runs as root (a
              right that only root has); it is skipped with that reason otherwise
    mount     {directory: size}: a small tmpfs of that size ("1m") is mounted at each of these
              directories (relative paths of the tree) before the tree is made, and unmounted
              afterwards whatever happens; native only. Mounting needs root: where it is not
              permitted the scenario is skipped ("skipped: cannot mount") and passes.
    output    where standard output goes instead of a pipe: "full" (/dev/full, every write
              fails for want of space) or "closed" (no standard output at all); stdout must
              then be None
    stderr    the expected standard error, exact natively (contained in it under Wine, which
              may add its own lines); None: natively it must be empty
    """

    def __init__(self, name, args, stdout=None, exit=0, tree=None, result=None, wine=None,
                 only=None, env=None, check=None, place=None, kill_at=None, as_user=False,
                 nofile=None, mount=None, root_only=None, output=None, stderr=None):
        if wine is not None and "reason" not in wine:
            raise ValueError(f"{name}: a Wine difference needs its reason")
        if only not in (None, "native", "wine"):
            raise ValueError(f"{name}: only must be 'native' or 'wine'")
        if place not in (None, "tmpfs"):
            raise ValueError(f"{name}: place must be 'tmpfs'")
        if (as_user or nofile is not None) and only != "native":
            raise ValueError(f"{name}: as_user and nofile hold for the native build only")
        if kill_at is not None and only != "native":
            raise ValueError(f"{name}: kill_at works natively only")
        if mount and only != "native":
            raise ValueError(f"{name}: mount works natively only")
        if output not in (None, "full", "closed"):
            raise ValueError(f"{name}: output must be 'full' or 'closed'")
        if output is not None and stdout is not None:
            raise ValueError(f"{name}: standard output that goes elsewhere cannot be checked")
        self.name = name
        self.args = list(args)
        self.tree = dict(tree or {})
        self.stdout = stdout
        self.exit = exit
        self.result = result
        self.wine = dict(wine or {})
        self.only = only
        self.env = dict(env or {})
        self.check = check
        self.place = place
        self.kill_at = kill_at
        self.as_user = as_user
        self.nofile = nofile
        self.mount = dict(mount or {})
        self.root_only = root_only
        self.output = output
        self.stderr = stderr

    def expected(self, under_wine):
        """The fields that hold for one build: (stdout, exit, result)."""
        stdout, exit_code, result = self.stdout, self.exit, self.result
        if under_wine:
            stdout = self.wine.get("stdout", stdout)
            exit_code = self.wine.get("exit", exit_code)
            result = self.wine.get("result", result)
        return stdout, exit_code, result
