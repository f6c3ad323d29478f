#!/usr/bin/env python3
"""Ends treecopy with SIGKILL, SIGTERM and SIGINT at random moments while it copies a large file
over an older one, and checks after every trial that nothing was lost:

  copy   a 256 MiB file copied over its older namesake on tmpfs (/dev/shm): the destination is
         always the old file or the complete new one, byte for byte (checked against checksums
         computed once), and no temporary file is left in the directory.
  move   /m of a 64 MiB file from tmpfs onto the disk (the temporary directory), over an older
         namesake: the destination is the old file or the new one, the source is still whole
         wherever the destination is not the new file, and nothing else is left in either
         directory. (Fewer trials: the move flushes its copy to the disk every time.)
  incr   /i on tmpfs, the destination holding the first half of its grown source: the
         destination is the old file, the new one, or the old file followed by part of the new
         tail (an update in place cannot be undone by a kill): never shorter than it was, never
         anything but the source's bytes, and no temporary file. An update ended midway is found
         by the next /i run (the mark it left on the file), which completes it: after every
         partial outcome, one more run must give the new file.

  many   /s of 400 small files (4-64 KiB, in four subdirectories) over their older namesakes on
         tmpfs, with many files in flight at once (the workers copy ahead of the walk): every
         destination file is its old or its new version, byte for byte, and no temporary file is
         left (a killed run's are removed by the next one, which completes the copy).
  many-move
         /s /m of the same files from the disk onto tmpfs, half over older namesakes (the
         workers copy ahead here too): every file is whole on one side at least, in the source or
         moved, and never a partial destination.

With --churn-only, instead: another process changes the source tree while eight workers copy it
(churn): every destination file is its old version or a state its source had, and nothing else
is left.

Before the trials, a copy is killed (through strace) exactly between giving its complete data a
hidden temporary name and the rename over the destination: the old destination stays and the
temporary file is left; the next run removes it and completes the copy.

    kill_trials.py --program build/test-native/treecopy [--trials 20] [--seed N]

The random moments come from a seeded generator (the seed is printed; --seed repeats a run).
Prints one line per kind and signal; exits 1 when any trial finds damage.
"""

import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
CHUNK = 4 * MIB
OLD_TIME = 1_600_000_000
NEW_TIME = OLD_TIME + 3600
SIGNALS = [("KILL", signal.SIGKILL), ("TERM", signal.SIGTERM), ("INT", signal.SIGINT)]


def write_pattern(path, size, seed):
    """A file of `size` bytes, distinct in every MiB (a random block with the MiB's number)."""
    block = random.Random(seed).randbytes(MIB)
    with open(path, "wb") as out:
        for n in range(size // MIB):
            out.write(n.to_bytes(8, "little") + block[8:])


def checksum(path, limit=None):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        remaining = limit
        while True:
            ask = CHUNK if remaining is None else min(CHUNK, remaining)
            data = source.read(ask)
            if not data:
                break
            digest.update(data)
            if remaining is not None:
                remaining -= len(data)
                if remaining == 0:
                    break
    return digest.hexdigest()


def is_prefix_of(path, reference):
    """Whether the file at `path` holds the first bytes of the file `reference`."""
    with open(path, "rb") as got, open(reference, "rb") as want:
        while True:
            data = got.read(CHUNK)
            if not data:
                return True
            if want.read(len(data)) != data:
                return False


def identity(path):
    info = os.stat(path)
    return (info.st_ino, info.st_size, info.st_mtime_ns, info.st_ctime_ns)


def place(reference, path, mtime):
    shutil.copyfile(reference, path)
    os.utime(path, (mtime, mtime))


def write_tree(base, contents, mtime):
    """Writes each relative path of `contents` below `base` (None: left out), dated `mtime`."""
    for rel, data in contents.items():
        if data is None:
            continue
        path = os.path.join(base, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        os.utime(path, (mtime, mtime))


def leftovers(directory, expected):
    return sorted(set(os.listdir(directory)) - set(expected))


def default_signals():
    """The child starts with SIGINT and SIGTERM at their default actions, whatever the suite
    inherited (a runner may ignore SIGINT)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)


class Kind:
    """One kind of trial: its files, how to lay them out, the command and the check."""

    def __init__(self, name, args, src_dir, dst_dir, new_ref, old_ref):
        self.name = name
        self.args = args
        self.src_dir = src_dir
        self.dst_dir = dst_dir
        self.new_ref = new_ref
        self.old_ref = old_ref
        self.src = os.path.join(src_dir, "big.bin")
        self.dst = os.path.join(dst_dir, "big.bin")
        self.new_sum = checksum(new_ref)
        self.old_sum = checksum(old_ref)
        self.old_size = os.path.getsize(old_ref)
        self.new_size = os.path.getsize(new_ref)
        self.src_stat = None
        self.dst_identity = None
        self.last_state = None

    def lay_out(self):
        """The old destination and the new source, and nothing else in their directories. A
        copy only reads its source: that stays from one trial to the next while it is as it
        was (same file, size and time); a move's source is made anew."""
        os.makedirs(self.src_dir, exist_ok=True)
        for name in os.listdir(self.dst_dir):
            path = os.path.join(self.dst_dir, name)
            # The old destination found whole and not touched since (not even its status: the
            # change time moves with any write or time set) is used again.
            if name != "big.bin" or self.last_state != "old" or identity(path) != self.dst_identity:
                os.unlink(path)
        for name in os.listdir(self.src_dir):
            path = os.path.join(self.src_dir, name)
            if name != "big.bin" or self.name == "move" or self.source_changed():
                os.unlink(path)
        if not os.path.exists(self.src):
            place(self.new_ref, self.src, NEW_TIME)
            self.src_stat = os.stat(self.src)
        if not os.path.exists(self.dst):
            place(self.old_ref, self.dst, OLD_TIME)
            self.dst_identity = identity(self.dst)

    def source_changed(self):
        now = os.stat(self.src)
        was = self.src_stat
        return (now.st_ino, now.st_size, now.st_mtime_ns) != (was.st_ino, was.st_size, was.st_mtime_ns)

    def state(self, path):
        """'old', 'new', 'partial' (incremental only), 'absent' or a description of damage."""
        if not os.path.exists(path):
            return "absent"
        size = os.path.getsize(path)
        if size == self.new_size and checksum(path) == self.new_sum:
            return "new"
        if size == self.old_size and checksum(path) == self.old_sum:
            return "old"
        if (self.name == "incr" and self.old_size < size < self.new_size
                and is_prefix_of(path, self.new_ref)):
            return "partial"
        return f"damaged ({size} bytes)"

    def check(self, temps_allowed=False):
        """The failures found after one trial (empty when all is well) and the outcome. With
        `temps_allowed`, temporary files of ours left in the destination directory are not a
        failure (self.left_temps names them)."""
        failures = []
        dst_state = self.state(self.dst)
        self.last_state = dst_state
        if dst_state not in ("old", "new", "partial"):
            failures.append(f"destination is {dst_state}")
        if self.name == "move":
            src_state = self.state(self.src)
            if src_state not in ("new", "absent"):
                failures.append(f"source is {src_state}")
            if src_state == "absent" and dst_state != "new":
                failures.append("the source is gone but the destination is not the new file")
            if os.path.isdir(self.src_dir):  # an emptied source directory is removed
                extra = leftovers(self.src_dir, ["big.bin"])
                if extra:
                    failures.append(f"left in the source directory: {extra}")
        elif self.source_changed():
            failures.append("the source changed")
        extra = leftovers(self.dst_dir, ["big.bin"])
        self.left_temps = [name for name in extra if TEMP_NAME.fullmatch(name)]
        if temps_allowed:
            extra = [name for name in extra if name not in self.left_temps]
        if extra:
            failures.append(f"left in the destination directory: {extra}")
        return failures, dst_state


class ManyKind:
    """The trial of many small files at once: the same interface as Kind, over a tree."""

    def __init__(self, root, count, seed):
        self.name = "many"
        self.args = ["src", "dst", "/s"]
        self.root = root
        self.src_dir = os.path.join(root, "src")
        self.dst_dir = os.path.join(root, "dst")
        rng = random.Random(seed)
        self.files = {}  # relative path: (new data, old data)
        for n in range(count):
            new = rng.randbytes(rng.randrange(4096, 65536))
            self.files[os.path.join(f"d{n % 4}", f"f{n:04d}.bin")] = (new, b"old!" + new[4:])
        write_tree(self.src_dir, {rel: new for rel, (new, _) in self.files.items()}, NEW_TIME)
        self.src_before = self.source_state()
        self.left_temps = []

    def source_state(self):
        return {rel: identity(os.path.join(self.src_dir, rel)) for rel in self.files}

    def lay_out(self):
        shutil.rmtree(self.dst_dir, ignore_errors=True)
        write_tree(self.dst_dir, {rel: old for rel, (_, old) in self.files.items()}, OLD_TIME)

    def check(self, temps_allowed=False):
        failures = []
        seen = {"old": 0, "new": 0}
        for rel, (new, old) in self.files.items():
            try:
                with open(os.path.join(self.dst_dir, rel), "rb") as got:
                    data = got.read()
            except FileNotFoundError:
                failures.append(f"{rel} is missing")
                continue
            if data == new:
                seen["new"] += 1
            elif data == old:
                seen["old"] += 1
            else:
                failures.append(f"{rel} is damaged ({len(data)} bytes)")
        expected = set(self.files)
        extra = []
        for directory, _, names in os.walk(self.dst_dir):
            for name in names:
                rel = os.path.relpath(os.path.join(directory, name), self.dst_dir)
                if rel not in expected:
                    extra.append(rel)
        self.left_temps = [rel for rel in extra if TEMP_NAME.fullmatch(os.path.basename(rel))]
        if temps_allowed:
            extra = [rel for rel in extra if rel not in self.left_temps]
        if extra:
            failures.append(f"left in the destination: {sorted(extra)[:5]}")
        if self.source_state() != self.src_before:
            failures.append("the source changed")
        state = "new" if seen["old"] == 0 else "old" if seen["new"] == 0 else "some new"
        return failures, state


class ManyMoveKind(ManyKind):
    """/s /m of the same small files from the disk onto tmpfs, half over older namesakes: the
    workers make the moves' copies ahead. Every file is whole on one side at least: still in
    the source (its destination old or absent), moved (the destination new, the source gone),
    or both (killed between the copy and the removal of the source)."""

    def __init__(self, root, disk, count, seed):
        super().__init__(root, count, seed)
        self.name = "many-move"
        self.args = ["src", "dst", "/s", "/m"]
        self.files = {rel: (new, old if n % 2 else None)
                      for n, (rel, (new, old)) in enumerate(self.files.items())}
        shutil.rmtree(self.src_dir)
        self.disk_src = os.path.join(disk, "many-src")
        os.symlink(self.disk_src, self.src_dir)

    def lay_out(self):
        for base in (self.disk_src, self.dst_dir):
            shutil.rmtree(base, ignore_errors=True)
            os.makedirs(base)
        write_tree(self.disk_src, {rel: new for rel, (new, _) in self.files.items()}, NEW_TIME)
        write_tree(self.dst_dir, {rel: old for rel, (_, old) in self.files.items()}, OLD_TIME)

    def check(self, temps_allowed=False):
        failures, moved, kept = [], 0, 0
        for rel, (new, old) in self.files.items():
            sides = []
            for base in (self.disk_src, self.dst_dir):
                try:
                    with open(os.path.join(base, rel), "rb") as got:
                        sides.append(got.read())
                except FileNotFoundError:
                    sides.append(None)
            source, dest = sides
            if source is None and dest == new:
                moved += 1
            elif source == new and dest in (old, new):
                kept += 1
            else:
                failures.append(f"{rel}: source {len(source) if source else source}, destination "
                                f"{len(dest) if dest else dest} bytes")
        extra = []
        for directory, _, names in os.walk(self.dst_dir):
            extra += [os.path.relpath(os.path.join(directory, name), self.dst_dir) for name in names
                      if os.path.relpath(os.path.join(directory, name), self.dst_dir) not in self.files]
        self.left_temps = [rel for rel in extra if TEMP_NAME.fullmatch(os.path.basename(rel))]
        if temps_allowed:
            extra = [rel for rel in extra if rel not in self.left_temps]
        if extra:
            failures.append(f"left in the destination: {sorted(extra)[:5]}")
        state = "new" if kept == 0 else "old" if moved == 0 else "some new"
        return failures[:5], state


# The hidden name under which a copy is written where the system has no anonymous files.
TEMP_NAME = re.compile(r"\.tc[0-9a-f]+-[0-9a-f]+\.tmp")


def run_once(program, kind, env, delay=None, sig=None):
    """Runs the program once; with `delay`, sends `sig` that many seconds after the start.
    Gives (return code, seconds taken)."""
    start = time.monotonic()
    proc = subprocess.Popen([program] + kind.args, cwd=kind.root, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            preexec_fn=default_signals)
    if delay is not None:
        try:
            proc.wait(timeout=delay)
        except subprocess.TimeoutExpired:
            proc.send_signal(sig)
    code = proc.wait(timeout=300)
    return code, time.monotonic() - start


def window_test(program, kind, env):
    """A kill between the hidden name and the rename leaves the temporary file; the next run
    removes it. Gives a list of failures (empty when strace is missing: then it says so)."""
    if shutil.which("strace") is None:
        print("window: skipped: no strace")
        return []
    kind.lay_out()
    traced = dict(env, ASAN_OPTIONS=":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"])))
    command = ["strace", "-f", "-qq", "-o", os.devnull, "-e", "trace=rename",
               "-e", "inject=rename:signal=KILL:when=1", program] + kind.args
    subprocess.run(command, cwd=kind.root, env=traced, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    failures = []
    left = leftovers(kind.dst_dir, ["big.bin"])
    if kind.state(kind.dst) != "old":
        failures.append("window: the destination is not the old file after the kill")
    if len(left) != 1 or not left[0].startswith(".tc") or \
            os.path.getsize(os.path.join(kind.dst_dir, left[0])) != kind.new_size:
        failures.append(f"window: expected one full-size temporary file, found {left}")
    code, _ = run_once(program, kind, env)
    more, state = kind.check()
    failures += [f"window, next run: {text}" for text in more]
    if code != 0 or state != "new":
        failures.append(f"window, next run: exit {code}, destination {state}")
    print(f"window: killed before the rename, left {len(left)} temporary file(s); the next run "
          f"left {len(leftovers(kind.dst_dir, ['big.bin']))}: {'ok' if not failures else 'FAILED'}")
    return failures


def naming_window_test(program, kind, env):
    """SIGTERM delivered as the call that gives the new data their hidden name returns: the
    handler must already know the name and remove it, so that nothing is left and the old
    destination stays. The call is found by a first traced run (the first one naming a .tc
    file); the second run delivers the signal there. Gives a list of failures."""
    if shutil.which("strace") is None:
        print("naming window: skipped: no strace")
        return []
    traced = dict(env, ASAN_OPTIONS=":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"])))
    calls = "open,openat,link,linkat"
    kind.lay_out()
    with tempfile.NamedTemporaryFile("r", prefix="tc-trace-") as trace:
        subprocess.run(["strace", "-f", "-qq", "-o", trace.name, "-e", "trace=" + calls, program]
                       + kind.args, cwd=kind.root, env=traced, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        counts, target = {}, None
        for line in trace:
            match = re.match(r"(?:\d+ +)?(\w+)\(", line)
            if match is None:
                continue
            name = match.group(1)
            counts[name] = counts.get(name, 0) + 1
            if re.search(r'"[^"]*/\.tc[0-9a-f]+-[0-9a-f]+\.tmp"', line) and "= -1" not in line:
                target = (name, counts[name])
                break
    if target is None:
        return ["naming window: no call gave a hidden temporary name in the traced run"]
    kind.lay_out()
    subprocess.run(["strace", "-f", "-qq", "-o", os.devnull, "-e", "trace=" + target[0], "-e",
                    f"inject={target[0]}:signal=TERM:when={target[1]}", program] + kind.args,
                   cwd=kind.root, env=traced, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300, preexec_fn=default_signals)
    failures = []
    left = leftovers(kind.dst_dir, ["big.bin"])
    if kind.state(kind.dst) != "old":
        failures.append("naming window: the destination is not the old file after SIGTERM")
    if left:
        failures.append(f"naming window: SIGTERM at {target[0]} #{target[1]} left {left}")
    print(f"naming window: SIGTERM as {target[0]} #{target[1]} named the copy, left "
          f"{len(left)} temporary file(s): {'ok' if not failures else 'FAILED'}")
    return failures


def churn_test(program, root, env, seed, rounds=5, count=600):
    """Another process changes the source tree while eight workers copy it over older
    namesakes (/s /+c): it appends to files, removes them and replaces them by new ones. Every
    destination file must be its old version or a whole state that its source had at some
    moment (a copy reads exactly the size it found, so a state cut within an append counts),
    nothing else may be left in the destination, and the run must end without a sanitizer's
    report. Gives a list of failures."""
    import threading
    rng = random.Random(seed)
    src, dst = os.path.join(root, "src"), os.path.join(root, "dst")
    failures, changed = [], 0
    for round_ in range(rounds):
        shutil.rmtree(root, ignore_errors=True)
        lineages, old = {}, {}  # rel: list of [initial, final] contents; rel: the old destination
        for n in range(count):
            rel = os.path.join(f"d{n % 4}", f"f{n:04d}.bin")
            data = rng.randbytes(rng.randrange(4096, 65536))
            old[rel] = b"old!" + data
            lineages[rel] = [[data, data]]
        write_tree(src, {rel: lineage[0][0] for rel, lineage in lineages.items()}, NEW_TIME)
        write_tree(dst, old, OLD_TIME)
        stop = threading.Event()

        def churn():
            nonlocal changed
            local = random.Random(rng.random())
            names = sorted(lineages)
            while not stop.is_set():
                rel = local.choice(names)
                path = os.path.join(src, rel)
                what = local.random()
                try:
                    if what < 0.6:  # the source grows
                        tail = local.randbytes(local.randrange(1, 20000))
                        with open(path, "ab") as out:
                            lineages[rel][-1][1] += tail
                            out.write(tail)
                    elif what < 0.8:  # another file takes its name
                        data = local.randbytes(local.randrange(1, 65536))
                        lineages[rel].append([data, data])
                        with open(path + ".new", "wb") as out:
                            out.write(data)
                        os.rename(path + ".new", path)
                    else:  # it goes away
                        os.unlink(path)
                        names.remove(rel)
                    changed += 1
                except FileNotFoundError:
                    pass

        changer = threading.Thread(target=churn)
        changer.start()
        done = subprocess.run([program, "src", "dst", "/s", "/+c"], cwd=root, capture_output=True,
                              env=dict(env, TREECOPY_WORKERS="8"), stdin=subprocess.DEVNULL,
                              timeout=300)
        stop.set()
        changer.join()
        if done.returncode < 0 or b"Sanitizer" in done.stderr or b"runtime error" in done.stderr:
            failures.append(f"churn round {round_}: exit {done.returncode}, {done.stderr[-500:]!r}")
        for directory, _, names in os.walk(dst):
            for name in names:
                rel = os.path.relpath(os.path.join(directory, name), dst)
                if rel not in old:
                    failures.append(f"churn round {round_}: {rel} left in the destination")
                    continue
                with open(os.path.join(directory, name), "rb") as got:
                    data = got.read()
                if data != old[rel] and not any(
                        len(data) >= len(first) and last.startswith(data)
                        for first, last in lineages[rel]):
                    failures.append(f"churn round {round_}: {rel} is no state of its source "
                                    f"({len(data)} bytes)")
    print(f"churn: {rounds} runs of {count} files with eight workers while {changed} changes were "
          f"made to the source: {'ok' if not failures else 'FAILED'}")
    return failures[:10]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--trials", type=int, default=20,
                        help="trials per signal for the copy and the incremental copy")
    parser.add_argument("--move-trials", type=int, default=10, help="trials per signal for the move")
    parser.add_argument("--size-mib", type=int, default=256, help="size of the copied file")
    parser.add_argument("--move-size-mib", type=int, default=64,
                        help="size of the moved file (it is flushed to the disk every trial)")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--churn-only", action="store_true",
                        help="only the run while another process changes the source (churn)")
    options = parser.parse_args()
    seed = options.seed if options.seed is not None else random.randrange(1 << 32)
    rng = random.Random(seed)
    program = os.path.abspath(options.program)
    print(f"seed {seed}; {options.trials} trials per signal ({options.move_trials} for the move)")
    if not os.path.isdir("/dev/shm"):
        print("skipped: no tmpfs at /dev/shm")
        return 0

    env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8")
    if options.churn_only:
        root = tempfile.mkdtemp(prefix="tc-churn-", dir="/dev/shm")
        try:
            failures = churn_test(program, os.path.join(root, "churn"), env, seed)
        finally:
            shutil.rmtree(root, ignore_errors=True)
        for text in failures:
            print("FAIL " + text)
        return 1 if failures else 0
    shm = tempfile.mkdtemp(prefix="tc-kill-", dir="/dev/shm")
    disk = tempfile.mkdtemp(prefix="tc-kill-")
    failures = []
    started = time.monotonic()
    try:
        refs = os.path.join(shm, "refs")
        os.mkdir(refs)
        size = options.size_mib * MIB
        write_pattern(os.path.join(refs, "new"), size, seed)
        shutil.copyfile(os.path.join(refs, "new"), os.path.join(refs, "old"))
        with open(os.path.join(refs, "old"), "r+b") as old:
            old.write(b"an older version")
        with open(os.path.join(refs, "new"), "rb") as new, open(os.path.join(refs, "half"), "wb") as half:
            half.write(new.read(size // 2))
        move_size = options.move_size_mib * MIB
        write_pattern(os.path.join(refs, "move-new"), move_size, seed + 1)
        shutil.copyfile(os.path.join(refs, "move-new"), os.path.join(refs, "move-old"))
        with open(os.path.join(refs, "move-old"), "r+b") as old:
            old.write(b"an older version")

        kinds = []
        for name, args, src_base, new, old in (
                ("copy", ["src", "dst"], shm, "new", "old"),
                ("move", ["src", "dst", "/m"], disk, "move-new", "move-old"),
                ("incr", ["src", "dst", "/i"], shm, "new", "half")):
            root = os.path.join(shm, name)
            os.mkdir(root)
            os.mkdir(os.path.join(root, "src"))
            dst_dir = os.path.join(root, "dst")
            if name == "move":  # the destination on the disk, the source on tmpfs
                os.symlink(os.path.join(src_base, "dst"), dst_dir)
                os.mkdir(os.path.join(src_base, "dst"))
            else:
                os.mkdir(dst_dir)
            kind = Kind(name, args, os.path.join(root, "src"), os.path.realpath(dst_dir),
                        os.path.join(refs, new), os.path.join(refs, old))
            kind.root = root
            kinds.append(kind)
        root = os.path.join(shm, "many")
        os.mkdir(root)
        kinds.append(ManyKind(root, 400, seed))
        root = os.path.join(shm, "many-move")
        os.mkdir(root)
        kinds.append(ManyMoveKind(root, disk, 400, seed))

        failures += window_test(program, kinds[0], env)
        failures += naming_window_test(program, kinds[0], env)

        for kind in kinds:
            # One run to the end: it must give the new file, and its time sets the window.
            kind.lay_out()
            code, took = run_once(program, kind, env)
            more, state = kind.check()
            if code != 0 or state != "new" or more:
                failures.append(f"{kind.name}: an uninterrupted run gave exit {code}, {state} {more}")
                continue
            trials = options.move_trials if kind.name == "move" else options.trials
            for signame, signum in SIGNALS:
                outcomes = {}
                signalled = 0
                begun = time.monotonic()
                for trial in range(trials):
                    kind.lay_out()
                    delay = rng.uniform(0, took * 1.1)
                    code, _ = run_once(program, kind, env, delay, signum)
                    signalled += code < 0
                    # Only SIGKILL can leave a temporary file (the others remove it first): a
                    # replacement gives its data a hidden name before the rename even where the
                    # system has anonymous files, and with many files in flight several such
                    # names exist at once. The next run must remove them.
                    more, state = kind.check(signum == signal.SIGKILL)
                    outcomes[state] = outcomes.get(state, 0) + 1
                    if kind.left_temps and not more:
                        # A temporary file of the killed run: the next run removes it.
                        code, _ = run_once(program, kind, env)
                        more, after = kind.check()
                        if code != 0 or after != "new":
                            more.append(f"the run after a temporary file was left gave exit {code}, "
                                        f"destination {after}")
                        else:
                            key = "temporary file left, removed next run"
                            outcomes[key] = outcomes.get(key, 0) + 1
                    if state == "partial" and not more:
                        # The next run finds the interrupted update and completes it.
                        code, _ = run_once(program, kind, env)
                        more, after = kind.check()
                        if code != 0 or after != "new":
                            more.append(f"the next /i run left the destination {after} (exit {code})")
                        else:
                            outcomes["partial, completed next run"] = (
                                outcomes.get("partial, completed next run", 0) + 1)
                    for text in more:
                        failures.append(f"{kind.name} {signame} trial {trial} at {delay:.3f}s: {text}")
                summary = ", ".join(f"{n} {state}" for state, n in sorted(outcomes.items()))
                print(f"{kind.name} {signame}: {trials} trials ({signalled} ended by the signal; "
                      f"an uninterrupted run takes {took:.2f}s): {summary} "
                      f"[{time.monotonic() - begun:.0f}s]")
                sys.stdout.flush()
    finally:
        shutil.rmtree(shm, ignore_errors=True)
        shutil.rmtree(disk, ignore_errors=True)

    for text in failures:
        print("FAIL " + text)
    print(f"{'FAILED' if failures else 'passed'} in {time.monotonic() - started:.0f}s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
