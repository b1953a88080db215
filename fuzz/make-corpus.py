#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_extract into fuzz/corpus/ (byte-identical on
every run). The first byte of a seed tells the harness what follows: 0x00 a
plain tar stream that the harness gzips itself, 0x01 a file handed to the
reader as it is. Hostile seeds aim at the sentinel tree that the harness
builds in /tmp/zarvo-fuzz beside its destination /tmp/zarvo-fuzz/dest, through
the extraction, the marker and the after-work (desktop entry, hand-overs)."""

import gzip
import io
import os
import tarfile

ROOT = "/tmp/zarvo-fuzz"
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def info(name, kind=tarfile.REGTYPE, data=b"", mode=0o644, link=""):
    t = tarfile.TarInfo(name)
    t.type = kind
    t.mode = mode
    t.mtime = 1600000000
    t.uid = t.gid = 0
    t.uname = t.gname = "root"
    t.linkname = link
    t.size = len(data)
    return t, data


def tar(entries, fmt=tarfile.PAX_FORMAT):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=fmt) as out:
        for t, data in entries:
            out.addfile(t, io.BytesIO(data) if data else None)
    # Keep the two end-of-archive blocks, not the padding of the last record:
    # short seeds mutate better.
    data = buf.getvalue()
    end = len(data)
    while end >= 512 and data[end - 512:end] == bytes(512):
        end -= 512
    return data[:end + 1024]


def directory(name, mode=0o755):
    return info(name, tarfile.DIRTYPE, mode=mode)


def symlink(name, target):
    return info(name, tarfile.SYMTYPE, mode=0o777, link=target)


def hardlink(name, target, data=b""):
    return info(name, tarfile.LNKTYPE, data=data, link=target)


def gz(data):
    buf = io.BytesIO()
    with gzip.GzipFile(fileobj=buf, mode="wb", mtime=0, compresslevel=6) as out:
        out.write(data)
    return buf.getvalue()


EVIL = b"overwritten\n"
ENTRY = b"[Desktop Entry]\nName=Corvane Zarvo\nTryExec=pesk\nExec=pesk %F\n"
PESK = info("bin/pesk", data=b"#!/bin/sh\n", mode=0o755)
deep = "/".join(["d" * 200] * 21) + "/f"

SEEDS = {
    "installation": tar([directory("bin/"), info("bin/pesk", data=b"#!/bin/sh\n", mode=0o755),
                         directory("lib/"), info("lib/libx.so", data=b"\x7fELF" + b"\0" * 60),
                         symlink("lib/libx.so.1", "libx.so"),
                         hardlink("bin/pesk2", "bin/pesk"), info(".installed")]),
    "installation-gzip": None,  # filled in below
    "ustar-names": tar([info("a" * 99, data=b"x"), directory("b" * 90 + "/"),
                        info("b" * 90 + "/" + "c" * 60, data=b"y")], tarfile.USTAR_FORMAT),
    "gnu-long-names": tar([info("l" * 300, data=b"z"), symlink("s" * 200, "t" * 200)],
                          tarfile.GNU_FORMAT),
    "empty-archive": tar([]),
    "latin1-name": tar([info("caf\xe9.txt".encode("latin-1").decode("utf-8", "surrogateescape"),
                             data=b"1")], tarfile.GNU_FORMAT),
    "absolute-name": tar([info(ROOT + "/outside/victim", data=EVIL)]),
    "parent-name": tar([info("../outside/victim", data=EVIL)]),
    "inner-parent-name": tar([directory("a/"), info("a/../../outside/victim", data=EVIL)]),
    "link-absolute-then-file": tar([symlink("l", ROOT + "/outside"), info("l/victim", data=EVIL)]),
    "link-relative-then-file": tar([symlink("l", "../outside"), info("l/victim", data=EVIL)]),
    "link-chain-then-file": tar([symlink("a", "b"), symlink("b", ROOT + "/outside"),
                                 info("a/victim", data=EVIL)]),
    "link-then-directory": tar([symlink("l", "../outside"), directory("l/etc/", mode=0o777)]),
    "hardlink-absolute": tar([hardlink("h", ROOT + "/outside/victim")]),
    "hardlink-absolute-data": tar([hardlink("h", ROOT + "/outside/victim", EVIL)]),
    "hardlink-parent": tar([hardlink("h", "../outside/victim", EVIL)]),
    "hardlink-working-directory": tar([hardlink("h", "outside/victim", EVIL),
                                       hardlink("i", "decoy")]),
    "hardlink-through-link": tar([symlink("l", ROOT + "/outside"), hardlink("h", "l/victim", EVIL)]),
    "device-and-fifo": tar([info("null", tarfile.CHRTYPE, mode=0o666),
                            info("disk", tarfile.BLKTYPE, mode=0o666),
                            info("pipe", tarfile.FIFOTYPE, mode=0o666)]),
    "setuid": tar([info("tool", data=b"#!/bin/sh\n", mode=0o4755),
                   info("group-tool", data=b"#!/bin/sh\n", mode=0o2755)]),
    "deep-path": tar([info(deep, data=b"deep")]),
    "directory-modes": tar([directory("ro/", mode=0o500), info("ro/f", data=b"x", mode=0o400),
                            directory("./", mode=0o700)]),
    "desktop-entry": tar([PESK, directory("icons/"), info("icons/corvane-zarvo.desktop", data=ENTRY),
                          info("lumo-mime.xml", data=b"<mime-info/>\n"),
                          info("post-install.sh", data=b"#!/bin/sh\n", mode=0o755)]),
    "marker-link": tar([PESK, symlink(".installed", ROOT + "/outside/victim")]),
    "marker-link-dangling": tar([PESK, symlink(".installed", ROOT + "/outside/new")]),
    "desktop-entry-link": tar([PESK, directory("icons/"),
                               symlink("icons/corvane-zarvo.desktop", ROOT + "/outside/victim")]),
    "icons-link": tar([PESK, symlink("icons", ROOT + "/outside")]),
    "hand-over-links": tar([PESK, symlink("lumo-mime.xml", ROOT + "/outside/victim"),
                            symlink("post-install.sh", ROOT + "/outside/tool")]),
}
SEEDS["installation-gzip"] = gz(SEEDS["installation"])
truncated = gz(SEEDS["installation"])
SEEDS["truncated-gzip"] = truncated[: len(truncated) // 2]
SEEDS["not-an-archive"] = b"this is not a tar archive\n" * 20

RAW = {"installation-gzip", "truncated-gzip", "not-an-archive"}

os.makedirs(OUT, exist_ok=True)
for old in os.listdir(OUT):
    os.remove(os.path.join(OUT, old))
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write((b"\x01" if name in RAW else b"\x00") + data)
