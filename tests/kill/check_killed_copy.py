#!/usr/bin/env python3
"""A copy killed halfway leaves the old destination whole.

    check_killed_copy.py --child build/copy_child [--wine]

copy_child copies a large source over an existing destination with the file-system layer's
copy and stops once part of the data is written; this script then kills it (SIGKILL; under
Wine the Wine process itself, as TerminateProcess would end it) and checks that the destination
still holds its old contents and that nothing else visible is left. Natively it runs on the
temporary directory's file system and on tmpfs (/dev/shm) when there is one. A copy that is not
killed must replace the destination. Exit 1 on any failure.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(os.path.dirname(os.path.dirname(HERE)), "cmake", "wine-run")
SIZE = 64 << 20
PAUSE_AT = 16 << 20


def program_path(path, under_wine):
    text = os.path.abspath(path).replace("/", "\\")
    return "Z:" + text if under_wine else text


def start_child(child, under_wine, source, destination, marker, pause_at):
    # The marker is made with the C library's own call: a path of the system the program runs on.
    marker = program_path(marker, True) if under_wine else marker
    args = [program_path(p, under_wine) for p in (source, destination)] + [marker, str(pause_at)]
    command = (["sh", WINE_RUN] if under_wine else []) + [child] + args
    # Wine keeps the process when its exec chain ends in the Windows program: the pid is it.
    return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def visible_leftovers(directory, known):
    return sorted(name for name in os.listdir(directory)
                  if name not in known and not name.startswith("."))


def check_in(base, child, under_wine):
    failures = []
    work = tempfile.mkdtemp(prefix="tc-kill-", dir=base)
    try:
        source = os.path.join(work, "big.bin")
        destination = os.path.join(work, "dest.bin")
        marker = os.path.join(work, "marker")
        new_data = bytes(range(256)) * (SIZE // 256)
        old_data = b"the old destination, which must survive\n" * 1000
        with open(source, "wb") as out:
            out.write(new_data)
        with open(destination, "wb") as out:
            out.write(old_data)

        process = start_child(child, under_wine, source, destination, marker, PAUSE_AT)
        deadline = time.time() + 120
        while not os.path.exists(marker) and process.poll() is None and time.time() < deadline:
            time.sleep(0.05)
        if not os.path.exists(marker):
            process.kill()
            out, err = process.communicate()
            return [f"{base}: the copy never reached the pause (exit {process.returncode}): {out!r} {err!r}"]
        os.kill(process.pid, signal.SIGKILL)
        process.communicate()
        if under_wine:
            time.sleep(1)  # the Wine server lets go of the dead process's files
        with open(destination, "rb") as copy:
            if copy.read() != old_data:
                failures.append(f"{base}: the killed copy changed the destination")
        leftovers = visible_leftovers(work, {"big.bin", "dest.bin", "marker"})
        if leftovers:
            failures.append(f"{base}: the killed copy left visible files: {leftovers}")
        hidden = sorted(name for name in os.listdir(work) if name.startswith("."))
        print(f"{base}: killed at {PAUSE_AT} of {SIZE} bytes; destination whole; hidden leftovers: {hidden}")

        # Not killed, the same copy replaces the destination.
        process = start_child(child, under_wine, source, destination, marker + "2", -1)
        out, err = process.communicate(timeout=300)
        with open(destination, "rb") as copy:
            if process.returncode != 0 or copy.read() != new_data:
                failures.append(f"{base}: the copy to the end failed (exit {process.returncode}): {out!r} {err!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--child", required=True)
    parser.add_argument("--wine", action="store_true")
    args = parser.parse_args()
    child = os.path.abspath(args.child)
    bases = [tempfile.gettempdir()]
    if not args.wine and os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        bases.append("/dev/shm")
    failures = []
    for base in bases:
        failures += check_in(base, child, args.wine)
    for text in failures:
        print("FAILED:", text)
    print(f"killed copy: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
