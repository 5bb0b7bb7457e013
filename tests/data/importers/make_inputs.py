#!/usr/bin/env python3
"""Writes the small importer test inputs in this folder.

Run from anywhere: python3 make_inputs.py. Needs only the Python standard
library and Ghostscript (gs) for the PDFs. The outputs are committed; rerun
only to change them (then regenerate the golden files with
FINDLARK_UPDATE_GOLDEN=1).
"""
import os
import plistlib
import struct
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---- plain text --------------------------------------------------------------
write("text_utf8.txt", "Grüße aus Köln\nzweite Zeile: naïve café\n".encode("utf-8"))
write("text_utf16le.txt", b"\xff\xfe" + "Snowman \u2603 and \U0001F600 face\n".encode("utf-16-le"))
write("text_utf16be.txt", b"\xfe\xff" + "Big-endian Ärger\n".encode("utf-16-be"))
write("text_cp1252.txt", "caf\u00e9 \u201cquoted\u201d \u20ac5\n".encode("cp1252"))
write("text_binary.txt", bytes(range(256)) * 4)

# ---- RTF ---------------------------------------------------------------------
write("rich.rtf", (
    r"{\rtf1\ansi\ansicpg1252\deff0"
    r"{\fonttbl{\f0\fswiss Helvetica;}{\f1\froman Times New Roman;}}"
    r"{\colortbl;\red255\green0\blue0;}"
    r"{\stylesheet{\s0 Normal;}}"
    r"{\*\generator Hidden Generator 1.0;}"
    r"{\info{\title Herd Report}{\author Ann Drover}{\keywords cattle, grazing; fences}{\operator nobody}}"
    "\n"
    r"\pard\f0 Caf\'e9 on the \b range\b0 .\par"
    "\n"
    r"Euro \u8364? sign, snowman \uc2\u9731**!\uc1\par"
    r"{\pict\pngblip 89504e470d0a1a0a}"
    r'Field: {\field{\*\fldinst HYPERLINK "http://x"}{\fldrslt linked text}}\par '

    r"Tab\tab end\line next\par}"
).encode("ascii"))
write("cyrillic.rtf", (
    r"{\rtf1\ansi\ansicpg1251{\fonttbl{\f0 Arial;}}\f0 \'cf\'f0\'e8\'e2\'e5\'f2 \'ec\'e8\'f0\par}"
).encode("ascii"))
# 100,000 nested groups, then text: must not exhaust the stack.
write("nested.rtf", b"{\\rtf1 " + b"{" * 100000 + b"deep" + b"}" * 100000 + b" done}")

# ---- HTML --------------------------------------------------------------------
write("page.html", (
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
    "<title> Pasture  Notes </title>\n"
    "<meta name=\"keywords\" content=\"cattle, hay\">\n"
    "<meta name=\"Author\" content=\"Bo Herder\">\n"
    "<meta name=\"description\" content=\" Where the herd grazes \">\n"
    "<style>body { color: red; }</style>\n"
    "<script>var hidden = 'secret';</script>\n"
    "</head><body>\n<h1>Spring   grazing</h1>\n"
    "<p>Grass is <b>green</b> in M\u00e4rz.</p>\n"
    "<ul><li>one</li><li>two</li></ul>\n"
    "</body></html>\n").encode("utf-8"))
write("latin1.html", (
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
    "<title>Cr\u00e8me</title></head><body><p>br\u00fbl\u00e9e</p></body></html>\n").encode("latin-1"))
# Declares UTF-8 but holds Latin-1 bytes.
write("wrong_charset.html", (
    "<html><head><meta charset=\"utf-8\"><title>Wrong</title></head>"
    "<body><p>Fa\u00e7ade and na\u00efve</p></body></html>\n").encode("latin-1"))
write("unknown_charset.html", (
    "<html><head><meta charset=\"x-no-such-charset\"><title>Odd</title></head>"
    "<body><p>still readable</p></body></html>\n").encode("ascii"))

# ---- property lists ------------------------------------------------------------
doc = {"Name": "Herd list", "Count": 3, "Animals": ["cow", "calf", {"Note": "bull \u00e9"}], "Flag": True}
write("xml.plist", plistlib.dumps(doc, fmt=plistlib.FMT_XML, sort_keys=True))
write("binary.plist", plistlib.dumps(doc, fmt=plistlib.FMT_BINARY, sort_keys=True))
write("malformed.plist", b'<?xml version="1.0" encoding="UTF-8"?>\n'
      b'<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
      b'<plist version="1.0"><dict><key>Name</key><string>unclosed</dict>\n')


# ---- images ---------------------------------------------------------------------
def tiff_block(make, model, width=None, height=None, big_endian=False, description=None, artist=None):
    """A TIFF header and IFD0 holding Make and Model (and optionally size,
    ImageDescription and Artist)."""
    e = ">" if big_endian else "<"
    entries = []
    extra = b""
    header_len = 8
    ascii_values = [(0x010F, make.encode() + b"\0"), (0x0110, model.encode() + b"\0")]
    if description is not None:
        ascii_values.append((0x010E, description.encode() + b"\0"))
    if artist is not None:
        ascii_values.append((0x013B, artist.encode() + b"\0"))
    numeric = []
    if width is not None:
        numeric = [(0x0100, width), (0x0101, height)]
    count = len(ascii_values) + len(numeric)
    ifd_len = 2 + count * 12 + 4
    data_off = header_len + ifd_len
    tags = []
    for tag, v in numeric:
        tags.append((tag, struct.pack(e + "HHI", tag, 4, 1) + struct.pack(e + "I", v)))
    for tag, v in ascii_values:
        if len(v) <= 4:
            tags.append((tag, struct.pack(e + "HHI", tag, 2, len(v)) + v.ljust(4, b"\0")))
        else:
            tags.append((tag, struct.pack(e + "HHII", tag, 2, len(v), data_off + len(extra))))
            extra += v
    tags.sort()
    ifd = struct.pack(e + "H", count) + b"".join(t for _, t in tags) + struct.pack(e + "I", 0)
    head = (b"MM" if big_endian else b"II") + struct.pack(e + "HI", 42, 8)
    return head + ifd + extra


XMP = ('<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>'
       '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
       '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/">'
       '<dc:subject><rdf:Bag><rdf:li>meadow</rdf:li><rdf:li>dairy cow</rdf:li></rdf:Bag></dc:subject>'
       '</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>').encode("utf-8")


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, exif=None, xmp=None, text=b"", after=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    raw = b"".join(b"\0" + b"\x80" * width for _ in range(height))
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
    if exif is not None:
        out += png_chunk(b"eXIf", exif)
    if xmp is not None:
        out += png_chunk(b"iTXt", b"XML:com.adobe.xmp\0\0\0\0\0" + xmp)
    return out + text + png_chunk(b"IDAT", zlib.compress(raw)) + after + png_chunk(b"IEND", b"")


write("camera.png", png(7, 5, exif=tiff_block("Pixel Farm", "PF 2", big_endian=True), xmp=XMP))


def jpeg(width, height, exif, xmp):
    seg = lambda marker, data: b"\xff" + bytes([marker]) + struct.pack(">H", len(data) + 2) + data
    out = b"\xff\xd8"
    out += seg(0xE1, b"Exif\0\0" + exif)
    out += seg(0xE1, b"http://ns.adobe.com/xap/1.0/\0" + xmp)
    out += seg(0xDB, b"\0" + bytes([1] * 64))
    out += seg(0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00")
    out += seg(0xC4, b"\x00" + bytes([0, 1] + [0] * 14) + b"\x00")
    out += seg(0xDA, b"\x01\x01\x00\x00\x3f\x00")
    return out + b"\x00" * 16 + b"\xff\xd9"


write("camera.jpg", jpeg(640, 480, tiff_block("Acme Optics", "Moo-200"), XMP))
write("camera.tiff", tiff_block("Tiff Works", "T1", width=33, height=22) + b"\0" * 16)
write("described.tiff", tiff_block("Tiff Works", "T1", width=2, height=2, description="Cows at dusk",
                                   artist="Di Herder") + b"\0" * 16)

# Text chunks of every kind, before and after the picture data: tEXt in
# Latin-1, zTXt, a compressed iTXt in UTF-8, one a program writes about
# itself, one of no registered meaning, and one whose stream is broken.
write("described.png", png(3, 2, text=(
    png_chunk(b"tEXt", b"Title\0Br\xfbl\xe9e herd") +
    png_chunk(b"zTXt", b"Description\0\0" + zlib.compress("Calves in the barn".encode())) +
    png_chunk(b"tEXt", b"Software\0Paint 3.1")),
    after=(png_chunk(b"iTXt", b"Comment\0\x01\x00de\0Kommentar\0" + zlib.compress("K\u00fche im Stall".encode())) +
           png_chunk(b"tEXt", b"Author\0Ed Drover") +
           png_chunk(b"tEXt", b"Caption\0Spring turnout") +
           png_chunk(b"zTXt", b"Disclaimer\0\0not zlib at all"))))

# XMP's language alternatives (x-default wins) and creators beside IPTC's
# caption and object name, which give way to them; the IPTC keywords join.
XMP_DESCRIBED = (
    '<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>'
    '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
    '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/">'
    '<dc:title><rdf:Alt><rdf:li xml:lang="de">Weide</rdf:li><rdf:li xml:lang="x-default">Pasture</rdf:li>'
    '</rdf:Alt></dc:title>'
    '<dc:description><rdf:Alt><rdf:li xml:lang="fr">Vaches au pr\u00e9</rdf:li></rdf:Alt></dc:description>'
    '<dc:creator><rdf:Seq><rdf:li>Ann Drover</rdf:li><rdf:li>Bo Herder</rdf:li></rdf:Seq></dc:creator>'
    '<dc:subject><rdf:Bag><rdf:li>meadow</rdf:li></rdf:Bag></dc:subject>'
    '</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>').encode("utf-8")


def iptc(datasets):
    """A Photoshop APP13 segment body holding IPTC record 2 datasets."""
    records = b"".join(b"\x1c\x02" + bytes([n]) + struct.pack(">H", len(v)) + v for n, v in datasets)
    if len(records) % 2:
        records += b"\0"
    return b"Photoshop 3.0\0" + b"8BIM\x04\x04\0\0" + struct.pack(">I", len(records)) + records


def jpeg_with(width, height, segments):
    seg = lambda marker, data: b"\xff" + bytes([marker]) + struct.pack(">H", len(data) + 2) + data
    out = b"\xff\xd8" + b"".join(seg(m, d) for m, d in segments)
    out += seg(0xDB, b"\0" + bytes([1] * 64))
    out += seg(0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00")
    out += seg(0xC4, b"\x00" + bytes([0, 1] + [0] * 14) + b"\x00")
    out += seg(0xDA, b"\x01\x01\x00\x00\x3f\x00")
    return out + b"\x00" * 16 + b"\xff\xd9"


write("described.jpg", jpeg_with(16, 8, [
    (0xE1, b"http://ns.adobe.com/xap/1.0/\0" + XMP_DESCRIBED),
    (0xED, iptc([(5, b"Object"), (120, b"Caption from IPTC"), (25, b"hay bales"), (25, b"meadow")]))]))
write("iptc-only.jpg", jpeg_with(16, 8, [
    (0xED, iptc([(5, b"Herd portrait"), (120, b"Six cows, one bull"), (80, b"Cy Rancher")]))]))
write("truncated.jpg", jpeg(640, 480, tiff_block("Acme Optics", "Moo-200"), XMP)[:40])


# ---- SVG ------------------------------------------------------------------------
write("drawing.svg", (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<svg xmlns="http://www.w3.org/2000/svg" xmlns:dc="http://purl.org/dc/elements/1.1/"\n'
    '     xmlns:cc="http://creativecommons.org/ns#" xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"\n'
    '     width="40" height="20">\n'
    '  <title>Barn plan</title>\n'
    '  <desc>Stalls and   the hay loft</desc>\n'
    '  <metadata><rdf:RDF><cc:Work>\n'
    '    <dc:title>Ignored, the element title wins</dc:title>\n'
    '    <dc:creator><cc:Agent><dc:title>Ann Drover</dc:title></cc:Agent></dc:creator>\n'
    '    <dc:subject><rdf:Bag><rdf:li>barn</rdf:li><rdf:li>cattle</rdf:li></rdf:Bag></dc:subject>\n'
    '  </cc:Work></rdf:RDF></metadata>\n'
    '  <style>.label { fill: red }</style>\n'
    '  <g><g><rect width="4" height="4"><title>Feed bin</title></rect>\n'
    '    <text x="1" y="10">Stall <tspan font-weight="bold">N\u00ba 3</tspan></text></g></g>\n'
    '  <text><textPath href="#p">along the fence</textPath></text>\n'
    '</svg>\n').encode("utf-8"))
# Entities that would grow a thousandfold each level if they were expanded.
write("entities.svg", (
    '<?xml version="1.0"?>\n<!DOCTYPE svg [\n <!ENTITY a "cowcowcowcowcowcowcowcowcowcow">\n' +
    "".join(' <!ENTITY %s "%s">\n' % (chr(ord("b") + i), ("&%s;" % chr(ord("a") + i)) * 10) for i in range(8)) +
    ']>\n<svg xmlns="http://www.w3.org/2000/svg"><text>herd &i;</text></svg>\n').encode("ascii"))
write("truncated.svg", b'<?xml version="1.0"?>\n<svg xmlns="http://www.w3.org/2000/svg"><text>cut')


# ---- PDF ------------------------------------------------------------------------
def gs_pdf(name, postscript, *extra):
    src = os.path.join(HERE, name + ".ps")
    with open(src, "w") as f:
        f.write(postscript)
    try:
        subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite",
                        "-dCompatibilityLevel=1.4", *extra, "-sOutputFile=" + os.path.join(HERE, name), src],
                       check=True)
    finally:
        os.remove(src)


PS = """%!PS
[ /Title (Grazing Guide) /Author (Cy Rancher) /Keywords (cattle, pasture; hay) /DOCINFO pdfmark
/Helvetica findfont 14 scalefont setfont
72 720 moveto (First page about cows) show
showpage
72 720 moveto (Second page about hay) show
showpage
"""
gs_pdf("doc.pdf", PS)
gs_pdf("encrypted.pdf", PS, "-sOwnerPassword=owner", "-sUserPassword=user")
with open(os.path.join(HERE, "doc.pdf"), "rb") as f:
    pdf = f.read()
write("truncated.pdf", pdf[: len(pdf) // 3])
