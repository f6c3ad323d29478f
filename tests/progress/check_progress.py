#!/usr/bin/env python3
"""The progress line of long file operations, on a pseudo-terminal and without one.

    check_progress.py --program build/treecopy [--wine]

Each run works on large files on tmpfs (/dev/shm, else the temporary directory) and is slowed
down by stopping and continuing the program many times a second (SIGSTOP, SIGCONT), and held
once its operation is under way, so that one file's operation lasts well over the second after
which the line shows. For a copy, a verifying
copy, a compare and an incremental update:

- without a terminal, nothing is written to standard error;
- with standard error on a terminal, the lines drawn there name the file, fit the terminal's
  width and carry the figures, the last one is erased, and standard output is byte for byte what
  it is without a terminal;
- with standard output on the same terminal, the screen at the end (rendered by a small
  terminal model) is exactly what the listing alone would show.

One more case reads small files from a share (the test file system, --faultfs) whose every
read waits: the workers copy them ahead, and the line follows the file the walk waits for.

Under Wine (--wine) only the first half runs: the program's standard error is a pipe there.
Exit 1 on any failure.
"""

import argparse
import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(os.path.dirname(os.path.dirname(HERE)), "cmake", "wine-run")
MIB = 1 << 20
failures = []
faultfs = None  # the share's file system (--faultfs), for the case that needs it


def fail(text):
    failures.append(text)


def bytes_read(pid):
    """The bytes the process has read so far (copy_file_range included), or None."""
    try:
        with open(f"/proc/{pid}/io") as info:
            for line in info:
                if line.startswith("rchar:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


class Throttle(threading.Thread):
    """Slows the process down: it runs for about a millisecond out of every six, and once it
    has read a few MiB (its file operation is under way) it is held for well over a second, so
    that the operation outlasts the second after which its line shows, on any machine."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid = pid
        self.stopping = threading.Event()

    def run(self):
        start = bytes_read(self.pid) or 0
        held = False
        while not self.stopping.is_set():
            try:
                os.kill(self.pid, signal.SIGCONT)
                time.sleep(0.001)
                os.kill(self.pid, signal.SIGSTOP)
                now = bytes_read(self.pid)
                if not held and now is not None and now - start >= 4 * MIB:
                    held = True
                    self.stopping.wait(1.3)
            except ProcessLookupError:
                return
            self.stopping.wait(0.005)

    def finish(self):
        self.stopping.set()
        self.join()
        try:
            os.kill(self.pid, signal.SIGCONT)
        except ProcessLookupError:
            pass


def run(command, cwd, stdout_tty=False, stderr_tty=False, columns=80, extra_env={}):
    """Runs the program; returns (exit status, standard output bytes, standard error bytes,
    terminal bytes). A terminal side's bytes appear in the terminal bytes only."""
    master = slave = None
    if stdout_tty or stderr_tty:
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        attrs = termios.tcgetattr(slave)
        attrs[1] |= termios.OPOST | termios.ONLCR
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
    env = dict(os.environ, LC_ALL="C.UTF-8", TERM="xterm", **extra_env)
    process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                               stdout=slave if stdout_tty else subprocess.PIPE,
                               stderr=slave if stderr_tty else subprocess.PIPE)
    if slave is not None:
        os.close(slave)
    throttler = Throttle(process.pid)
    throttler.start()
    streams = {}
    if not stdout_tty:
        streams[process.stdout.fileno()] = "out"
    if not stderr_tty:
        streams[process.stderr.fileno()] = "err"
    if master is not None:
        streams[master] = "tty"
    data = {"out": b"", "err": b"", "tty": b""}
    deadline = time.time() + 300
    while streams and time.time() < deadline:
        ready, _, _ = select.select(list(streams), [], [], 1.0)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # the terminal's other side is closed
                chunk = b""
            if chunk:
                data[streams[fd]] += chunk
            else:
                del streams[fd]
    throttler.finish()
    status = process.wait(timeout=60)
    if master is not None:
        os.close(master)
    for stream in (process.stdout, process.stderr):
        if stream is not None:
            stream.close()
    return status, data["out"], data["err"], data["tty"]


def render(data, columns, rows=24):
    """The screen a VT100-like terminal shows after `data`: printable text with autowrap,
    CR, LF, TAB, and ESC D, ESC M, ESC 7, ESC 8. Returns the rows with trailing blanks cut,
    without the empty rows at the end, and the cursor."""
    screen = [[" "] * columns for _ in range(rows)]
    row = col = 0
    saved = (0, 0)
    pending = False

    def down():
        nonlocal row
        if row == rows - 1:
            screen.pop(0)
            screen.append([" "] * columns)
        else:
            row += 1

    text = data.decode("utf-8", "replace")
    i = 0
    while i < len(text):
        c = text[i]
        i += 1
        if c == "\x1b":
            code = text[i] if i < len(text) else ""
            i += 1
            if code == "D":
                down()
            elif code == "M":
                if row == 0:
                    screen.pop()
                    screen.insert(0, [" "] * columns)
                else:
                    row -= 1
            elif code == "7":
                saved = (row, col)
            elif code == "8":
                row, col = saved
            else:
                fail(f"the terminal got an unknown control sequence ESC {code!r}")
            pending = False
        elif c == "\r":
            col = 0
            pending = False
        elif c == "\n":
            down()
            pending = False
        elif c == "\t":
            col = min(columns - 1, (col // 8 + 1) * 8)
        elif c == "\b":
            col = max(0, col - 1)
        else:
            if pending:
                col = 0
                down()
                pending = False
            screen[row][col] = c
            if col == columns - 1:
                pending = True
            else:
                col += 1
    lines = ["".join(line).rstrip() for line in screen]
    while lines and not lines[-1]:
        lines.pop()
    return lines, (row, col)


def progress_lines(data):
    """The progress lines drawn in a stream of terminal bytes."""
    text = re.sub(r"\x1b[DM78]", "\r", data.decode("utf-8", "replace"))
    return [part for part in text.replace("\n", "\r").split("\r") if " left" in part]


def write_file(path, size, seed):
    block = bytes((i * 7 + seed) & 0xFF for i in range(65536))
    with open(path, "wb") as out:
        for _ in range(size // len(block)):
            out.write(block)


class Case:
    def __init__(self, name, args, setup, columns=80, watched="big.bin", env={}, share=False):
        self.name = name
        self.args = args
        self.setup = setup
        self.columns = columns
        self.watched = watched
        self.env = env
        self.share = share  # the case mounts the share (work/share) in its setup


def unmount(work):
    point = os.path.join(work, "share")
    if os.path.ismount(point):
        for command in (["fusermount3", "-u", point], ["umount", point], ["umount", "-l", point]):
            if shutil.which(command[0]) and subprocess.run(
                    command, stderr=subprocess.DEVNULL).returncode == 0:
                return


def fresh(work, setup):
    unmount(work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    setup(work)


def setup_copy(work):
    os.makedirs(os.path.join(work, "src"))
    write_file(os.path.join(work, "src", "big.bin"), 64 * MIB, 1)


def setup_compare(work):
    setup_copy(work)
    os.makedirs(os.path.join(work, "dst"))
    shutil.copy2(os.path.join(work, "src", "big.bin"), os.path.join(work, "dst", "big.bin"))


def setup_grown(work):
    """A log of 64 MiB whose destination copy holds its first 16 MiB and is older."""
    setup_copy(work)
    os.makedirs(os.path.join(work, "dst"))
    with open(os.path.join(work, "src", "big.bin"), "rb") as source:
        head = source.read(16 * MIB)
    with open(os.path.join(work, "dst", "big.bin"), "wb") as out:
        out.write(head)
    os.utime(os.path.join(work, "dst", "big.bin"), (1_600_000_000, 1_600_000_000))


def setup_deep(work):
    deep = os.path.join(work, "src", "a-rather-long-directory-name", "and-another-one-below-it")
    os.makedirs(deep)
    write_file(os.path.join(deep, "Большой-файл.bin"), 64 * MIB, 2)


def setup_share(work):
    """Three files of 256 KiB on a share whose every read request waits 1.5 s."""
    os.makedirs(os.path.join(work, "backing", "src"))
    os.makedirs(os.path.join(work, "share"))
    for n in range(3):
        write_file(os.path.join(work, "backing", "src", f"small-{n}.bin"), 256 << 10, n)
    subprocess.run([faultfs, "--rule", "read * delay 1500000", "backing", "share"], cwd=work,
                   check=True)


CASES = [
    Case("copy", ["src", "dst"], setup_copy),
    Case("verifying copy", ["src", "dst", "/v"], setup_copy),
    Case("compare", ["src", "dst", "/c"], setup_compare),
    Case("incremental update", ["src", "dst", "/i"], setup_grown),
    Case("long name, narrow terminal", ["src", "dst", "/s"], setup_deep, columns=40,
         watched="файл.bin"),
    # (Narrower than the figures' full form: the worker's bytes may still be none when it shows.)
    Case("small files copied ahead", ["share\\src", "dst"], setup_share, columns=60,
         watched="small-", env={"TREECOPY_WORKERS": "4"}, share=True),
]


def check_case(case, program, work, under_wine):
    if case.share and (under_wine or faultfs is None):
        print(f"{case.name}: skipped (no share here)")
        return
    root = work
    command = (["sh", WINE_RUN] if under_wine else []) + [program] + case.args

    # Without a terminal: the listing alone, and nothing on standard error however long the
    # file takes. This run's listing is the one the terminal runs must match.
    fresh(root, case.setup)
    status, plain_out, plain_err, _ = run(command, root, extra_env=case.env)
    if plain_err or status != 0 or case.watched.encode() not in plain_out:
        fail(f"{case.name}: without a terminal: exit {status}, standard error {plain_err[:200]!r}, "
             f"standard output {plain_out[:300]!r}")
    if under_wine:
        print(f"{case.name}: nothing on standard error without a terminal")
        return

    # Standard error on a terminal, standard output to a pipe.
    fresh(root, case.setup)
    status, out, _, tty = run(command, root, stderr_tty=True, columns=case.columns,
                             extra_env=case.env)
    if out != plain_out or status != 0:
        fail(f"{case.name}: with standard error on a terminal, standard output differs "
             f"(exit {status}): {out!r} against {plain_out!r}")
    drawn = progress_lines(tty)
    if not drawn:
        fail(f"{case.name}: no progress line was drawn: {tty[:300]!r}")
    for text in drawn:
        if len(text) > case.columns - 1:
            fail(f"{case.name}: a line of {len(text)} characters on {case.columns} columns: {text!r}")
        if case.watched not in text or not re.search(r"\d+%", text):
            fail(f"{case.name}: the line lacks the name or the percent: {text!r}")
        if case.columns >= 80 and not re.search(r" of .* \d+%  .*/s  \d+:\d\d left$", text):
            fail(f"{case.name}: the line lacks a figure: {text!r}")
    screen, _ = render(tty, case.columns)
    if screen:
        fail(f"{case.name}: the progress line was not erased: {screen}")

    # Both on one terminal: the screen shows the listing alone.
    fresh(root, case.setup)
    status, _, _, tty = run(command, root, stdout_tty=True, stderr_tty=True, columns=case.columns,
                           extra_env=case.env)
    expected, _ = render(plain_out.replace(b"\n", b"\r\n"), case.columns)
    screen, _ = render(tty, case.columns)
    if screen != expected or status != 0:
        fail(f"{case.name}: the screen shows {screen} instead of {expected} (exit {status})")
    if not progress_lines(tty):
        fail(f"{case.name}: no progress line with both on the terminal")
    print(f"{case.name}: {len(drawn)} progress lines, the last {drawn[-1]!r}" if drawn else case.name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--faultfs", help="the share's file system, for the small-files case")
    args = parser.parse_args()
    global faultfs
    faultfs = os.path.abspath(args.faultfs) if args.faultfs else None
    program = os.path.abspath(args.program)
    base = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    work = tempfile.mkdtemp(prefix="tc-progress-", dir=base)
    try:
        for case in CASES:
            check_case(case, program, os.path.join(work, "run"), args.wine)
    finally:
        unmount(os.path.join(work, "run"))
        shutil.rmtree(work, ignore_errors=True)
    for text in failures:
        print("FAILED:", text)
    print(f"progress: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
