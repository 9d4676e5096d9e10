#!/usr/bin/env python3
"""Writes the tarballs that the end-to-end installers are packed from.

usage: make_tarballs.py PROBE_EXE OUT_DIR

Each tarball is made the way its name says: by GNU tar (ustar and pax
formats), by Python's tarfile (pax), or by tarfile and then damaged on
purpose. The probe is the first member wherever a setup program should run.
"""
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

README = b"Companion file of the test product.\n" * 20


def member(name, data, kind=tarfile.REGTYPE, mtime=1700000000):
    info = tarfile.TarInfo(name)
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    info.type = kind
    # A fractional time makes the pax writer add a "././@PaxHeader" entry.
    info.mtime = mtime
    return info, (io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def write_tarfile(path, members, fmt=tarfile.USTAR_FORMAT, encoding="utf-8"):
    with tarfile.open(path, "w", format=fmt, encoding=encoding) as tar:
        for name, data, *rest in members:
            info, stream = member(name, data, *rest)
            tar.addfile(info, stream)


def gnu_tar(path, probe, fmt, *options):
    # GNU tar reads the files from a directory of their own, in this order.
    with tempfile.TemporaryDirectory() as staging:
        shutil.copy(probe, os.path.join(staging, "setup.exe"))
        with open(os.path.join(staging, "readme.txt"), "wb") as f:
            f.write(README)
        subprocess.run(["tar", "--format=" + fmt, "--owner=0", "--group=0", "--mtime=@1700000000",
                        *options, "-cf", path, "-C", staging, "setup.exe", "readme.txt"], check=True)


def damage(path, offset, replacement=None, truncate=None):
    with open(path, "r+b") as f:
        if replacement is not None:
            f.seek(offset)
            f.write(replacement)
        if truncate is not None:
            f.truncate(truncate)


def main(probe_path, out):
    os.makedirs(out, exist_ok=True)
    probe = open(probe_path, "rb").read()
    p = lambda name: os.path.join(out, name)

    gnu_tar(p("gnu-ustar.tar"), probe_path, "ustar")
    # GNU tar names its extended headers "./PaxHeaders/<file>": members in a
    # directory, which the stub cannot extract.
    gnu_tar(p("gnu-pax.tar"), probe_path, "pax")
    gnu_tar(p("gnu-pax-flat.tar"), probe_path, "pax", "--pax-option=exthdr.name=././@PaxHeader")
    write_tarfile(p("python-pax.tar"),
                  [("setup.exe", probe, tarfile.REGTYPE, 1700000000.25),
                   ("readme.txt", README, tarfile.REGTYPE, 1700000000.5)], tarfile.PAX_FORMAT)

    # Which member becomes the setup program.
    write_tarfile(p("two-exes.tar"), [("first.exe", probe), ("second.exe", probe)])
    write_tarfile(p("exe-casing.tar"), [(".exe", probe), ("a.exe.txt", probe), ("Setup.EXE", probe),
                                        ("later.exe", probe)])
    write_tarfile(p("not-a-program.tar"), [("setup.exe", b"MZ but not a program\n"), ("readme.txt", README)])
    write_tarfile(p("no-exe.tar"), [("readme.txt", README)])

    # Damaged archives: each keeps the probe first so extraction gets going.
    good = [("setup.exe", probe), ("readme.txt", README)]
    write_tarfile(p("bad-magic.tar"), good)
    readme_header = 512 + (len(probe) + 511) // 512 * 512
    damage(p("bad-magic.tar"), readme_header + 257, b"xstar")
    write_tarfile(p("header-cut.tar"), good)
    damage(p("header-cut.tar"), 0, truncate=readme_header + 300)
    write_tarfile(p("data-cut.tar"), good)
    damage(p("data-cut.tar"), 0, truncate=readme_header + 512 + 100)
    write_tarfile(p("refused-name.tar"), [("setup.exe", probe), ("bad?name.txt", README)])
    write_tarfile(p("directory-member.tar"), [("setup.exe", probe), ("dir/", b"", tarfile.DIRTYPE)])
    write_tarfile(p("member-in-directory.tar"), [("setup.exe", probe), ("dir/readme.txt", README)])
    for tag, name in [("dotdot", "../escaped.txt"), ("drive", "C:escaped.txt"),
                      ("leading-slash", "/escaped.txt"), ("leading-backslash", "\\escaped.txt"),
                      ("device-nul", "NUL"), ("device-con", "con.txt")]:
        write_tarfile(p("escape-" + tag + ".tar"), [("setup.exe", probe), (name, README)])
    # COM with a superscript one, as code page 1252 writes it (byte B9): a device once widened.
    write_tarfile(p("escape-device-com-superscript.tar"),
                  [("setup.exe", probe), ("COM\u00b9.txt", README)], encoding="latin-1")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
