#!/usr/bin/env python3
"""Runs test programs as an ordinary user.

    run_as_user.py PROGRAM...

Started as root, it copies the programs into a scratch directory that belongs to user and group
65534 and runs each there as that user (setpriv), with its temporary files in that directory;
started as anyone else, it runs them as they are. The exit status is 1 when any program fails.
"""

import os
import shutil
import subprocess
import sys
import tempfile

ORDINARY_ID = 65534


def main(programs):
    if not programs:
        print(__doc__.strip())
        return 2
    if os.geteuid() != 0:
        failed = [p for p in programs if subprocess.run([p], stdin=subprocess.DEVNULL).returncode != 0]
        return 1 if failed else 0
    if shutil.which("setpriv") is None:
        print("no setpriv: cannot run as an ordinary user")
        return 1
    scratch = tempfile.mkdtemp(prefix="tc-unit-user-")
    try:
        os.chmod(scratch, 0o755)
        work = os.path.join(scratch, "tmp")
        os.mkdir(work)
        copies = []
        for program in programs:
            copy = os.path.join(scratch, os.path.basename(program))
            shutil.copy2(program, copy)
            copies.append(copy)
        for path in [work] + copies + [scratch]:
            os.chown(path, ORDINARY_ID, ORDINARY_ID)
        env = dict(os.environ, TMPDIR=work, HOME=scratch)
        failed = []
        for copy in copies:
            print(f"== {os.path.basename(copy)} as user {ORDINARY_ID}")
            sys.stdout.flush()
            command = ["setpriv", f"--reuid={ORDINARY_ID}", f"--regid={ORDINARY_ID}",
                       "--clear-groups", "--", copy]
            if subprocess.run(command, env=env, cwd=work, stdin=subprocess.DEVNULL).returncode != 0:
                failed.append(os.path.basename(copy))
        if failed:
            print("failed as an ordinary user: " + " ".join(failed))
        return 1 if failed else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
