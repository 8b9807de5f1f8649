#!/usr/bin/python3
"""Writes a zip archive member by member, the hostile kinds included, for the fetch tests.

    make_archive.py OUT.zip MEMBER...

Each MEMBER is KIND:NAME[:VALUE], the name stored exactly as given:
    guide:NAME:ZIP   the "xmltv.xml" member of another archive
    text:NAME:TEXT   a regular file holding TEXT
    link:NAME:TARGET a symbolic link to TARGET
    dir:NAME         a folder
    big:NAME:MB      a well-formed document of MB megabytes whose root is not "tv"
"""
import sys
import zipfile


def info(name, mode):
    i = zipfile.ZipInfo(name, date_time=(2026, 12, 7, 12, 0, 0))
    i.create_system = 3  # Unix, so the mode below counts
    i.external_attr = mode << 16
    i.compress_type = zipfile.ZIP_DEFLATED
    return i


def main():
    with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, allowZip64=True) as z:
        for member in sys.argv[2:]:
            kind, name, value = (member.split(":", 2) + [""])[:3]
            if kind == "guide":
                with zipfile.ZipFile(value) as source:
                    z.writestr(info(name, 0o100644), source.read("xmltv.xml"))
            elif kind == "text":
                z.writestr(info(name, 0o100755), value)
            elif kind == "link":
                z.writestr(info(name, 0o120777), value)
            elif kind == "dir":
                z.writestr(info(name.rstrip("/") + "/", 0o040755 | 0x10), b"")
            elif kind == "big":
                line = b"<x>" + b"y" * 1000 + b"</x>\n"
                with z.open(info(name, 0o100644), "w", force_zip64=True) as f:
                    f.write(b"<?xml version='1.0'?>\n<notv>\n")
                    for _ in range(int(value) * 1024 * 1024 // len(line)):
                        f.write(line)
                    f.write(b"</notv>\n")
            else:
                sys.exit("unknown kind: " + kind)


main()
