#!/usr/bin/env python3
"""Checks the manual page against the program it describes.

    check_manual.py --program build/treecopy --manual doc/treecopy.1

- man renders the page without a single warning;
- its synopsis is the program's usage line, and every option and suboption of the usage text has
  an entry of its own;
- every message the manual quotes is one the program prints;
- the examples for a POSIX shell run as written, in order, in a scratch directory holding a tree
  named src, each with exit status 0 and no error line.
Exit 1 on any failure, listing them all.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def fail(text):
    failures.append(text)


def render(manual, width=80):
    """The page as man shows it (plain text), and what man and groff said on standard error."""
    env = dict(os.environ, MANWIDTH=str(width), LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING="")
    result = subprocess.run(["man", "--warnings=w", "-l", manual], env=env,
                            stdin=subprocess.DEVNULL, capture_output=True)
    text = result.stdout.decode("utf-8", "replace")
    # Without a terminal man may still emit backspace overstriking: drop it.
    text = re.sub(r".\x08", "", text)
    return result.returncode, text, result.stderr.decode("utf-8", "replace")


def run_program(program, args, cwd):
    return subprocess.run([program] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                          capture_output=True, env=dict(os.environ, LC_ALL="C.UTF-8", TZ="UTC"))


def roff_to_text(line):
    """One line of the example block as the shell reads it."""
    return line.replace(r"\(aq", "'").replace(r"\e", "\\").replace(r"\-", "-").replace(r"\&", "")


def check_rendering(manual):
    for width in (80, 60):
        code, text, errors = render(manual, width)
        if code != 0 or errors.strip():
            fail(f"man -l at width {width}: exit {code}, messages:\n{errors}")
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "SUBOPTIONS", "SELECTION",
                        "LIST FILES", "OUTPUT", "EXIT STATUS", "EXAMPLES"):
            if not re.search(rf"^{heading}\b", text, re.M):
                fail(f"the rendered page has no section {heading}")


def check_usage(program, manual, scratch):
    usage = run_program(program, ["/?"], scratch).stdout.decode()
    _, page, _ = render(manual)
    # The first two usage lines are the synopsis, without the angle brackets.
    synopsis = [re.sub(r"\s+", " ", line.replace("usage:", "").replace("<", "").replace(">", "")).strip()
                for line in usage.splitlines()[1:3]]
    rendered = re.sub(r"\s+", " ", page.split("SYNOPSIS", 1)[1].split("DESCRIPTION", 1)[0])
    for line in synopsis:
        if line not in rendered:
            fail(f"the synopsis lacks the usage line: {line}")
    # Every option of the usage text has its own entry (a tag line in roff).
    source = open(manual, encoding="utf-8").read()
    tags = set(re.findall(r"^\.B[IR]? (/\+?[A-Za-z?]+)", source, re.M))
    for option in sorted(set(re.findall(r"(/\+?[A-Za-z]+)", usage.split("option:", 1)[1]))):
        if option == "/del":
            wanted = "/del"
        else:
            wanted = option[:3] if option.startswith("/+") else option[:2]
        if wanted not in tags:
            fail(f"no entry for the option {wanted}")


def check_messages(program, manual, scratch):
    """The fixed messages the manual quotes, produced by the program itself."""
    os.makedirs(os.path.join(scratch, "m", "d"))
    with open(os.path.join(scratch, "m", "f"), "w") as out:
        out.write("x")
    runs = {
        "conflict options.": (["m", "x", "/m", "/c"], 144),
        " :file not found.": (["m\\none", "x"], 160),
        "Source and destination are the same path.": (["m", "m\\d"], 240),
        "Destination must be a path.": (["m\\d", "m\\f"], 208),
        " :syntax error": (["m|"], 128),
        " :Unknown option": (["m", "/k"], 144),
        " :Unknown suboption": (["m", "/+k"], 144),
        " :not a path below the source": (["m", "*.c", "..\\m", "x"], 128),
    }
    _, page, _ = render(manual, 200)
    for message, (args, status) in runs.items():
        result = run_program(program, args, os.path.join(scratch))
        out = result.stdout.decode()
        if message not in out or result.returncode != status:
            fail(f"{args} printed {out!r} with exit {result.returncode}, not {message!r} and {status}")
        if message.strip() not in page:
            fail(f"the manual does not quote the message {message.strip()!r}")
        if f"\n       {status} " not in page:
            fail(f"the exit status table lacks {status}")


def check_examples(program, manual, scratch):
    source = open(manual, encoding="utf-8").read()
    block = source.split('.\\" posix-examples-begin\n', 1)[1].split('.\\" posix-examples-end', 1)[0]
    lines = [roff_to_text(line) for line in block.splitlines() if line.strip()]
    if len(lines) < 8:
        fail(f"only {len(lines)} POSIX examples found")
    work = os.path.join(scratch, "examples")
    for path, data in {"src/a.c": "int a;\n", "src/a.h": "extern int a;\n", "src/old.bak": "b",
                       "src/x.tmp": "t", "src/sub/s.txt": "s\n", "src/app.log": "log line\n" * 5000}.items():
        os.makedirs(os.path.dirname(os.path.join(work, path)), exist_ok=True)
        with open(os.path.join(work, path), "w") as out:
            out.write(data)
    with open(os.path.join(work, "list.txt"), "w") as out:
        out.write("a.c\nsub\n")
    env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(program)) + os.pathsep + os.environ["PATH"],
               LC_ALL="C.UTF-8")
    for line in lines:
        if line.startswith("#"):
            continue
        if "/i" in line.split("#")[0]:
            # The log has grown since it was copied: the update appends only its tail.
            with open(os.path.join(work, "src", "app.log"), "a") as out:
                out.write("one more line\n")
            later = os.stat(os.path.join(work, "src", "app.log")).st_mtime + 10
            os.utime(os.path.join(work, "src", "app.log"), (later, later))
        result = subprocess.run(["sh", "-c", line], cwd=work, env=env, stdin=subprocess.DEVNULL,
                                capture_output=True)
        out = result.stdout.decode()
        if result.returncode != 0 or ":error(" in out or result.stderr:
            fail(f"the example {line!r} ended with {result.returncode}:\n{out}{result.stderr.decode()}")
        if "/i" in line.split("#")[0] and "\t*\n" not in out:
            fail(f"the incremental example did not append: {out!r}")
        if "'/?'" in line and not out.startswith("treecopy Version"):
            fail(f"the usage example printed {out!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--manual", required=True)
    args = parser.parse_args()
    args.program = os.path.abspath(args.program)
    if shutil.which("man") is None or shutil.which("groff") is None:
        print("man and groff are needed (apt-get install man-db groff)")
        return 1
    scratch = tempfile.mkdtemp(prefix="tc-manual-")
    try:
        check_rendering(args.manual)
        check_usage(args.program, args.manual, scratch)
        check_messages(args.program, args.manual, scratch)
        check_examples(args.program, args.manual, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for text in failures:
        print("FAILED:", text)
    print(f"manual: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
