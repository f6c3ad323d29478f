#!/usr/bin/env python3
"""Every workload of the performance table, side by side with the usual tools.

Each row times treecopy and its peers on the same files, in interleaved rounds: every round runs
each command once (through hyperfine, with a preparation step of its own that gives it a fresh
destination), the order of the commands turning from round to round, so that a load that comes
and goes meets every tool alike. The figure kept is the median of the rounds. Then it prints the
ratio against the target of the row, the peak memory of each treecopy run (/usr/bin/time) and,
for the tree workloads, the system calls per file of every tool (strace -c -f).

    bench/compare/run.py PROGRAM [--fs tmpfs,disk,share] [--rounds N] [--rows copy,update,...]
                         [--faultfs FAULTFS] [--delay-us N] [--baseline OLDPROGRAM]

The share rows copy 2,000 small files onto, from and on faultfs (the test file system of the
share scenarios) mounted over tmpfs, every request delayed (0.5 ms by default) and names and
attributes kept for a second, like a network share with an attribute cache; each timed command
there starts after that second has run out.

With --baseline, an earlier build of treecopy runs beside the current one in every row, and
the summary gives the current one's time as a ratio to the earlier one's.

run.sh builds the optimized program and calls this. Not part of the test suite.
"""

import argparse
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

TREE_DIRS = 200
TREE_FILES_PER_DIR = 100
TREE_FILES = TREE_DIRS * TREE_FILES_PER_DIR
MIB = 1 << 20

# Where each file system is found: tmpfs in /dev/shm, the disk under /var/tmp (or /tmp).
FS_ROOTS = {"tmpfs": ["/dev/shm"], "disk": ["/var/tmp", "/tmp"]}


def fs_type(path):
    out = subprocess.run(["df", "-T", path], capture_output=True, text=True).stdout.splitlines()
    return out[1].split()[1] if len(out) > 1 else "?"


def load():
    return os.getloadavg()[0]


def make_tree(root, dirs=TREE_DIRS):
    """100 files of 1-8 KiB in each of `dirs` directories (the same every time)."""
    rng = random.Random(7)
    for d in range(dirs):
        path = os.path.join(root, "d%03d" % d)
        os.makedirs(path)
        for f in range(TREE_FILES_PER_DIR):
            with open(os.path.join(path, "f%03d.dat" % f), "wb") as out:
                out.write(rng.randbytes(rng.randint(1024, 8192)))


def make_big(path, mib):
    """A file of `mib` MiB: 64 MiB of random bytes repeated with a changing first byte."""
    block = os.urandom(min(mib, 64) * MIB)
    with open(path, "wb") as out:
        done = 0
        n = 0
        while done < mib * MIB:
            part = bytes([n & 0xFF]) + block[1:]
            take = min(len(part), mib * MIB - done)
            out.write(part[:take])
            done += take
            n += 1


class Row:
    """One workload: its commands (name, preparation, command), the reference the target is
    measured against, and the target ratio (`atmost`; None: the ratio is only shown). `more`
    lists further (reference, target) pairs of the row."""

    def __init__(self, key, title, commands, reference, target, setup=None, teardown=None,
                 check=None, more=()):
        self.key = key
        self.more = list(more)
        self.check = check  # a shell test that treecopy's run did the work
        self.title = title
        self.commands = commands
        self.reference = reference
        self.target = target
        self.setup = setup
        self.teardown = teardown


def hyperfine_round(commands, work, out_json):
    args = ["hyperfine", "--runs", "1", "--style", "none", "--export-json", out_json]
    for name, prep, command in commands:
        args += ["--prepare", prep or ":"]
    for name, prep, command in commands:
        args += ["-n", name]
    args += [command for _, _, command in commands]
    subprocess.run(args, cwd=work, check=True, stdout=subprocess.DEVNULL)
    with open(out_json) as f:
        return {r["command"]: r for r in json.load(f)["results"]}


def sh(command, work):
    subprocess.run(["sh", "-c", command], cwd=work, check=True)


def peak_kib(prep, command, work):
    sh(prep or ":", work)
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "sh", "-c", "exec " + command + " >/dev/null"],
                            cwd=work, capture_output=True, text=True)
    lines = result.stderr.strip().splitlines()
    return int(lines[-1]) if lines and lines[-1].isdigit() else -1


# The names of the calls that strace 6.1 shows by number on x86-64.
UNNAMED_CALLS = {"syscall_0x1d0": "getxattrat"}


def syscall_counts(prep, command, work):
    """System calls of one run: (total, {name: count})."""
    sh(prep or ":", work)
    out = os.path.join(work, ".strace")
    # Every call traced and counted here, not with strace -c: its summary leaves out the calls
    # that this strace has no name for (getxattrat shows as syscall_0x1d0 in a trace, and not
    # at all in the summary).
    subprocess.run(["strace", "-f", "-qq", "-o", out, "sh", "-c", "{ " + command + "; } >/dev/null"],
                   cwd=work, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    calls = {}
    total = 0
    call = re.compile(r"^(?:\d+ +)?(?:<\.\.\. )?(\w+)[( ]")
    with open(out) as f:
        for line in f:
            if "resumed>" in line:
                continue  # the second half of a call already counted
            match = call.match(line)
            if match and not line.startswith(("+++", "---")):
                name = UNNAMED_CALLS.get(match.group(1), match.group(1))
                calls[name] = calls.get(name, 0) + 1
                total += 1
    os.remove(out)
    # The shell's own start (execve and the loader's calls) is counted too: a few dozen calls,
    # nothing per file.
    return total, calls


def run_row(row, work, rounds, results, report):
    if row.setup:
        sh(row.setup, work)
    # One warm-up round (discarded): caches and the destination's first state alike for all.
    hyperfine_round(row.commands, work, os.path.join(work, ".hf.json"))
    times = {name: [] for name, _, _ in row.commands}
    user = {name: [] for name, _, _ in row.commands}
    system = {name: [] for name, _, _ in row.commands}
    loads = []
    for r in range(rounds):
        k = r % len(row.commands)
        order = row.commands[k:] + row.commands[:k]
        loads.append(load())
        got = hyperfine_round(order, work, os.path.join(work, ".hf.json"))
        for name, _, _ in row.commands:
            times[name].append(got[name]["mean"])
            user[name].append(got[name]["user"])
            system[name].append(got[name]["system"])
    med = {name: statistics.median(v) for name, v in times.items()}
    ours = row.commands[0][0]
    baseline = ours + " (baseline)"
    ratio = med[ours] / med[row.reference] if med[row.reference] > 0 else float("inf")
    # The same ratio in processor time (user and system): on a loaded machine the wall time
    # also holds the waits for a processor, which the processor time does not.
    cpu = {n: statistics.median(user[n]) + statistics.median(system[n]) for n in user}
    cpu_ratio = cpu[ours] / cpu[row.reference] if cpu[row.reference] > 0 else float("inf")
    more = [(ref, med[ours] / med[ref] if med[ref] > 0 else float("inf"), target)
            for ref, target in row.more]
    memory = peak_kib(row.commands[0][1], row.commands[0][2], work)
    if row.check:
        sh(row.check, work)  # raises when treecopy did not do the job it was timed for
    results.append({"row": row.key, "title": row.title, "median": med, "ratio": ratio,
                    "reference": row.reference, "target": row.target, "peak_kib": memory,
                    "more": more,
                    "user": {n: statistics.median(v) for n, v in user.items()},
                    "system": {n: statistics.median(v) for n, v in system.items()},
                    "load": statistics.mean(loads), "cpu_ratio": cpu_ratio,
                    "to_baseline": med[ours] / med[baseline] if baseline in med else None,
                    "cpu_to_baseline": cpu[ours] / cpu[baseline] if baseline in cpu else None})
    report(row, med, ratio, memory, user, system, loads, cpu_ratio, more)
    if row.teardown:
        sh(row.teardown, work)


def verdict(ratio, target):
    if target is None:
        return "no target"
    return "target <= %.2fx: %s" % (target, "met" if ratio <= target else "NOT met")


def print_row(row, med, ratio, memory, user, system, loads, cpu_ratio, more):
    print("%s  (load %.1f)" % (row.title, statistics.mean(loads)))
    for name, _, _ in row.commands:
        print("    %-30s %8.4f s   user %7.4f  sys %7.4f" %
              (name, med[name], statistics.median(user[name]), statistics.median(system[name])))
    print("    ratio %.2fx %s (%s); in processor time %.2fx; treecopy peak memory %.1f MiB" %
          (ratio, row.reference, verdict(ratio, row.target), cpu_ratio, memory / 1024.0))
    for ref, r, target in more:
        print("    ratio %.2fx %s (%s)" % (r, ref, verdict(r, target)))
    sys.stdout.flush()


def tree_rows(prog):
    t = prog
    return [
        Row("copy", "copy the tree into an empty destination, /s", [
            ("treecopy /s", "rm -rf dst", f"{t} src dst /s"),
            ("cp -r", "rm -rf dst", "cp -r src dst"),
            ("cp -a", "rm -rf dst", "cp -a src dst"),
            ("rsync -a", "rm -rf dst", "rsync -a src/ dst/"),
        ], "cp -r", 0.9, teardown="rm -rf dst", check="diff -r src dst"),
        Row("update", "/s /u over the unchanged tree", [
            ("treecopy /s /u", None, f"{t} src dst /s /u"),
            ("cp -ruT", None, "cp -ruT src dst"),
            ("du -s (both trees)", None, "du -s src dst"),
            ("rsync -a", None, "rsync -a src/ dst/"),
        ], "du -s (both trees)", 1.0, setup=f"rm -rf dst && {t} src dst /s >/dev/null",
            teardown="rm -rf dst", check=f"{t} src dst /s /u | grep -q '^ 0/{TREE_FILES}.files'"),
        Row("compare", "/s /c over two identical trees", [
            ("treecopy /s /c", None, f"{t} src dst /s /c"),
            ("diff -rq", None, "diff -rq src dst"),
        ], "diff -rq", 0.8, setup=f"rm -rf dst && {t} src dst /s >/dev/null",
            teardown="rm -rf dst",
            check=f"{t} src dst /s /c | grep -q '^ {TREE_FILES}/{TREE_FILES}.files.* compared'"),
        Row("move", "/s /m within one file system", [
            ("treecopy /s /m", "rm -rf msrc mdst && cp -al src msrc", f"{t} msrc mdst /s /m"),
            ("cp -al + rm -rf", "rm -rf msrc mdst && cp -al src msrc",
             "cp -al msrc mdst && rm -rf msrc"),
        ], "cp -al + rm -rf", 0.7, teardown="rm -rf msrc mdst",
            check="test ! -e msrc && diff -r src mdst"),
    ]


SHARE_DIRS = 20
SHARE_FILES = SHARE_DIRS * TREE_FILES_PER_DIR
SHARE_KEYS = ("share-copy", "share-back", "share-update", "share-compare", "share-move")
# Before each timed command on the share, the kernel's names and attributes of it run out (they
# are kept for a second), as after a pause on a network share.
COOL = "sleep 1.1"


def gone(name):
    """Takes `name` off the share at once: renamed there (one request), then removed from the
    backing directory directly, not request by request through the share."""
    return f"if [ -e share/{name} ]; then mv share/{name} share/.gone-$$ && rm -rf backing/.gone-$$; fi"


def share_rows(prog):
    """2,000 small files to, from and on the delaying share (`share`, the file system faultfs
    over `backing`); the tree `src` is on tmpfs."""
    t = prog
    fresh = f"{gone('dst')}; {COOL}"
    # The copy on the share, written into the backing directory (at tmpfs speed).
    copied = f"{gone('dst')}; {t} src 'backing\\dst' /s >/dev/null"
    n = SHARE_FILES
    return [
        Row("share-copy", "copy the tree onto the share, /s", [
            ("treecopy /s", fresh, f"{t} src 'share\\dst' /s"),
            ("cp -r", fresh, "cp -r src share/dst"),
            ("cp -a", fresh, "cp -a src share/dst"),
            ("rsync -a", fresh, "rsync -a src/ share/dst/"),
            ("rclone copy --transfers 16", fresh, "rclone copy --transfers 16 src share/dst"),
        ], "cp -r", 0.25, more=[("rclone copy --transfers 16", 0.4)], teardown=gone("dst"),
            check="diff -r src share/dst"),
        Row("share-back", "copy the tree from the share to tmpfs, /s", [
            ("treecopy /s", f"rm -rf dst; {COOL}", f"{t} 'share\\src' dst /s"),
            ("cp -r", f"rm -rf dst; {COOL}", "cp -r share/src dst"),
            ("cp -a", f"rm -rf dst; {COOL}", "cp -a share/src dst"),
            ("rsync -a", f"rm -rf dst; {COOL}", "rsync -a share/src/ dst/"),
            ("rclone copy --transfers 16", f"rm -rf dst; {COOL}",
             "rclone copy --transfers 16 share/src dst"),
        ], "cp -r", None, more=[("rclone copy --transfers 16", None)],
            setup="rm -rf backing/src && cp -a src backing/src",
            teardown=f"rm -rf dst; {gone('src')}", check="diff -r src dst"),
        Row("share-update", "/s /u over an unchanged copy on the share", [
            ("treecopy /s /u", COOL, f"{t} src 'share\\dst' /s /u"),
            ("cp -ruT", COOL, "cp -ruT src share/dst"),
            ("rsync -a", COOL, "rsync -a src/ share/dst/"),
            ("rclone copy --checkers 16", COOL, "rclone copy --checkers 16 src share/dst"),
            ("du -s (both trees)", COOL, "du -s src share/dst"),
        ], "cp -ruT", 0.25, more=[("rclone copy --checkers 16", 1.0), ("du -s (both trees)", None)],
            setup=copied, teardown=gone("dst"),
            check=f"{t} src 'share\\dst' /s /u | grep -q '^ 0/{n}.files'"),
        Row("share-compare", "/s /c against the copy on the share", [
            ("treecopy /s /c", COOL, f"{t} src 'share\\dst' /s /c"),
            ("treecopy /s /c, one worker", COOL, f"TREECOPY_WORKERS=1 {t} src 'share\\dst' /s /c"),
            ("diff -rq", COOL, "diff -rq src share/dst"),
        ], "treecopy /s /c, one worker", 0.25, more=[("diff -rq", None)], setup=copied,
            teardown=gone("dst"), check=f"{t} src 'share\\dst' /s /c | grep -q '^ {n}/{n}.files.* compared'"),
        Row("share-move", "/s /m from tmpfs onto the share", [
            ("treecopy /s /m", f"rm -rf msrc && cp -al src msrc; {gone('mdst')}; {COOL}",
             f"{t} msrc 'share\\mdst' /s /m"),
            ("cp -r + rm -rf", f"rm -rf msrc && cp -al src msrc; {gone('mdst')}; {COOL}",
             "cp -r msrc share/mdst && rm -rf msrc"),
            ("mv", f"rm -rf msrc && cp -al src msrc; {gone('mdst')}; {COOL}", "mv msrc share/mdst"),
            ("rclone move --transfers 16", f"rm -rf msrc && cp -al src msrc; {gone('mdst')}; {COOL}",
             "rclone move --transfers 16 --delete-empty-src-dirs msrc share/mdst"),
        ], "cp -r + rm -rf", None, more=[("rclone move --transfers 16", None)],
            teardown=f"rm -rf msrc; {gone('mdst')}", check="test ! -e msrc && diff -r src share/mdst"),
    ]


def mount_share(faultfs, work, delay_us):
    """The delaying share: faultfs over `backing`, mounted at `share`; False where it cannot be."""
    os.makedirs(os.path.join(work, "backing"))
    os.makedirs(os.path.join(work, "share"))
    done = subprocess.run([faultfs, "--delay-us", str(delay_us), "--cache", "1", "backing", "share"],
                          cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0:
        print("   cannot mount faultfs: " + (done.stdout + done.stderr).strip().replace("\n", "; "))
    return done.returncode == 0


def unmount_share(work):
    point = os.path.join(work, "share")
    for command in (["fusermount3", "-u", point], ["umount", point], ["umount", "-l", point]):
        if shutil.which(command[0]) and subprocess.run(command, stderr=subprocess.DEVNULL).returncode == 0:
            return


def big_rows(prog, big_mib, log_mib):
    t = prog
    tail = 8
    # The destination back to its old length and an old time (/i takes only newer sources).
    shrink = f"truncate -s {log_mib}M logdst/log.bin && touch -d 2001-01-01 logdst/log.bin"
    return [
        Row("bigcopy", f"one {big_mib} MiB file, copy", [
            ("treecopy", "rm -rf out && mkdir out", f"{t} big.bin out"),
            ("cp", "rm -rf out && mkdir out", "cp big.bin out/"),
        ], "cp", 1.0, setup="cat big.bin >/dev/null", teardown="rm -rf out",
            check="cmp big.bin out/big.bin"),
        Row("bigcompare", f"one {big_mib} MiB pair, /c", [
            ("treecopy /c", None, f"{t} big.bin out /c"),
            ("cmp", None, "cmp big.bin out/big.bin"),
            ("read both (cat)", None, "cat big.bin out/big.bin >/dev/null"),
        ], "read both (cat)", 1.3,
            # The copy dated back, so that the pair is chosen (times within two seconds are not).
            setup="rm -rf out && mkdir out && cp big.bin out/ && touch -d 2001-01-01 out/big.bin && "
                  "cat big.bin out/big.bin >/dev/null",
            teardown="rm -rf out", check=f"{t} big.bin out /c | grep -q '^ 1/1.files compared'"),
        # A disk image: 4 GiB that hold 12 KiB of data (at its start, middle and end), the rest
        # holes; the copy keeps them (cp does by default).
        Row("sparsecopy", "a 4 GiB sparse file holding 12 KiB, copy", [
            ("treecopy", "rm -rf out && mkdir out", f"{t} sparse.bin out"),
            ("cp", "rm -rf out && mkdir out", "cp sparse.bin out/"),
        ], "cp", 2.0,
            setup="truncate -s 4G sparse.bin && for block in 0 524288 1048575; do "
                  "head -c 4096 /dev/urandom | dd of=sparse.bin bs=4096 seek=$block conv=notrunc "
                  "status=none; done",
            teardown="rm -rf out sparse.bin",
            check="cmp sparse.bin out/sparse.bin && test $(du -k out/sparse.bin | cut -f1) -lt 1024"),
        Row("incremental", f"a {log_mib} MiB log grown by {tail} MiB, /i", [
            ("treecopy /i", shrink, f"{t} log.bin logdst /i"),
            ("rsync --append", shrink, "rsync --append log.bin logdst/log.bin"),
            ("write the tail (dd)", shrink,
             f"dd if=log.bin of=logdst/log.bin bs={tail}M skip={log_mib // tail} "
             f"seek={log_mib // tail} count=1 conv=notrunc status=none"),
        ], "write the tail (dd)", 1.1,
            setup=f"rm -rf logdst && mkdir logdst && head -c {log_mib}M log.bin >logdst/log.bin",
            teardown="rm -rf logdst", check="cmp log.bin logdst/log.bin"),
    ]


def syscall_report(prog, work):
    """System calls per file of each tool on the tree workloads."""
    t = prog
    cases = [
        ("copy", [("treecopy /s", "rm -rf dst", f"{t} src dst /s"), ("cp -r", "rm -rf dst", "cp -r src dst"),
                  ("rsync -a", "rm -rf dst", "rsync -a src/ dst/")]),
        ("update", [("treecopy /s /u", f"rm -rf dst && {t} src dst /s >/dev/null", f"{t} src dst /s /u"),
                    ("cp -ruT", None, "cp -ruT src dst"), ("du -s (both)", None, "du -s src dst"),
                    ("rsync -a", None, "rsync -a src/ dst/")]),
        ("compare", [("treecopy /s /c", f"rm -rf dst && {t} src dst /s >/dev/null", f"{t} src dst /s /c"),
                     ("diff -rq", None, "diff -rq src dst")]),
        ("move", [("treecopy /s /m", "rm -rf msrc mdst && cp -al src msrc", f"{t} msrc mdst /s /m"),
                  ("cp -al + rm -rf", "rm -rf msrc mdst && cp -al src msrc",
                   "cp -al msrc mdst && rm -rf msrc")]),
    ]
    print("\nsystem calls per file (strace -c -f, %d files):" % TREE_FILES)
    for key, tools in cases:
        for name, prep, command in tools:
            total, calls = syscall_counts(prep, command, work)
            top = sorted(calls.items(), key=lambda kv: -kv[1])[:8]
            detail = "  ".join("%s %.2f" % (n, c / TREE_FILES) for n, c in top if c >= TREE_FILES / 20)
            print("  %-8s %-18s %6.2f   %s" % (key, name, total / TREE_FILES, detail))
    sh("rm -rf dst msrc mdst", work)


def run_share(prog, args, wanted, with_baseline, results):
    """The share rows: the tree on tmpfs, the share a faultfs mount on tmpfs."""
    rows = [r for r in share_rows(prog) if r.key in wanted]
    if not rows:
        return
    work = tempfile.mkdtemp(prefix="tc-share-", dir="/dev/shm")
    try:
        print(f"\n== share: faultfs at {work}/share, every request delayed {args.delay_us} us, "
              "names and attributes kept for 1 s; %d files" % SHARE_FILES)
        make_tree(os.path.join(work, "src"), SHARE_DIRS)
        if not mount_share(args.faultfs, work, args.delay_us):
            print("   skipped")
            return
        try:
            for row in with_baseline(rows):
                run_row(row, work, args.rounds, results, print_row)
                results[-1]["fs"] = "share"
        finally:
            unmount_share(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--fs", default="tmpfs,disk,share")
    parser.add_argument("--rounds", type=int, default=int(os.environ.get("BENCH_ROUNDS", "5")))
    parser.add_argument("--rows", default="copy,update,compare,move,bigcopy,bigcompare,sparsecopy,"
                        "incremental," + ",".join(SHARE_KEYS))
    parser.add_argument("--faultfs", help="the test file system program, for the share rows")
    parser.add_argument("--delay-us", type=int, default=500, help="the share's delay per request")
    parser.add_argument("--big-mib", type=int, default=int(os.environ.get("BENCH_BIG_MIB", "2048")))
    parser.add_argument("--log-mib", type=int, default=int(os.environ.get("BENCH_LOG_MIB", "1024")))
    parser.add_argument("--no-syscalls", action="store_true")
    parser.add_argument("--json", help="write every figure to this file")
    parser.add_argument("--baseline", help="an earlier treecopy to time beside this one")
    args = parser.parse_args()
    prog = os.path.abspath(args.program)
    earlier = os.path.abspath(args.baseline) if args.baseline else None

    def with_baseline(rows):
        """Puts the earlier program beside the current one in each row."""
        for row in rows:
            name, prep, command = row.commands[0]
            if earlier:
                row.commands.insert(1, (name + " (baseline)", prep, command.replace(prog, earlier, 1)))
        return rows

    wanted = args.rows.split(",")
    share = "share" in args.fs.split(",")
    for tool in ["hyperfine", "strace", "rsync", "diff", "cmp"] + (["rclone"] if share else []):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is missing")
    if share and not args.faultfs:
        sys.exit("the share rows need --faultfs (run.sh builds it)")

    print("load average at start: %.2f %.2f %.2f; %d CPUs" % (os.getloadavg() + (os.cpu_count(),)))
    results = []
    for fs in args.fs.split(","):
        if fs == "share":
            run_share(prog, args, wanted, with_baseline, results)
            continue
        base = next((p for p in FS_ROOTS[fs] if os.path.isdir(p) and os.access(p, os.W_OK)), None)
        if base is None:
            print(f"\n== {fs}: no writable place, skipped")
            continue
        work = tempfile.mkdtemp(prefix="tc-compare-", dir=base)
        try:
            print(f"\n== {fs}: {work} ({fs_type(work)})")
            rows = []
            if any(k in wanted for k in ("copy", "update", "compare", "move")):
                make_tree(os.path.join(work, "src"))
                sh("sync", work)
                rows += with_baseline([r for r in tree_rows(prog) if r.key in wanted])
            for row in rows:
                run_row(row, work, args.rounds, results, print_row)
            if rows and not args.no_syscalls:
                syscall_report(prog, work)
            shutil.rmtree(os.path.join(work, "src"), ignore_errors=True)
            for row in with_baseline(big_rows(prog, args.big_mib, args.log_mib)):
                if row.key not in wanted:
                    continue
                if row.key in ("bigcopy", "bigcompare") and not os.path.exists(os.path.join(work, "big.bin")):
                    make_big(os.path.join(work, "big.bin"), args.big_mib)
                if row.key == "incremental":
                    sh("rm -f big.bin", work)
                    make_big(os.path.join(work, "log.bin"), args.log_mib + 8)
                sh("sync", work)
                run_row(row, work, args.rounds, results, print_row)
            for r in results:
                r.setdefault("fs", fs)
        finally:
            shutil.rmtree(work, ignore_errors=True)

    print("\nsummary (median ratios of wall time, and of processor time; load average now %.2f):"
          % load())
    for r in results:
        print("  %-6s %-44s %5.2fx (cpu %5.2fx) %-28s %s" %
              (r["fs"], r["title"], r["ratio"], r["cpu_ratio"], r["reference"],
               verdict(r["ratio"], r["target"])))
        for ref, ratio, target in r["more"]:
            print("  %-6s %-44s %5.2fx %-40s %s" % ("", "", ratio, ref, verdict(ratio, target)))
    if earlier:
        print("\nthis treecopy against the baseline (median time ratio, processor time ratio):")
        for r in results:
            print("  %-6s %-44s %5.2fx  (cpu %5.2fx)" %
                  (r["fs"], r["title"], r["to_baseline"], r["cpu_to_baseline"]))
    peak = max((r["peak_kib"] for r in results), default=0)
    print("  peak memory of every treecopy run: at most %.1f MiB (target < 8 MiB: %s)" %
          (peak / 1024.0, "met" if peak < 8 * 1024 else "NOT met"))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
