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
    it is not checked in an expected tree. `xattrs` ({name: text}) are extended attributes the
    file is given once it is made (native only); they are not checked in an expected tree.
    With `holes`, the file of an initial tree is written sparse: its blocks of 64 KiB that hold
    only zeros are left as holes (not checked in an expected tree)."""

    def __init__(self, content, mtime=None, readonly=None, dosattrib=None, foreign=False, mode=None,
                 xattrs=None, holes=False):
        self.holes = holes
        self.xattrs = dict(xattrs or {})
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


class Pause:
    """A reliable window for a change made while the program runs: strace stops the program
    (SIGSTOP) when it enters the system call `call` for the `count`-th time (counting only the
    calls on `path`, relative to the scenario directory, when one is given), `change` (a function
    of the scenario directory) changes the tree, and the program goes on. The stop comes once the
    call is done; with `error` (an errno name such as "EIO") the call is not made and fails with
    that error instead, so that `change` can do its work as a system that did it and answered
    with an error would. Native only."""

    def __init__(self, call, count, change, path=None, error=None):
        self.call = call
        self.count = count
        self.change = change
        self.path = path
        self.error = error


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
    inject    strace's fault injection, native only: (system call, action, n) makes the n-th
              entry into that call do `action` instead ("retval=10": the call is not made and
              reports 10; "error=EIO"); (system calls, what) makes every entry into those calls
              (a set such as "setxattr,fsetxattr") do `what` ("error=ENOSPC")
    bind      {mount point: directory}: once the tree is made, each directory of the tree is also
              shown at its mount point (relative paths) by a bind mount, undone afterwards
              whatever happens; native only. It needs root: elsewhere the scenario is skipped
              ("needs root: a bind mount") and passes.
    root_only the reason why the scenario means something only when the suite runs as root (a
              right that only root has); it is skipped with that reason otherwise
    share     {directory: [rule, ...]}: the test file system tests/share/faultfs is mounted over
              each of these directories (relative paths of the tree) once the tree is made, with
              its own content as the backing directory and the rules given (see faultfs.cpp),
              and unmounted as soon as the program has ended, before the tree is checked; native
              only. Where the suite has no faultfs program or /dev/fuse cannot be used the
              scenario is skipped, saying why.
    expected_fail the reason why the scenario is known to fail for now (a fault that another
              branch mends): its failure is counted as expected; should it pass, that is a
              failure that asks for the mark to be taken off
    pause     a Pause: the program stops at a system call while the scenario changes the tree;
              native only. The expected exit status is the program's own.
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
                 nofile=None, mount=None, root_only=None, share=None, expected_fail=None,
                 pause=None, inject=None, bind=None, output=None, stderr=None):
        if wine is not None and "reason" not in wine:
            raise ValueError(f"{name}: a Wine difference needs its reason")
        if only not in (None, "native", "wine"):
            raise ValueError(f"{name}: only must be 'native' or 'wine'")
        if place not in (None, "tmpfs"):
            raise ValueError(f"{name}: place must be 'tmpfs'")
        if (as_user or nofile is not None) and only != "native":
            raise ValueError(f"{name}: as_user and nofile hold for the native build only")
        if (kill_at is not None or inject is not None) and only != "native":
            raise ValueError(f"{name}: kill_at and inject work natively only")
        if pause is not None and only != "native":
            raise ValueError(f"{name}: pause works natively only")
        if mount and only != "native":
            raise ValueError(f"{name}: mount works natively only")
        if share and only != "native":
            raise ValueError(f"{name}: share works natively only")
        if bind and only != "native":
            raise ValueError(f"{name}: bind works natively only")
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
        self.inject = inject
        self.as_user = as_user
        self.nofile = nofile
        self.mount = dict(mount or {})
        self.root_only = root_only
        self.share = {directory: list(rules) for directory, rules in (share or {}).items()}
        self.expected_fail = expected_fail
        self.pause = pause
        self.inject = inject
        self.bind = dict(bind or {})
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
