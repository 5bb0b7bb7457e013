#!/usr/bin/env python3
"""Writes the ZIP importer's test inputs into this folder with Python's
zipfile module (fixed member dates, so each run writes the same bytes):
python3 make_archive_samples.py"""
import io
import os
import struct
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
DATE = (2024, 5, 14, 9, 30, 0)


def zip_bytes(members, method=zipfile.ZIP_DEFLATED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = method
            z.writestr(info, data)
    return out.getvalue()


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# Text members of several kinds and encodings, a web page, a folder entry,
# a picture and a document (names only), a member over the read bound, and
# a text file without an extension.
write("basic.zip", zip_bytes([
    ("notes/", b""),
    ("notes/readme.txt", "Shoveler notes from the café\n".encode()),
    ("notes/latin1.csv", "crème;brûlée\n".encode("cp1252")),
    ("notes/utf16.md", "\ufeff# Heading in UTF-16\n".encode("utf-16-le")),
    ("page.html", b"<html><head><script>var hidden;</script></head><body><p>Page words</p></body></html>"),
    ("photo.jpg", b"\xff\xd8\xff\xe0" + bytes(64)),
    ("report.pdf", b"%PDF-1.4 words inside a document"),
    ("big.txt", b"large " * ((1 << 20) // 6 + 1)),
    ("LICENSE", b"Permission is granted\n"),
    ("binary", bytes(range(256))),
]))

# Hostile: 64 MiB of zeros in 64 KiB (listed, never inflated); a member that
# declares 20 bytes and inflates to 4 MiB (listed, its text dropped); a
# zip inside (listed only); then an honest member still read.
bomb = zip_bytes([
    ("zeros.txt", bytes(64 << 20)),
    ("lying.txt", b"a" * (4 << 20)),
    ("inner.zip", zip_bytes([("deep.txt", b"deep words")])),
    ("after.txt", b"Words after the bomb"),
])
bomb = bytearray(bomb)
for sig, size_at in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
    at = bomb.find(sig + b"", 0)
    while at >= 0:
        name_at = at + (30 if sig == b"PK\x03\x04" else 46)
        if bomb[name_at:name_at + 9] == b"lying.txt":
            struct.pack_into("<I", bomb, at + size_at, 20)
        at = bomb.find(sig, at + 4)
write("bomb.zip", bytes(bomb))

whole = zip_bytes([("a.txt", b"words " * 100)])
write("truncated.zip", whole[:len(whole) - 30])  # the end of the directory cut off
