#!/bin/sh
# Writes the Word 97-2003 importer's test inputs into this folder: basic.doc
# is LibreOffice's conversion of ../office/basic.odt and tracked.doc of a
# paragraph with a tracked deletion (LibreOffice 7.4, `soffice --headless
# --convert-to "doc:MS Word 97"`, committed as made; LibreOffice is not a
# build dependency); the others are damaged copies of basic.doc.
set -e
soffice --headless --convert-to "doc:MS Word 97" --outdir . ../office/basic.odt >/dev/null
# tracked.doc: a paragraph with a deletion made with revision marking on.
cat > tracked.fodt <<'FODT'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:tracked-changes text:track-changes="true"><text:changed-region text:id="ct1"><text:deletion><office:change-info><dc:creator>Ann</dc:creator><dc:date>2024-05-14T09:30:00</dc:date></office:change-info><text:p>struck words</text:p></text:deletion></text:changed-region></text:tracked-changes>
<text:p>Kept text <text:change text:change-id="ct1"/>after the change</text:p>
</office:text></office:body></office:document>
FODT
soffice --headless --convert-to "doc:MS Word 97" --outdir . tracked.fodt >/dev/null
rm tracked.fodt
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
