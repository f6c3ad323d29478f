#!/usr/bin/env python3
"""Checks what a build installs and packages.

    check_package.py --build build [--windows] [--sanitized]

POSIX build: `cmake --install` into a scratch DESTDIR puts exactly bin/treecopy and
share/man/man1/treecopy.1 there; the installed program runs; man renders the installed page
without warnings; cpack makes a Debian package holding the same two files whose dependencies are
the C and C++ runtime alone (and, in a sanitizer build, the sanitizer runtimes).

Windows build (--windows): the install puts treecopy.exe, README.txt and treecopy.txt (the manual
as text, CR LF line ends) in one folder; cpack makes a zip of that folder; the zipped program runs
under Wine.
Exit 1 on any failure, listing them all.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
failures = []


def fail(text):
    failures.append(text)


def run(command, **kwargs):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, **kwargs)


def files_below(root):
    found = []
    for directory, _, names in os.walk(root):
        for name in names:
            found.append(os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/"))
    return sorted(found)


def check_usage_output(result, where):
    out = result.stdout.decode("latin-1").replace("\r", "")
    if result.returncode != 0 or not out.startswith("treecopy Version 1.02\nusage: treecopy "):
        fail(f"{where} '/?' gave exit {result.returncode}: {out[:200]!r} {result.stderr[:300]!r}")


def install_posix(build, scratch):
    destdir = os.path.join(scratch, "destdir")
    result = run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=destdir))
    if result.returncode != 0:
        fail(f"cmake --install failed: {result.stderr.decode()}")
        return
    files = files_below(destdir)
    if files != ["usr/bin/treecopy", "usr/share/man/man1/treecopy.1"]:
        fail(f"installed files: {files}")
        return
    program = os.path.join(destdir, "usr/bin/treecopy")
    if not os.access(program, os.X_OK):
        fail("the installed program is not executable")
    check_usage_output(run([program, "/?"]), "the installed program")
    page = os.path.join(destdir, "usr/share/man/man1/treecopy.1")
    with open(page, "rb") as a, open(os.path.join(SOURCE, "doc", "treecopy.1"), "rb") as b:
        if a.read() != b.read():
            fail("the installed manual page differs from doc/treecopy.1")
    # As a user reaches it: by name, through the installed tree's manual path.
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MANPATH=os.path.join(destdir, "usr/share/man"))
    for command in (["man", "--warnings=w", "-l", page], ["man", "--warnings=w", "treecopy"]):
        result = run(command, env=env)
        text = re.sub(r".\x08", "", result.stdout.decode("utf-8", "replace"))
        if result.returncode != 0 or result.stderr.strip() or "EXIT STATUS" not in text:
            fail(f"{' '.join(command[:3])}: exit {result.returncode}: {result.stderr.decode()}")


def package_posix(build, scratch, sanitized):
    out = os.path.join(scratch, "deb")
    result = run(["cpack", "-G", "DEB", "-B", out, "--config", os.path.join(build, "CPackConfig.cmake")])
    debs = [name for name in os.listdir(out) if name.endswith(".deb")] if os.path.isdir(out) else []
    if result.returncode != 0 or len(debs) != 1:
        fail(f"cpack -G DEB: exit {result.returncode}, packages {debs}: {result.stdout.decode()[-1500:]}"
             f"{result.stderr.decode()[-1500:]}")
        return
    deb = os.path.join(out, debs[0])
    fields = {}
    for field in ("Package", "Version", "Architecture", "Depends", "Maintainer", "Description"):
        fields[field] = run(["dpkg-deb", "-f", deb, field]).stdout.decode().strip()
    if fields["Package"] != "treecopy" or fields["Version"] != "1.02" or not fields["Description"]:
        fail(f"package fields: {fields}")
    arch = run(["dpkg", "--print-architecture"]).stdout.decode().strip()
    if fields["Architecture"] != arch:
        fail(f"package architecture {fields['Architecture']}, not {arch}")
    runtime = {"libc6", "libgcc-s1", "libstdc++6"}
    depends = {re.split(r"[ (]", item.strip())[0] for item in fields["Depends"].split(",") if item.strip()}
    allowed = set(runtime)
    if sanitized:
        allowed |= {name for name in depends if re.match(r"lib(asan|ubsan)\d+$", name)}
    if not depends or not depends <= allowed or "libc6" not in depends:
        fail(f"package dependencies: {fields['Depends']!r}")
    listing = run(["dpkg-deb", "-c", deb]).stdout.decode()
    contents = sorted(line.split()[-1] for line in listing.splitlines() if not line.startswith("d"))
    if contents != ["./usr/bin/treecopy", "./usr/share/man/man1/treecopy.1"]:
        fail(f"package contents: {contents}")
    unpacked = os.path.join(scratch, "unpacked")
    run(["dpkg-deb", "-x", deb, unpacked])
    check_usage_output(run([os.path.join(unpacked, "usr/bin/treecopy"), "/?"]), "the packaged program")


def check_windows_folder(folder, where, wine_run):
    names = sorted(os.listdir(folder))
    if names != ["README.txt", "treecopy.exe", "treecopy.txt"]:
        fail(f"{where}: files {names}")
        return
    with open(os.path.join(folder, "treecopy.txt"), "rb") as manual:
        text = manual.read()
    if b"EXIT STATUS" not in text or b"user.DOSATTRIB" not in text or b"\x08" in text:
        fail(f"{where}: treecopy.txt is not the manual as plain text")
    if text.count(b"\n") != text.count(b"\r\n") or text.count(b"\n") < 100:
        fail(f"{where}: treecopy.txt does not end its lines with CR LF")
    with open(os.path.join(folder, "README.txt"), "rb") as readme:
        text = readme.read()
    if not text.startswith(b"# treecopy\r\n") or text.count(b"\n") != text.count(b"\r\n"):
        fail(f"{where}: README.txt is not the README with CR LF line ends")
    check_usage_output(run(["sh", wine_run, os.path.join(folder, "treecopy.exe"), "/?"]), where)


def install_windows(build, scratch):
    destdir = os.path.join(scratch, "destdir")
    result = run(["cmake", "--install", build, "--prefix", "/treecopy"], env=dict(os.environ, DESTDIR=destdir))
    if result.returncode != 0:
        fail(f"cmake --install failed: {result.stderr.decode()}")
        return
    check_windows_folder(os.path.join(destdir, "treecopy"), "installed folder",
                         os.path.join(SOURCE, "cmake", "wine-run"))


def package_windows(build, scratch):
    out = os.path.join(scratch, "zip")
    result = run(["cpack", "-G", "ZIP", "-B", out, "--config", os.path.join(build, "CPackConfig.cmake")])
    zips = [name for name in os.listdir(out) if name.endswith(".zip")] if os.path.isdir(out) else []
    if result.returncode != 0 or zips != ["treecopy-1.02-win64.zip"]:
        fail(f"cpack -G ZIP: exit {result.returncode}, packages {zips}: {result.stderr.decode()[-1500:]}")
        return
    with zipfile.ZipFile(os.path.join(out, zips[0])) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
        expected = ["treecopy-1.02-win64/" + name for name in ("README.txt", "treecopy.exe", "treecopy.txt")]
        if names != expected:
            fail(f"zip contents: {names}")
            return
        unpacked = os.path.join(scratch, "unzipped")
        archive.extractall(unpacked)
    check_windows_folder(os.path.join(unpacked, "treecopy-1.02-win64"), "zip",
                         os.path.join(SOURCE, "cmake", "wine-run"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--sanitized", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    needed = ["cmake", "cpack"] + ([] if args.windows else ["man", "groff", "dpkg-deb", "dpkg-shlibdeps", "file"])
    missing = [tool for tool in needed if shutil.which(tool) is None]
    if missing:
        print(f"missing tools: {' '.join(missing)} (./test.sh installs them)")
        return 1
    scratch = tempfile.mkdtemp(prefix="tc-package-")
    try:
        if args.windows:
            install_windows(build, scratch)
            package_windows(build, scratch)
        else:
            install_posix(build, scratch)
            package_posix(build, scratch, args.sanitized)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for text in failures:
        print("FAILED:", text)
    print(f"package: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
