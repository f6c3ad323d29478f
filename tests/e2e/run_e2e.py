#!/usr/bin/env python3
"""Runs the end-to-end scenarios (scenarios_*.py beside this file) against one treecopy program.

    run_e2e.py --native --program build/treecopy
    run_e2e.py --wine --program build-windows/treecopy.exe

Each scenario runs in a fresh temporary directory (the program's working directory) holding its
initial tree. Standard output is compared byte for byte; under Wine the CR before each LF is
dropped first, and an error suffix is compared up to its number ("\\t:error(5) "), since Wine's
message texts are worded differently. Ends with the line "N passed, N failed"; exit 1 on any
failure.

    run_e2e.py --native --program build/treecopy --ordinary-user

runs the same suite as an ordinary user: started as root, the suite hands a scratch directory
(holding a copy of the program and of the scenarios) to user and group 65534 and runs itself
there as that user (setpriv); started as anyone else, it runs as that user. Scenarios that need
root (a mounted file system) are then skipped, each with its reason.

    run_e2e.py --native --program build/treecopy --faultfs build/faultfs

runs the share-fault scenarios too (scenarios_share.py): each mounts the test file system
faultfs (tests/share/faultfs.cpp) over a directory of its tree. Without --faultfs, or where
/dev/fuse cannot be used, they are skipped, saying why.
"""

import argparse
import difflib
import fnmatch
import glob
import hashlib
import importlib.util
import os
import re
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from scenario import UNCHANGED, Dir, File, HardLink, Link  # noqa: E402

TIMEOUT_SECONDS = 120
ERROR_SUFFIX = re.compile(rb"(\t:error\(-?[0-9]+\)) [^\n]*")
DEVNULL = subprocess.DEVNULL
TMPFS = "/dev/shm"  # where scenarios with place="tmpfs" run
# The ordinary user (and group) that scenarios with as_user run as when the suite runs as root.
ORDINARY_ID = 65534


class Skipped(Exception):
    """A scenario that cannot run here; the text says why."""




def mount_small_filesystems(root, mounts):
    """Mounts a tmpfs of the given size at each directory below `root`; gives the mount points
    (to unmount in reverse order). Raises Skipped where mounting is not permitted."""
    mounted = []
    for relative, size in sorted(mounts.items()):
        point = full_path(root, relative)
        os.makedirs(point, exist_ok=True)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", point],
                              stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL).returncode == 0
        if not done:
            unmount_all(mounted)
            raise Skipped("cannot mount")
        mounted.append(point)
    return mounted


def bind_directories(root, binds, mounted):
    """Shows each directory of the tree also at its mount point (both relative to `root`) by a
    bind mount; the mount points are added to `mounted`. Raises Skipped where mounting is not
    permitted."""
    for relative, shown in sorted(binds.items()):
        point = full_path(root, relative)
        os.makedirs(point, exist_ok=True)
        done = os.geteuid() == 0 and subprocess.run(
            ["mount", "--bind", full_path(root, shown), point],
            stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL).returncode == 0
        if not done:
            raise Skipped("needs root: a bind mount")
        mounted.append(point)


def unmount_all(mounted):
    for point in reversed(mounted):
        if subprocess.run(["umount", point], stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL).returncode != 0:
            subprocess.run(["umount", "-l", point], stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL)


def fuse_unusable():
    """Why no FUSE file system can be mounted here, or None when it can be tried."""
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    if not os.access("/dev/fuse", os.R_OK | os.W_OK):
        return "/dev/fuse cannot be opened by this user"
    if os.geteuid() != 0 and shutil.which("fusermount3") is None:
        return "no fusermount3 to mount as an ordinary user (package fuse3)"
    return None


def mount_shares(faultfs, root, shares):
    """Mounts the test file system faultfs over each directory of `shares` ({relative
    directory: rules}), each backed by its own content; gives the mount points (to unmount).
    Raises Skipped where that cannot be done here."""
    if faultfs is None:
        raise Skipped("no FUSE test file system (run_e2e.py --faultfs; built where libfuse3-dev is)")
    reason = fuse_unusable()
    if reason is not None:
        raise Skipped(f"cannot use FUSE: {reason}")
    mounted = []
    for relative, rules in sorted(shares.items()):
        point = full_path(root, relative)
        os.makedirs(point, exist_ok=True)
        command = [faultfs]
        for rule in rules:
            command += ["--rule", rule]
        done = subprocess.run(command + [point, point], stdin=DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        if done.returncode != 0:
            # As the disk-full scenarios do where mounting is not permitted (a container without
            # the right), the row is skipped, with faultfs's own words.
            unmount_shares(mounted)
            text = done.stdout.decode("utf-8", "replace").strip().replace("\n", "; ")
            raise Skipped(f"cannot mount a FUSE file system: {text or 'faultfs failed'}")
        mounted.append(point)
    return mounted


def unmount_shares(mounted):
    """Unmounts the test file systems (each ends its program); the list is emptied."""
    while mounted:
        point = mounted.pop()
        for command in (["fusermount3", "-u", point], ["umount", point], ["umount", "-l", point]):
            if shutil.which(command[0]) and subprocess.run(
                    command, stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL).returncode == 0:
                break


_strace_works = None


def strace_can_trace():
    """Whether strace may trace a program of this user (ptrace may be refused to ordinary users
    by the system's settings); asked once."""
    global _strace_works
    if _strace_works is None:
        _strace_works = subprocess.run(["strace", "-f", "-qq", "-o", os.devnull, "true"], stdin=DEVNULL,
                                       stdout=DEVNULL, stderr=DEVNULL).returncode == 0
    return _strace_works


def load_scenarios():
    """Every SCENARIOS list of the scenarios_*.py modules, in file order, and the failures met
    while loading them (a module that cannot be loaded, a name used twice)."""
    scenarios = []
    problems = []
    for path in sorted(glob.glob(os.path.join(HERE, "scenarios_*.py"))):
        name = os.path.splitext(os.path.basename(path))[0]
        try:
            module_spec = importlib.util.spec_from_file_location(name, path)
            module = importlib.util.module_from_spec(module_spec)
            module_spec.loader.exec_module(module)
            scenarios.extend(module.SCENARIOS)
        except Exception:  # one broken module must not hide the others' results
            problems.append((name, traceback.format_exc().rstrip().splitlines()))
    seen = set()
    for scenario in scenarios:
        if scenario.name in seen:
            problems.append((scenario.name, ["the scenario name is used twice"]))
        seen.add(scenario.name)
    return scenarios, problems


# The system call that stands for another in the build with the portable POSIX calls alone: it
# moves a file without replacing anything by linking and unlinking where Linux renames with
# RENAME_NOREPLACE, so a kill at such a rename is a kill at that link there; it copies data with
# read and write where Linux asks the kernel to copy, so the first write there is the first data.
PORTABLE_CALLS = {"renameat2": "linkat", "copy_file_range": "write", "statx": "newfstatat"}


class Runner:
    """Starts the program natively or under Wine, with a quiet, fixed environment."""

    def __init__(self, program, under_wine, portable=False, faultfs=None):
        self.program = os.path.abspath(program)
        self.faultfs = os.path.abspath(faultfs) if faultfs else None
        self.under_wine = under_wine
        self.portable = portable
        self.env = dict(os.environ)
        # Local times (detail timestamps) and the character set must not depend on the machine.
        self.env["TZ"] = "UTC"
        self.env["LC_ALL"] = "C.UTF-8"
        self.started_server = False
        self.as_user = []
        if under_wine:
            self.env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(self.program), "wineprefix"))
            self.env["WINEDEBUG"] = "-all"
            self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")

    def quiet(self, command):
        return subprocess.run(command, env=self.env, stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL).returncode

    def start(self):
        """Under Wine: makes sure a persistent wineserver runs for the prefix. Wine's background
        services are started here too, detached from any output pipe: started by a scenario's
        program they would hold its output open until the server ends.

        As root, Wine would write into files whose read-only attribute is set (root passes every
        permission check, and Wine keeps that attribute in the permission bits), which Windows
        refuses to everyone; so root runs Wine without the capabilities that override file
        permissions (TREECOPY_WINE_AS_ROOT=1 keeps them), as cmake/wine-run does."""
        if not self.under_wine:
            return
        drop = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search",
                "--inh-caps", "-dac_override,-dac_read_search", "--"]
        if (os.geteuid() == 0 and not self.env.get("TREECOPY_WINE_AS_ROOT")
                and shutil.which("setpriv") and self.quiet(drop + ["true"]) == 0):
            self.as_user = drop
        if self.quiet(["wineserver", "-k0"]) == 0:
            return
        os.makedirs(self.env["WINEPREFIX"], exist_ok=True)
        self.quiet(self.as_user + ["wineserver", "-p"])
        self.started_server = True
        if not os.path.exists(os.path.join(self.env["WINEPREFIX"], "system.reg")):
            self.quiet(self.as_user + ["wineboot", "-i"])
        self.quiet(self.as_user + ["wine", "cmd.exe", "/c", "exit", "0"])

    def stop(self):
        if self.started_server:
            self.quiet(["wineserver", "-k"])

    def root_text(self, root):
        """The program's path text for the directory `root`."""
        text = root.replace("/", "\\")
        return "Z:" + text if self.under_wine else text

    def run(self, args, cwd, extra_env, kill_at=None, as_user=False, nofile=None, inject=None,
            pause=None, output=None):
        """Runs the program once. With `as_user` (native only) it runs as an ordinary user: as
        ORDINARY_ID when the suite runs as root, else as the suite's own user. `nofile` limits
        the open files of the program. With `kill_at` (a system call and a count) strace kills
        it when it enters that call for that time; with `inject`, either (a system call, an
        action, a count), strace does that action instead of the call's n-th entry, or (system
        calls, what), strace makes every entry into those calls do `what`; with `pause` (a
        Pause) strace stops it there while the pause's change is made (see run_paused).
        `output` sends standard output to /dev/full ("full") or closes it ("closed"), through a
        shell that then runs the command."""
        command = (self.as_user + ["wine", self.program] if self.under_wine else [self.program]) + args
        if as_user and os.geteuid() == 0:
            command = ["setpriv", f"--reuid={ORDINARY_ID}", f"--regid={ORDINARY_ID}",
                       "--clear-groups", "--"] + command
        env = dict(self.env)
        if pause is not None or kill_at is not None or (inject is not None and len(inject) == 3):
            # strace counts the calls of each thread apart, and its stop holds the thread that
            # meets it: a window set at the n-th call is one in the walk's own calls, with no
            # worker thread beside it.
            env["TREECOPY_WORKERS"] = "1"
        env.update(extra_env)
        if kill_at is not None:
            inject = (kill_at[0], "signal=KILL", kill_at[1])
        if inject is not None:
            if len(inject) == 3:
                call, action, count = inject
                what = f"{action}:when={count}"
            else:
                call, what = inject
            if self.portable:
                call = ",".join(PORTABLE_CALLS.get(one, one) for one in call.split(","))
            command = ["strace", "-f", "-qq", "-o", os.devnull, "-e", f"trace={call}",
                       "-e", f"inject={call}:{what}"] + command
        if inject is not None or pause is not None:
            # The leak checker of a sanitizer build cannot work under a tracer.
            env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))

        if output is not None:
            redirect = {"full": ">/dev/full", "closed": ">&-"}[output]
            command = ["sh", "-c", f'exec "$@" {redirect}', "sh"] + command

        def limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))

        if pause is not None:
            return self.run_paused(command, cwd, env, pause, limit if nofile is not None else None)
        return subprocess.run(command, cwd=cwd, env=env, stdin=DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=TIMEOUT_SECONDS,
                              preexec_fn=limit if nofile is not None else None)


    def run_paused(self, command, cwd, env, pause, preexec):
        """Runs `command` under strace, which stops the program with SIGSTOP at the pause's
        system call; once strace's trace says the program is stopped, the pause's change is made
        and the program continued. The result carries `paused`: whether the stop came."""
        call = PORTABLE_CALLS.get(pause.call, pause.call) if self.portable else pause.call
        inject = f"inject={call}:" + (f"error={pause.error}:" if pause.error else "")
        inject += f"signal=STOP:when={pause.count}"
        with tempfile.TemporaryDirectory(prefix="tc-trace-") as scratch:
            trace = os.path.join(scratch, "trace")
            strace = ["strace", "-f", "-qq", "-o", trace, "-e", f"trace={call}", "-e", inject]
            if pause.path is not None:
                strace += ["-P", pause.path]  # (strace matches a relative one, as the program names it)
            proc = subprocess.Popen(strace + command, cwd=cwd, env=env, stdin=DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec)
            deadline = time.monotonic() + TIMEOUT_SECONDS
            paused = False
            # Waits for the stop itself (the line strace writes when the program has stopped),
            # not for a while.
            while not paused and proc.poll() is None and time.monotonic() < deadline:
                stopped = []
                if os.path.exists(trace):
                    with open(trace, "rb") as text:
                        stopped = [line for line in text if b"--- stopped by SIGSTOP ---" in line]
                if stopped:
                    pause.change(cwd)
                    os.kill(int(stopped[0].split()[0]), signal.SIGCONT)
                    paused = True
                else:
                    time.sleep(0.005)
            try:
                stdout, stderr = proc.communicate(timeout=max(1.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
                raise
        # strace says how it resolved a relative path: not the program's.
        stderr = b"".join(line for line in stderr.splitlines(keepends=True)
                          if not line.startswith(b"strace: Requested path"))
        done = subprocess.CompletedProcess(command, proc.returncode, stdout, stderr)
        done.paused = paused
        return done


def as_item(item):
    if isinstance(item, (File, Dir, Link, HardLink)):
        return item
    return File(item)


def full_path(root, relative):
    return os.path.join(root, *relative.split("/"))


def build_tree(root, tree, root_text):
    """Creates the initial tree; times, read-only states and DOS attributes are set last, the
    deepest entries first, so that creating one entry does not move another's time."""
    items = {path: as_item(item) for path, item in tree.items()}
    for path in sorted(items):
        item = items[path]
        target = full_path(root, path)
        if isinstance(item, Dir):
            os.makedirs(target, exist_ok=True)
        elif isinstance(item, (Link, HardLink)):
            continue  # made once every file and directory exists
        else:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                content = item.content.replace(b"{root}", root_text.encode())
                if not item.holes:
                    out.write(content)
                    continue
                block = 64 * 1024
                for at in range(0, len(content), block):
                    if content[at:at + block].count(0) < len(content[at:at + block]):
                        out.seek(at)
                        out.write(content[at:at + block])
                out.truncate(len(content))
    for path in sorted(items):
        item = items[path]
        target = full_path(root, path)
        if isinstance(item, (Link, HardLink)):
            os.makedirs(os.path.dirname(target), exist_ok=True)
        if isinstance(item, Link):
            os.symlink(item.target.replace("{root}", root), target)
        elif isinstance(item, HardLink):
            os.link(full_path(root, item.path), target)
    for path in sorted(items, key=lambda p: (-p.count("/"), p)):
        item = items[path]
        target = full_path(root, path)
        if isinstance(item, (Link, HardLink)):
            continue
        if item.dosattrib is not None:
            os.setxattr(target, "user.DOSATTRIB", item.dosattrib.encode())
        for name, text in getattr(item, "xattrs", {}).items():
            os.setxattr(target, name, text.encode())
        if item.mtime is not None:
            os.utime(target, (item.mtime, item.mtime))
        if item.readonly:
            mode = os.stat(target).st_mode
            os.chmod(target, mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
            if item.mtime is not None:
                os.utime(target, (item.mtime, item.mtime))
    # Permission bits that shut a directory come last, when nothing more is made below it.
    for path in sorted(items, key=lambda p: (-p.count("/"), p)):
        item = items[path]
        if isinstance(item, (Dir, File)) and item.mode is not None:
            os.chmod(full_path(root, path), item.mode)


def hand_to_ordinary_user(root, tree):
    """Makes the scenario directory and everything in it belong to the ordinary user, except the
    files of the tree marked foreign, which stay root's."""
    foreign = {full_path(root, path) for path, item in tree.items()
               if isinstance(item, File) and item.foreign}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            if os.path.join(dirpath, name) not in foreign:
                os.lchown(os.path.join(dirpath, name), ORDINARY_ID, ORDINARY_ID)
    os.chown(root, ORDINARY_ID, ORDINARY_ID)


def read_dosattrib(path):
    try:
        return os.getxattr(path, "user.DOSATTRIB").decode("latin-1").rstrip("\0")
    except OSError:
        return None


def snapshot(root):
    """The tree below `root`: {relative path: (kind, content, stat, dosattrib)}. A directory
    that the suite's user may not list or search, or a file it may not read (when it is not
    root), is opened to its owner for the look and shut again afterwards, its stat taken as it
    was."""
    entries = {}
    shut = []  # (path, mode) of the directories opened for the look
    try:
        for dirpath, dirnames, filenames in os.walk(root):
            for name in dirnames + filenames:
                path = os.path.join(dirpath, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                info = os.lstat(path)
                if (stat.S_ISDIR(info.st_mode) and os.geteuid() != 0
                        and not os.access(path, os.R_OK | os.X_OK)):
                    shut.append((path, info.st_mode))
                    os.chmod(path, info.st_mode | stat.S_IRUSR | stat.S_IXUSR)
                entries[relative] = entry_of(path, info)
    finally:
        for path, mode in reversed(shut):
            os.chmod(path, stat.S_IMODE(mode))
    return entries


def entry_of(path, info):
    """One entry of a snapshot: (kind, content, stat, dosattrib)."""
    if stat.S_ISLNK(info.st_mode):
        return ("link", os.readlink(path).encode(), info, None)
    if stat.S_ISDIR(info.st_mode):
        return ("dir", b"", info, read_dosattrib(path))
    shut = os.geteuid() != 0 and not os.access(path, os.R_OK)
    if shut:  # a file the suite's user may not read is opened to its owner for the look
        os.chmod(path, info.st_mode | stat.S_IRUSR)
    try:
        with open(path, "rb") as source:
            return ("file", source.read(), info, read_dosattrib(path))
    finally:
        if shut:
            os.chmod(path, stat.S_IMODE(info.st_mode))


def show_bytes(content):
    if len(content) <= 100:
        return repr(content)
    digest = hashlib.sha256(content).hexdigest()[:16]
    return f"<{len(content)} bytes, sha256 {digest}..., beginning {content[:24]!r}>"


def describe(kind, content, mtime, readonly, dosattrib):
    if kind == "file":
        text = "file " + show_bytes(content)
    elif kind == "link":
        text = "link to " + content.decode("latin-1")
    else:
        text = kind
    if mtime is not None:
        text += f" mtime={mtime}"
    if readonly is not None:
        text += " read-only" if readonly else " writable"
    if dosattrib is not None:
        text += f" dosattrib={dosattrib}"
    return text


def with_parents(tree):
    """The tree with every directory that holds a listed entry, so that a tree names only its
    files and empty directories."""
    full = dict(tree)
    for path in tree:
        parts = path.split("/")
        for n in range(1, len(parts)):
            full.setdefault("/".join(parts[:n]), Dir())
    return full


def expected_tree_lines(tree, root_text, root):
    lines = []
    for path in sorted(tree):
        item = as_item(tree[path])
        if isinstance(item, Link):
            target = item.target.replace("{root}", root)
            lines.append(f"{path}: " + describe("link", target.encode(), None, None, None))
        elif isinstance(item, HardLink):
            raise ValueError(f"{path}: a hard link belongs to an initial tree only")
        elif isinstance(item, Dir):
            lines.append(f"{path}: " + describe("dir", b"", item.mtime, item.readonly, item.dosattrib))
        else:
            content = item.content.replace(b"{root}", root_text.encode())
            lines.append(f"{path}: " + describe("file", content, item.mtime, item.readonly, item.dosattrib))
    return lines


def actual_tree_lines(entries, tree, everything=False):
    """The tree as found, showing times, read-only states and DOS attributes only where the
    expected tree asks for them, or, with `everything`, the file times and all of those."""
    lines = []
    for path in sorted(entries):
        kind, content, info, dosattrib = entries[path]
        want = as_item(tree[path]) if path in tree else None
        mtime = readonly = shown_attrib = None
        if everything:
            mtime = info.st_mtime_ns if kind == "file" else None
            readonly = (info.st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH)) == 0
            shown_attrib = dosattrib
        elif want is not None and not isinstance(want, Link):
            if want.mtime is not None:
                close = abs(info.st_mtime - want.mtime) < 0.001
                mtime = want.mtime if close else f"{info.st_mtime:.6f}".rstrip("0").rstrip(".")
            if want.readonly is not None:
                readonly = (info.st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH)) == 0
            if want.dosattrib is not None:
                shown_attrib = dosattrib
        lines.append(f"{path}: " + describe(kind, content, mtime, readonly, shown_attrib))
    return lines


def unified(expected, actual, expected_name="expected", actual_name="actual"):
    return list(difflib.unified_diff(expected, actual, expected_name, actual_name, lineterm="", n=2))


def show_line(line):
    """One output line as text in which TABs, CRs and other control bytes are visible."""
    body = line[:-1] if line.endswith(b"\n") else line
    text = body.decode("utf-8", "backslashreplace")
    text = "".join(c if c >= " " or c == "\x7f" else {"\t": "<TAB>", "\r": "<CR>"}.get(c, f"<0x{ord(c):02X}>")
                   for c in text)
    if text.endswith(" "):
        text += "<end>"  # trailing blanks made visible
    return text if line.endswith(b"\n") else text + "<no line feed>"


def output_lines(data):
    """Output split into lines, shown so that a diff makes every byte visible."""
    return [show_line(line) for line in data.splitlines(keepends=True)]


def unprotect(root):
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            try:
                if not os.path.islink(path):
                    os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR | stat.S_IRUSR | stat.S_IXUSR)
            except OSError:
                pass


def run_scenario(runner, scenario, keep):
    """Runs one scenario; returns a list of failure texts (empty when it passed)."""
    expected_stdout, expected_exit, expected_result = scenario.expected(runner.under_wine)
    base = None
    if scenario.place == "tmpfs":
        base = TMPFS
        if not os.path.isdir(base):
            return [f"no tmpfs at {base} for this scenario"]
    root = os.path.realpath(tempfile.mkdtemp(prefix="tc-e2e-", dir=base))
    root_text = runner.root_text(root)
    failures = []
    mounted = []
    shares = []
    try:
        mounted = mount_small_filesystems(root, scenario.mount)
        if scenario.root_only and os.geteuid() != 0:
            raise Skipped(f"needs root: {scenario.root_only}")
        if os.geteuid() != 0 and any(isinstance(i, File) and i.foreign for i in scenario.tree.values()):
            raise Skipped("needs root: a file of another user cannot be made")
        build_tree(root, scenario.tree, root_text)
        bind_directories(root, scenario.bind, mounted)
        if scenario.as_user and os.geteuid() == 0:
            hand_to_ordinary_user(root, scenario.tree)
        before = snapshot(root) if expected_result == UNCHANGED else None
        args = [arg.replace("{root}", root_text) for arg in scenario.args]
        traced = scenario.kill_at is not None or scenario.inject is not None
        if traced and shutil.which("strace") is None:
            return ["this scenario needs strace (apt-get install strace)"]
        if scenario.pause is not None and shutil.which("strace") is None:
            return ["this scenario needs strace (apt-get install strace)"]
        if (traced or scenario.pause is not None) and not strace_can_trace():
            raise Skipped("strace cannot trace a program here (no ptrace for this user)")
        shares = mount_shares(runner.faultfs, root, scenario.share) if scenario.share else []
        try:
            proc = runner.run(args, root, scenario.env, scenario.kill_at, scenario.as_user,
                              scenario.nofile, scenario.inject, scenario.pause, scenario.output)
        except subprocess.TimeoutExpired:
            return [f"no end after {TIMEOUT_SECONDS} seconds"]
        unmount_shares(shares)  # the tree is checked on the backing directories themselves
        if scenario.pause is not None and not proc.paused:
            failures.append(f"the program never stopped at {scenario.pause.call} "
                            f"#{scenario.pause.count}")
        stdout = proc.stdout
        if runner.under_wine:
            stdout = stdout.replace(b"\r\n", b"\n")
        if expected_stdout is not None:
            want = expected_stdout.replace("{root}", root_text).encode("utf-8", "surrogateescape")
            got = stdout
            if runner.under_wine:
                want = ERROR_SUFFIX.sub(rb"\1 ...", want)
                got = ERROR_SUFFIX.sub(rb"\1 ...", got)
            if got != want:
                failures.append("standard output differs:")
                failures.extend(unified(output_lines(want), output_lines(got)))
        if proc.returncode != expected_exit:
            failures.append(f"exit status {proc.returncode}, expected {expected_exit}")
        if scenario.stderr is not None:
            want = scenario.stderr.replace("{root}", root_text).encode("utf-8", "surrogateescape")
            got = proc.stderr.replace(b"\r\n", b"\n") if runner.under_wine else proc.stderr
            if (want not in got) if runner.under_wine else (got != want):
                failures.append("standard error differs:")
                failures.extend(unified(output_lines(want), output_lines(got)))
        elif proc.stderr and not runner.under_wine:
            failures.append("standard error is not empty:")
            failures.extend(output_lines(proc.stderr)[:40])
        if expected_result is not None:
            after = snapshot(root)
            if expected_result == UNCHANGED:
                want_lines = actual_tree_lines(before, {}, everything=True)
                got_lines = actual_tree_lines(after, {}, everything=True)
            else:
                expected_full = with_parents(expected_result)
                want_lines = expected_tree_lines(expected_full, root_text, root)
                got_lines = actual_tree_lines(after, expected_full)
            if want_lines != got_lines:
                failures.append("resulting tree differs:")
                failures.extend(unified(want_lines, got_lines))
        if scenario.check is not None:
            failures.extend(scenario.check(root, stdout.decode("utf-8", "surrogateescape")))
        if failures and expected_stdout is None:
            failures.append("standard output was:")
            failures.extend(output_lines(stdout)[:40])
        if failures and proc.stderr and runner.under_wine:
            failures.append("standard error was:")
            failures.extend(output_lines(proc.stderr)[:20])
        return failures
    finally:
        unmount_shares(shares)
        unmount_all(mounted)
        if failures and keep:
            failures.append(f"(directory kept: {root})")
        else:
            unprotect(root)
            shutil.rmtree(root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--native", action="store_true", help="run the program directly")
    mode.add_argument("--wine", action="store_true", help="run the Windows program under Wine")
    parser.add_argument("--program", required=True, help="path of the treecopy program")
    parser.add_argument("--portable", action="store_true",
                        help="the native program is built with the portable POSIX calls alone")
    parser.add_argument("--faultfs", help="the test file system program for the share-fault scenarios")
    parser.add_argument("--filter", action="append", default=[],
                        help="run only scenarios whose name matches this shell pattern (repeatable)")
    parser.add_argument("--keep", action="store_true", help="keep the directories of failed scenarios")
    parser.add_argument("--list", action="store_true", help="list the scenario names and stop")
    parser.add_argument("-v", "--verbose", action="store_true", help="print every scenario's name")
    parser.add_argument("--ordinary-user", action="store_true",
                        help="run the suite as an ordinary user (user 65534 when started as root)")
    options = parser.parse_args()
    if options.ordinary_user and options.wine:
        parser.error("--ordinary-user is for the native build")
    if options.ordinary_user and os.geteuid() == 0:
        return rerun_as_ordinary_user(options)

    scenarios, problems = load_scenarios()
    if options.filter:
        scenarios = [s for s in scenarios if any(fnmatch.fnmatchcase(s.name, f) for f in options.filter)]
    build = "wine" if options.wine else "native"
    scenarios = [s for s in scenarios if s.only in (None, build)]
    if options.list:
        for scenario in scenarios:
            print(scenario.name)
        return 0
    if not os.path.isfile(options.program):
        print(f"no program at {options.program}")
        return 1

    runner = Runner(options.program, options.wine, options.portable, options.faultfs)
    passed = failed = skipped = expected = 0
    for name, lines in problems:
        failed += 1
        print(f"FAIL {name}: cannot be loaded")
        for line in lines:
            print("    " + line)
    runner.start()
    try:
        for scenario in scenarios:
            try:
                failures = run_scenario(runner, scenario, options.keep)
            except Skipped as reason:
                skipped += 1
                print(f"skip {scenario.name}: skipped: {reason}")
                sys.stdout.flush()
                continue
            if failures and scenario.expected_fail:
                expected += 1
                print(f"xfail {scenario.name}: fails as expected ({scenario.expected_fail})")
                if options.verbose:
                    for line in failures:
                        print("    " + line)
            elif scenario.expected_fail:
                failed += 1
                print(f"FAIL {scenario.name}: passes now: take it off the expected failures "
                      f"({scenario.expected_fail})")
            elif failures:
                failed += 1
                print(f"FAIL {scenario.name}: {failures[0]}")
                for line in failures[1:]:
                    print("    " + line)
            else:
                passed += 1
                if options.verbose:
                    print(f"ok   {scenario.name}")
            sys.stdout.flush()
    finally:
        runner.stop()
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else "")
          + (f", {expected} failing as expected" if expected else ""))
    return 1 if failed else 0


def rerun_as_ordinary_user(options):
    """As root: copies the program and this directory into a scratch directory that belongs to
    the ordinary user, and runs the suite there as that user, with its temporary files there
    too. The scratch directory is removed afterwards."""
    if shutil.which("setpriv") is None:
        print("no setpriv: cannot run as an ordinary user")
        return 1
    scratch = tempfile.mkdtemp(prefix="tc-e2e-user-")
    try:
        program = os.path.join(scratch, os.path.basename(options.program))
        shutil.copy2(options.program, program)
        suite = os.path.join(scratch, "e2e")
        shutil.copytree(HERE, suite, ignore=shutil.ignore_patterns("__pycache__"))
        work = os.path.join(scratch, "tmp")
        os.mkdir(work)
        for dirpath, dirnames, filenames in os.walk(scratch):
            for name in dirnames + filenames:
                os.lchown(os.path.join(dirpath, name), ORDINARY_ID, ORDINARY_ID)
        os.chown(scratch, ORDINARY_ID, ORDINARY_ID)
        os.chmod(scratch, 0o755)
        command = ["setpriv", f"--reuid={ORDINARY_ID}", f"--regid={ORDINARY_ID}", "--clear-groups",
                   "--", sys.executable, os.path.join(suite, "run_e2e.py"), "--native",
                   "--program", program, "--ordinary-user"]
        if options.portable:
            command.append("--portable")
        for pattern in options.filter:
            command += ["--filter", pattern]
        if options.verbose:
            command.append("-v")
        if options.faultfs:
            faultfs = os.path.join(scratch, "faultfs")
            shutil.copy2(options.faultfs, faultfs)
            os.chown(faultfs, ORDINARY_ID, ORDINARY_ID)
            command += ["--faultfs", faultfs]
        env = dict(os.environ, TMPDIR=work, HOME=scratch)
        print(f"running as user {ORDINARY_ID} in {scratch}")
        sys.stdout.flush()
        return subprocess.run(command, env=env, cwd=scratch, stdin=DEVNULL).returncode
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
