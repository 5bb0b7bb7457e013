#!/bin/sh
# Writes the Word 97-2003 importer's test inputs into this folder: basic.doc
# is LibreOffice's conversion of ../office/basic.odt (LibreOffice 7.4,
# `soffice --headless --convert-to "doc:MS Word 97"`, committed as made;
# LibreOffice is not a build dependency); the others are damaged copies of it.
set -e
soffice --headless --convert-to "doc:MS Word 97" --outdir . ../office/basic.odt >/dev/null
python3 - <<'PY'
import struct
d = bytearray(open("basic.doc", "rb").read())
# The WordDocument stream's File Information Block starts a sector with 0xA5EC.
fib = next(i for i in range(512, len(d), 512) if d[i:i + 2] == b"\xec\xa5")
e = bytearray(d); e[fib + 0x0B] |= 0x01                     # fEncrypted
open("encrypted.doc", "wb").write(e)
open("truncated.doc", "wb").write(d[:len(d) // 3])          # the OLE container cut short
c = bytearray(d); struct.pack_into("<I", c, fib + 0x1A6, 0x7FFFFFFF)  # lcbClx past the table stream
open("bad_piece_table.doc", "wb").write(c)
PY
