#!/usr/bin/env python3
"""Writes the office and iWork test inputs beside this script.

Run it again after changing a sample; the output is byte-for-byte
reproducible (fixed timestamps, fixed encryption header). Zips are written by
hand rather than with zipfile so that the hostile ones (lying sizes, a
private compression method, ZipCrypto members) can be made too. IWA data
uses literal-only snappy, which every snappy decoder accepts.
"""
import os
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DOS_TIME, DOS_DATE = 0, (2020 - 1980) << 9 | 1 << 5 | 1


# ---------------------------------------------------------------- zip writer

def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class ZipCrypto:
    """Traditional PKWARE encryption (what `zip -e` writes)."""

    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for c in password:
            self._update(c)

    @staticmethod
    def _crc(k, b):
        return zlib.crc32(bytes([b]), k ^ 0xFFFFFFFF) ^ 0xFFFFFFFF

    def _update(self, b):
        self.k[0] = self._crc(self.k[0], b)
        self.k[1] = ((self.k[1] + (self.k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        self.k[2] = self._crc(self.k[2], self.k[1] >> 24)

    def encrypt(self, data):
        out = bytearray()
        for b in data:
            t = (self.k[2] | 2) & 0xFFFF
            out.append(b ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self._update(b)
        return bytes(out)


def write_zip(path, entries):
    """entries: list of dicts with name, data and optional method (0/8, or a
    raw number written as is), password, declared_size, extra."""
    body = bytearray()
    central = bytearray()
    for e in entries:
        name = e["name"].encode()
        data = e["data"] if isinstance(e["data"], bytes) else e["data"].encode()
        method = e.get("method", 8)
        payload = deflate(data) if method == 8 else data
        crc = zlib.crc32(data)
        flags = 0
        if "password" in e:
            flags |= 1
            header = bytes(range(1, 12)) + bytes([crc >> 24])
            payload = ZipCrypto(e["password"].encode()).encrypt(header + payload)
        usize = e.get("declared_size", len(data))
        extra = e.get("extra", b"")
        offset = len(body)
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, DOS_TIME, DOS_DATE,
                            crc, len(payload), usize, len(name), len(extra)) + name + extra + payload
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, DOS_TIME,
                               DOS_DATE, crc, len(payload), usize, len(name), len(extra), 0, 0, 0,
                               0, offset) + name + extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(body), 0)
    with open(os.path.join(HERE, path), "wb") as f:
        f.write(body + central + end)


def entries(parts, **common):
    return [dict(name=n, data=d, **common) for n, d in parts]


# ---------------------------------------------------------------- DOCX

W = ('xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" '
     'xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006" '
     'xmlns:wps="http://schemas.microsoft.com/office/word/2010/wordprocessingShape" '
     'xmlns:v="urn:schemas-microsoft-com:vml"')

CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/%s" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>
</Types>"""

DOCUMENT = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document %s><w:body>
<w:p><w:pPr><w:tabs><w:tab w:val="left" w:pos="720"/></w:tabs></w:pPr><w:r><w:t>A big herd of cat</w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>tle</w:t></w:r><w:r><w:t xml:space="preserve"> grazing</w:t></w:r></w:p>
<w:p><w:r><w:t>Name</w:t></w:r><w:r><w:tab/><w:t>Value</w:t></w:r><w:r><w:br/><w:t>after break</w:t></w:r></w:p>
<w:p></w:p>
<w:p><w:r><w:t>Kept</w:t></w:r><w:del><w:r><w:delText>Removed</w:delText></w:r></w:del><w:ins><w:r><w:t xml:space="preserve"> inserted</w:t></w:r></w:ins></w:p>
<w:p><w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText> HYPERLINK "http://example.org" </w:instrText></w:r><w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:t>link text</w:t></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r></w:p>
<w:tbl><w:tblPr/><w:tr><w:tc><w:tcPr/><w:p><w:r><w:t>Cell A1</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>Cell B1</w:t></w:r></w:p></w:tc></w:tr></w:tbl>
<w:p><w:r><w:t xml:space="preserve">Lead-in </w:t></w:r><w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:drawing><wps:txbx><w:txbxContent><w:p><w:r><w:t>Boxed words</w:t></w:r></w:p></w:txbxContent></wps:txbx></w:drawing></mc:Choice><mc:Fallback><w:pict><v:textbox><w:txbxContent><w:p><w:r><w:t>Boxed words</w:t></w:r></w:p></w:txbxContent></v:textbox></w:pict></mc:Fallback></mc:AlternateContent></w:r><w:r><w:t>Ünïcödé ゾルゲ</w:t></w:r><w:r><w:footnoteReference w:id="1"/></w:r></w:p>
<w:sectPr/>
</w:body></w:document>""" % W


def part(root, text):
    return ('<?xml version="1.0" encoding="UTF-8"?><w:%s %s><w:p><w:r><w:t>%s</w:t></w:r></w:p></w:%s>'
            % (root, W, text, root))


FOOTNOTES = ('<?xml version="1.0" encoding="UTF-8"?><w:footnotes %s>'
             '<w:footnote w:type="separator" w:id="-1"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>'
             '<w:footnote w:id="1"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t xml:space="preserve"> Footnote words</w:t></w:r></w:p></w:footnote>'
             '</w:footnotes>' % W)

COMMENTS = ('<?xml version="1.0" encoding="UTF-8"?><w:comments %s>'
            '<w:comment w:id="0" w:author="Reviewer" w:date="2024-01-01T00:00:00Z" w:initials="R">'
            '<w:p><w:r><w:annotationRef/></w:r><w:r><w:t>Comment words</w:t></w:r></w:p></w:comment>'
            '</w:comments>' % W)

CORE = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/">
<dc:title>Cattle Report</dc:title><dc:creator>Ann Author; Bob Writer</dc:creator>
<cp:keywords>one, cattle; three,one, </cp:keywords><dc:subject>Herds</dc:subject>
<dc:description>About herds</dc:description><cp:lastModifiedBy>Someone Else</cp:lastModifiedBy>
</cp:coreProperties>"""


def docx():
    write_zip("basic.docx", entries([
        ("[Content_Types].xml", CONTENT_TYPES % "word/document.xml"),
        ("word/document.xml", DOCUMENT),
        ("word/footer1.xml", part("ftr", "Footer words")),
        ("word/header1.xml", part("hdr", "Header words")),
        ("word/footnotes.xml", FOOTNOTES),
        ("word/comments.xml", COMMENTS),
        ("docProps/core.xml", CORE),
    ]))
    # The main part found through [Content_Types].xml, not by its usual name.
    write_zip("renamed_main.docx", entries([
        ("[Content_Types].xml", CONTENT_TYPES % "word/main.xml"),
        ("word/main.xml", part("document", "Found through the content types")),
    ]))
    write_zip("malformed.docx", entries([
        ("[Content_Types].xml", CONTENT_TYPES % "word/document.xml"),
        ("word/document.xml", '<w:document %s><w:body><w:p><w:r><w:t>unclosed</w:r></w:body>' % W),
    ]))
    # 16 MiB of one letter deflates to ~16 KiB: a ratio of about 1000.
    write_zip("bomb.docx", entries([
        ("[Content_Types].xml", CONTENT_TYPES % "word/document.xml"),
        ("word/document.xml", b"a" * (16 << 20)),
    ]))
    # Declares 200 bytes but inflates to 4 MiB.
    write_zip("lying_size.docx", [
        dict(name="[Content_Types].xml", data=CONTENT_TYPES % "word/document.xml"),
        dict(name="word/document.xml", data=b"<" * (4 << 20), declared_size=200),
    ])
    write_zip("encrypted_zip.docx", entries([
        ("[Content_Types].xml", CONTENT_TYPES % "word/document.xml"),
        ("word/document.xml", DOCUMENT),
    ], password="secret"))
    # What Word writes for a password-protected document: an OLE compound
    # file with EncryptionInfo and EncryptedPackage streams (header and the
    # directory names only; enough to tell it from a damaged zip).
    ole = bytearray(b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + bytes(504))
    for name in ("EncryptionInfo", "EncryptedPackage"):
        ole += name.encode("utf-16-le") + bytes(128 - 2 * len(name))
    with open(os.path.join(HERE, "ole_encrypted.docx"), "wb") as f:
        f.write(ole)
    # Nesting far deeper than any document: the walk stops at a fixed depth
    # (the words down there are lost) instead of running out of stack.
    deep = 200000
    write_zip("deep.docx", entries([
        ("[Content_Types].xml", CONTENT_TYPES % "word/document.xml"),
        ("word/document.xml", '<w:document %s><w:body><w:p><w:r><w:t>Shallow</w:t></w:r></w:p>%s<w:t>deep</w:t>%s'
         '</w:body></w:document>' % (W, "<w:sdt>" * deep, "</w:sdt>" * deep)),
    ]))
    with open(os.path.join(HERE, "not_a_zip.docx"), "wb") as f:
        f.write(b"PK\x03\x04 this is not a zip archive at all")


# ---------------------------------------------------------------- XLSX, PPTX

REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def ooxml_types(overrides):
    return ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="xml" ContentType="application/xml"/>' +
            "".join('<Override PartName="%s" ContentType="application/vnd.openxmlformats-officedocument.%s"/>' % o
                    for o in overrides) + "</Types>")


def rels(items):
    """items: (id, type, target[, "External"])"""
    return ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">' +
            "".join('<Relationship Id="%s" Type="%s/%s" Target="%s"%s/>'
                    % (i[0], REL, i[1], i[2], ' TargetMode="External"' if len(i) > 3 else "") for i in items) +
            "</Relationships>")


S = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="%s"' % REL

# Sheets listed in another order than their part names; the shared strings
# found through an absolute target.
WORKBOOK = ('<?xml version="1.0" encoding="UTF-8"?><workbook %s><sheets>'
            '<sheet name="Herd Sheet" sheetId="1" r:id="rId2"/><sheet name="Second Sheet" sheetId="2" r:id="rId1"/>'
            '</sheets></workbook>' % S)

SHARED = ('<?xml version="1.0" encoding="UTF-8"?><sst %s count="4" uniqueCount="4">'
          '<si><t>Animal</t></si>'
          '<si><r><t>Cat</t></r><r><rPr><b/></rPr><t xml:space="preserve">tle grazing</t></r></si>'
          '<si><t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh></si>'
          '<si><t>Unused string</t></si></sst>' % S)

SHEET_HERD = ('<?xml version="1.0" encoding="UTF-8"?><worksheet %s><sheetData>'
              '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>12</v></c></row>'
              '<row r="2"><c r="A2" t="s"><v>1</v></c><c r="B2" t="inlineStr"><is><t>Inline words</t></is></c>'
              '<c r="C2" t="str"><f>A1&amp;"s"</f><v>Formula words</v></c><c r="D2" t="b"><v>1</v></c></row>'
              '<row r="3"><c r="A3" t="s"><v>99</v></c><c r="B3" t="s"><v>-1</v></c><c r="C3" t="s"><v>1x</v></c></row>'
              '</sheetData><headerFooter><oddHeader>&amp;CHeader code</oddHeader></headerFooter></worksheet>' % S)

SHEET_SECOND = ('<?xml version="1.0" encoding="UTF-8"?><worksheet %s><sheetData>'
                '<row r="1"><c r="A1" t="s"><v>2</v></c></row></sheetData></worksheet>' % S)


def xlsx():
    write_zip("basic.xlsx", entries([
        ("[Content_Types].xml", ooxml_types([("/xl/workbook.xml", "spreadsheetml.sheet.main+xml")])),
        ("xl/workbook.xml", WORKBOOK),
        ("xl/_rels/workbook.xml.rels", rels([("rId1", "worksheet", "worksheets/sheet1.xml"),
                                              ("rId2", "worksheet", "worksheets/sheet2.xml"),
                                              ("rId3", "sharedStrings", "/xl/sharedStrings.xml")])),
        ("xl/sharedStrings.xml", SHARED),
        ("xl/worksheets/sheet1.xml", SHEET_SECOND),
        ("xl/worksheets/sheet2.xml", SHEET_HERD),
        ("docProps/core.xml", CORE),
    ]))

    # One long shared string, every cell of the sheet pointing at it: the
    # text would inflate past any bound if it were copied for each cell.
    long_string = "cattle " * (1 << 17)
    cells = "".join('<c r="A%d" t="s"><v>0</v></c>' % i for i in range(1, 201))
    write_zip("shared_bomb.xlsx", entries([
        ("[Content_Types].xml", ooxml_types([("/xl/workbook.xml", "spreadsheetml.sheet.main+xml")])),
        ("xl/workbook.xml", WORKBOOK.replace(' r:id="rId1"', ' r:id="rId2"')),
        ("xl/_rels/workbook.xml.rels", rels([("rId2", "worksheet", "worksheets/sheet1.xml"),
                                              ("rId3", "sharedStrings", "sharedStrings.xml")])),
        ("xl/sharedStrings.xml", '<sst %s><si><t>%s</t></si></sst>' % (S, long_string)),
        ("xl/worksheets/sheet1.xml", '<worksheet %s><sheetData><row r="1">%s</row></sheetData></worksheet>'
         % (S, cells)),
    ]))


P = ('xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r="%s" '
     'xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"' % REL)


def shape(body, ph=""):
    return ('<p:sp><p:nvSpPr><p:cNvPr id="2" name="s"/><p:cNvSpPr/><p:nvPr>%s</p:nvPr></p:nvSpPr><p:spPr/>'
            '<p:txBody><a:bodyPr/>%s</p:txBody></p:sp>' % (ph and '<p:ph type="%s"/>' % ph, body))


def para(*runs):
    return "<a:p>" + "".join(runs) + "</a:p>"


def run(text):
    return "<a:r><a:rPr lang=\"en\"/><a:t>%s</a:t></a:r>" % text


def slide_part(root, shapes):
    return ('<?xml version="1.0" encoding="UTF-8"?><p:%s %s><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id="1" name=""/>'
            '<p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr/>%s</p:spTree></p:cSld></p:%s>' % (root, P, shapes, root))


SLIDE_NUMBER = shape(para('<a:fld id="{1}" type="slidenum"><a:t>7</a:t></a:fld>'), "sldNum")


def pptx():
    # Slides listed in another order than their part names.
    presentation = ('<?xml version="1.0" encoding="UTF-8"?><p:presentation %s><p:sldIdLst>'
                    '<p:sldId id="256" r:id="rId3"/><p:sldId id="257" r:id="rId2"/></p:sldIdLst></p:presentation>' % P)
    first = slide_part("sld", shape(para(run("Slide title words")), "title") +
                       shape(para(run("Bullet "), run("words"), "<a:br/>", run("next line")) + para(run("Second bullet"))) +
                       SLIDE_NUMBER)
    second = slide_part("sld", shape(para(run("Closing slide words"))))
    notes = slide_part("notes", shape("", "sldImg") + shape(para(run("Speaker notes words")), "body") +
                       shape(para(run("Notes date")), "dt") + SLIDE_NUMBER)
    write_zip("basic.pptx", entries([
        ("[Content_Types].xml", ooxml_types([("/ppt/presentation.xml", "presentationml.presentation.main+xml")])),
        ("ppt/presentation.xml", presentation),
        ("ppt/_rels/presentation.xml.rels", rels([("rId1", "slideMaster", "slideMasters/slideMaster1.xml"),
                                                  ("rId2", "slide", "slides/slide1.xml"),
                                                  ("rId3", "slide", "slides/slide2.xml"),
                                                  ("rId4", "slide", "../../outside.xml")])),
        ("ppt/slides/slide1.xml", second),
        ("ppt/slides/slide2.xml", first),
        ("ppt/slides/_rels/slide2.xml.rels", rels([("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"),
                                                   ("rId2", "notesSlide", "../notesSlides/notesSlide1.xml"),
                                                   ("rId3", "hyperlink", "http://example.org/", "External")])),
        ("ppt/notesSlides/notesSlide1.xml", notes),
        ("ppt/slideLayouts/slideLayout1.xml", slide_part("sldLayout", shape(para(run("Click to edit Master title style")), "title"))),
        ("ppt/slideMasters/slideMaster1.xml", slide_part("sldMaster", shape(para(run("Master text styles")), "body"))),
        ("docProps/core.xml", CORE),
    ]))


# ---------------------------------------------------------------- EPUB

EPUB_CONTAINER = """<?xml version="1.0" encoding="UTF-8"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles>
<rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>"""

# Chapters found through the manifest; the spine repeats one, lists an
# image, one that climbs out of the book and one that is not there.
EPUB_OPF = """<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
<dc:identifier id="id">urn:uuid:00000000-0000-4000-8000-000000000001</dc:identifier>
<dc:title>Cattle Book</dc:title><dc:title>A subtitle</dc:title>
<dc:creator>Ann Author</dc:creator><dc:creator> Bob Writer </dc:creator>
<dc:subject>Farming</dc:subject><dc:subject>cattle; herds</dc:subject>
<dc:description>About herds</dc:description><dc:language>en</dc:language></metadata>
<manifest>
<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="c1" href="text/chapter%201.xhtml#start" media-type="application/xhtml+xml"/>
<item id="c2" href="text/ch2.xhtml" media-type="application/xhtml+xml"/>
<item id="img" href="cover.svg" media-type="image/svg+xml"/>
<item id="out" href="../../outside.xhtml" media-type="application/xhtml+xml"/>
<item id="gone" href="text/missing.xhtml" media-type="application/xhtml+xml"/>
</manifest>
<spine><itemref idref="c1"/><itemref idref="img"/><itemref idref="c2"/><itemref idref="c1"/>
<itemref idref="out"/><itemref idref="gone"/><itemref idref="nowhere"/></spine></package>"""


def xhtml(title, body):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<html xmlns="http://www.w3.org/1999/xhtml">'
            '<head><title>%s</title><style>p { color: red }</style></head><body>%s</body></html>' % (title, body))


def epub_encryption(uri):
    return ('<?xml version="1.0" encoding="UTF-8"?><encryption xmlns="urn:oasis:names:tc:opendocument:xmlns:container" '
            'xmlns:enc="http://www.w3.org/2001/04/xmlenc#"><enc:EncryptedData>'
            '<enc:EncryptionMethod Algorithm="http://www.idpf.org/2008/embedding"/>'
            '<enc:CipherData><enc:CipherReference URI="%s"/></enc:CipherData></enc:EncryptedData></encryption>' % uri)


def epub():
    mimetype = dict(name="mimetype", data="application/epub+zip", method=0)
    book = [
        ("META-INF/container.xml", EPUB_CONTAINER),
        ("OEBPS/content.opf", EPUB_OPF),
        ("OEBPS/nav.xhtml", xhtml("Contents", "<nav><ol><li>Contents words</li></ol></nav>")),
        ("OEBPS/text/chapter 1.xhtml", xhtml("One", "<h1>Chapter one</h1><p>A big herd of <em>cat</em>tle"
                                                   "\n  grazing</p><script>hidden()</script>")),
        ("OEBPS/text/ch2.xhtml", xhtml("Two", "<p>Second chapter, caf&#233; words</p>")),
        ("OEBPS/cover.svg", '<svg xmlns="http://www.w3.org/2000/svg"><text>Cover words</text></svg>'),
        ("outside.xhtml", xhtml("Out", "<p>Outside words</p>")),
    ]
    # An obfuscated font is no reason to give up on the text.
    write_zip("basic.epub", [mimetype] + entries(book + [
        ("META-INF/encryption.xml", epub_encryption("OEBPS/fonts/serif.otf"))]))
    write_zip("encrypted.epub", [mimetype] + entries(book + [
        ("META-INF/encryption.xml", epub_encryption("OEBPS/text/ch2.xhtml"))]))


# ---------------------------------------------------------------- ODT

ODF = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
       'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
       'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
       'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
       'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
       'xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" '
       'xmlns:dc="http://purl.org/dc/elements/1.1/"')

ODT_CONTENT = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-content %s><office:automatic-styles/><office:body><office:text>
<text:sequence-decls><text:sequence-decl text:name="Figure"/></text:sequence-decls>
<text:tracked-changes><text:changed-region><text:deletion><text:p>Deleted words</text:p></text:deletion></text:changed-region></text:tracked-changes>
<text:h text:outline-level="1">Heading words</text:h>
<text:p>A big herd of cat<text:span text:style-name="b">tle</text:span>
      grazing</text:p>
<text:p>Name<text:tab/>Value<text:line-break/>after<text:s text:c="3"/>spaces</text:p>
<text:p>Lead-in <draw:frame><draw:text-box><text:p>Boxed words</text:p></draw:text-box></draw:frame>after box<text:note text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>Footnote words</text:p></text:note-body></text:note><office:annotation><dc:creator>Reviewer</dc:creator><text:p>Comment words</text:p></office:annotation></text:p>
<table:table><table:table-row><table:table-cell><text:p>Cell A1</text:p></table:table-cell><table:table-cell><text:p>Cell B1</text:p></table:table-cell></table:table-row></table:table>
<text:list><text:list-item><text:p>Item one</text:p></text:list-item></text:list>
</office:text></office:body></office:document-content>""" % ODF

ODT_STYLES = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-styles %s><office:styles><style:style style:name="x"/></office:styles>
<office:master-styles><style:master-page style:name="Standard"><style:header><text:p>Header words</text:p></style:header></style:master-page></office:master-styles>
</office:document-styles>""" % ODF

ODT_META = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-meta %s><office:meta>
<dc:title>Cattle Report</dc:title><meta:initial-creator>Ann Author</meta:initial-creator><dc:creator>Last Editor</dc:creator>
<meta:keyword>one, cattle</meta:keyword><meta:keyword>three</meta:keyword>
<dc:subject>Herds</dc:subject><dc:description>About herds</dc:description>
</office:meta></office:document-meta>""" % ODF

MANIFEST = """<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">
<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>
<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml">%s</manifest:file-entry>
</manifest:manifest>"""

ENCRYPTION_DATA = ('<manifest:encryption-data manifest:checksum-type="SHA1/1K" manifest:checksum="x">'
                   '<manifest:algorithm manifest:algorithm-name="Blowfish CFB" manifest:initialisation-vector="x"/>'
                   '</manifest:encryption-data>')


ODS_CONTENT = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-content %s><office:body><office:spreadsheet>
<table:table table:name="Herd Sheet"><table:table-column table:number-columns-repeated="2"/>
<table:table-row><table:table-cell office:value-type="string"><text:p>Animal</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>Count</text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell office:value-type="string"><text:p>Cattle <text:span>grazing</text:span></text:p><office:annotation><text:p>Comment words</text:p></office:annotation></table:table-cell><table:table-cell office:value-type="float" office:value="12"><text:p>12</text:p></table:table-cell></table:table-row>
<table:table-row table:number-rows-repeated="1000"><table:table-cell table:number-columns-repeated="1000"/></table:table-row>
</table:table>
<table:table table:name="Second Sheet"><table:table-row><table:table-cell office:value-type="string"><text:p>Line one<text:line-break/>line two</text:p></table:table-cell></table:table-row></table:table>
</office:spreadsheet></office:body></office:document-content>""" % ODF

ODP_CONTENT = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-content %s><office:body><office:presentation>
<draw:page draw:name="page1"><draw:frame presentation:class="title"><draw:text-box><text:p>Slide title words</text:p></draw:text-box></draw:frame>
<draw:frame><draw:text-box><text:list><text:list-item><text:p>Bullet words</text:p></text:list-item></text:list></draw:text-box></draw:frame>
<draw:frame presentation:class="subtitle" presentation:placeholder="true"><draw:text-box/></draw:frame>
<presentation:notes><draw:page-thumbnail draw:page-number="1"/><draw:frame presentation:class="notes"><draw:text-box><text:p>Speaker notes words</text:p></draw:text-box></draw:frame></presentation:notes></draw:page>
<draw:page draw:name="page2"><draw:custom-shape><text:p>Shape words</text:p></draw:custom-shape><table:table table:name="Table1"><table:table-row><table:table-cell><text:p>Slide cell</text:p></table:table-cell></table:table-row></table:table></draw:page>
</office:presentation></office:body></office:document-content>""" % ODF.replace(
    'xmlns:meta=', 'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" xmlns:meta=')

# Master pages of spreadsheets and presentations hold placeholders only.
PLACEHOLDER_STYLES = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-styles %s><office:master-styles><style:master-page style:name="Default"><style:header><text:p><text:sheet-name>???</text:sheet-name> Placeholder</text:p></style:header></style:master-page></office:master-styles>
</office:document-styles>""" % ODF


def odt():
    for name, kind, content in [("basic.ods", "spreadsheet", ODS_CONTENT), ("basic.odp", "presentation", ODP_CONTENT)]:
        write_zip(name, [dict(name="mimetype", data="application/vnd.oasis.opendocument." + kind, method=0)] +
                  entries([
                      ("content.xml", content),
                      ("styles.xml", PLACEHOLDER_STYLES),
                      ("meta.xml", ODT_META),
                      ("META-INF/manifest.xml", MANIFEST.replace(".text", "." + kind) % ""),
                  ]))
    mimetype = dict(name="mimetype", data="application/vnd.oasis.opendocument.text", method=0)
    write_zip("basic.odt", [mimetype] + entries([
        ("content.xml", ODT_CONTENT),
        ("styles.xml", ODT_STYLES),
        ("meta.xml", ODT_META),
        ("META-INF/manifest.xml", MANIFEST % ""),
    ]))
    # The flat XML forms: the same meta, master styles and body in one file.
    def part_of(xml, element):
        return xml[xml.index("<office:" + element):xml.index("</office:" + element + ">") + len(element) + 10]
    for name, kind, content, styles in [("basic.fodt", "text", ODT_CONTENT, ODT_STYLES),
                                        ("basic.fods", "spreadsheet", ODS_CONTENT, PLACEHOLDER_STYLES)]:
        with open(os.path.join(HERE, name), "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<office:document %s office:mimetype='
                    '"application/vnd.oasis.opendocument.%s">%s%s%s</office:document>\n'
                    % (ODF, kind, part_of(ODT_META, "meta"), part_of(styles, "master-styles"),
                       part_of(content, "body")))
    with open(os.path.join(HERE, "basic.fodt"), encoding="utf-8") as f, \
            open(os.path.join(HERE, "truncated.fodt"), "w", encoding="utf-8") as out:
        out.write(f.read()[:900])
    write_zip("encrypted.odt", [mimetype] + entries([
        ("content.xml", bytes(range(256)) * 4),
        ("META-INF/manifest.xml", MANIFEST % ENCRYPTION_DATA),
    ]))


# ---------------------------------------------------------------- iWork

def varint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        out.append(b | (0x80 if n else 0))
        if not n:
            return bytes(out)


def fv(num, value):
    return varint(num << 3) + varint(value)


def fb(num, data):
    data = data.encode() if isinstance(data, str) else data
    return varint(num << 3 | 2) + varint(len(data)) + data


def archive(identifier, messages):
    """One IWA archive: varint length, ArchiveInfo, then the payloads."""
    info = fv(1, identifier)
    for mtype, payload in messages:
        info += fb(2, fv(1, mtype) + fb(2, varint(1)) + fv(3, len(payload)))
    return varint(len(info)) + info + b"".join(p for _, p in messages)


def snappy_literal(data):
    out = bytearray(varint(len(data)))
    for i in range(0, len(data), 65536):
        piece = data[i:i + 65536]
        n = len(piece) - 1
        if n < 60:
            out.append(n << 2)
        elif n < 256:
            out += bytes([60 << 2, n])
        else:
            out += bytes([61 << 2]) + n.to_bytes(2, "little")
        out += piece
    return bytes(out)


def iwa(data, chunk_size=1 << 16):
    out = bytearray()
    for i in range(0, len(data), chunk_size):
        c = snappy_literal(data[i:i + chunk_size])
        out += b"\x00" + len(c).to_bytes(3, "little") + c
    return bytes(out)


LONG = ("Words worth finding in a long paragraph, long enough that its snappy literal needs a "
        "two-byte length, and split across two chunks of the file. " * 3).strip()


def storage(*texts):
    return fv(1, 0) + b"".join(fb(3, t) for t in texts) + fb(5, fb(1, fv(1, 7)))


def data_list(list_type, strings):
    entries_ = b""
    for key, s in enumerate(strings, 1):
        entry = fv(1, key) + fv(2, 1) + (fb(3, s) if s is not None else fv(4, 42))
        entries_ += fb(3, entry)
    return fv(1, list_type) + fv(2, len(strings) + 1) + entries_


def pages_document():
    return (archive(1, [(10000, fb(1, "StyleNameNotText") + fv(2, 5))]) +
            archive(2, [(2001, storage("Big herd of cattle\u2029Second paragraph \ufffcwith attachment\nThird line"))]) +
            archive(3, [(2001, storage(LONG))]) +
            archive(4, [(2005, storage("Text box words"))]))


def iwork():
    doc = pages_document()
    tables = archive(10, [(6005, data_list(1, ["Lion", None, "Leopard"]))]) + \
        archive(11, [(6201, data_list(1, ["Tabby"]))])
    # Chunks of 300 bytes: archives straddle chunk boundaries and a chunk's
    # single literal needs snappy's two-byte length form.
    write_zip("iwa.pages", entries([
        ("Index/Document.iwa", iwa(doc, 300)),
        ("Index/Tables/DataList-1.iwa", iwa(tables)),
        ("Index/DocumentStylesheet.iwa", iwa(archive(1, [(2001, storage("Stylesheet storage text"))]))),
        ("Metadata/Properties.plist", "<plist/>"),
    ], method=0))

    # No known text type: the printable strings of nested fields stand in.
    slide = fb(1, fb(2, "Slide title words") + fv(3, 9) + fb(4, b"\x01\x02\xff\xfe"))
    write_zip("fallback.key", entries([
        ("Index/Document.iwa", iwa(archive(1, [(3, slide)]))),
        ("Index/DocumentStylesheet.iwa", iwa(archive(1, [(4, fb(1, "Helvetica Neue"))]))),
    ], method=0))

    full = iwa(doc)
    write_zip("truncated.numbers", entries([
        ("Index/Document.iwa", full[:len(full) // 2]),
        ("Index/Tables/DataList-1.iwa", iwa(tables)),
    ], method=0))

    # A chunk that declares 1 GiB of snappy output.
    bomb = varint(1 << 30) + bytes([0 << 2]) + b"x"
    write_zip("snappy_bomb.numbers", entries([
        ("Index/Document.iwa", b"\x00" + len(bomb).to_bytes(3, "little") + bomb),
    ], method=0))

    write_zip("password.pages", entries([
        ("Index/Document.iwa", bytes(range(64))),
        (".iwpv2", bytes(range(16))),
    ], method=0))

    # iWork '09 password protection: a private compression method, with an
    # "iwpv" extra field on the first member only.
    extra = struct.pack("<HH", 0x636D, 12) + b"iwpv" + bytes(8)
    write_zip("password09.pages", [
        dict(name="buildVersionHistory.plist", data=bytes(range(40)), method=25451, extra=extra),
        dict(name="index.xml", data=bytes(range(80)), method=25452),
    ])

    write_zip("xml09.pages", entries([("index.xml", PAGES09)]))

    package = os.path.join(HERE, "package.pages")
    shutil.rmtree(package, ignore_errors=True)
    os.makedirs(os.path.join(package, "Index"))
    os.makedirs(os.path.join(package, "Metadata"))
    with open(os.path.join(package, "Index", "Document.iwa"), "wb") as f:
        f.write(iwa(archive(1, [(2001, storage("Package folder words"))])))
    with open(os.path.join(package, "Metadata", "DocumentIdentifier"), "w") as f:
        f.write("0000")

    # Packages from 2013-2015 keep the Index folder zipped inside.
    zipped = os.path.join(HERE, "zipped_index.key")
    shutil.rmtree(zipped, ignore_errors=True)
    os.makedirs(zipped)
    write_zip(os.path.join(zipped, "Index.zip"), entries([
        ("Index/Document.iwa", iwa(archive(1, [(2001, storage("Zipped index words"))]))),
    ], method=0))

    folder09 = os.path.join(HERE, "xml09.numbers")
    shutil.rmtree(folder09, ignore_errors=True)
    os.makedirs(folder09)
    with open(os.path.join(folder09, "index.xml"), "w") as f:
        f.write(NUMBERS09)


SF = ('xmlns:sl="http://developer.apple.com/namespaces/sl" '
      'xmlns:sf="http://developer.apple.com/namespaces/sf" '
      'xmlns:sfa="http://developer.apple.com/namespaces/sfa"')

PAGES09 = """<?xml version="1.0"?>
<sl:document %s><sl:metadata><sl:title><sl:string sfa:string="Old Pages Title"/></sl:title>
<sl:authors><sl:string sfa:string="Ann Author"/></sl:authors><sl:keywords><sl:string sfa:string="herd, cattle"/></sl:keywords></sl:metadata>
<sl:stylesheet><sf:p>Style sheet text</sf:p></sl:stylesheet>
<sf:text-storage><sf:text-body><sf:p>Grazing cat<sf:span>tle</sf:span> field<sf:br/>next line</sf:p><sf:p>Tab<sf:tab/>bed</sf:p></sf:text-body></sf:text-storage>
</sl:document>""" % SF

NUMBERS09 = """<?xml version="1.0"?>
<ls:document xmlns:ls="http://developer.apple.com/namespaces/ls" %s>
<sf:tabular-model><sf:grid><sf:datasource><sf:t><sf:ct sfa:s="Lion cell"/></sf:t><sf:n sf:v="3"/><sf:t><sf:ct sfa:s="Tabby cell"/></sf:t></sf:datasource></sf:grid></sf:tabular-model>
</ls:document>""" % SF


if __name__ == "__main__":
    docx()
    xlsx()
    pptx()
    epub()
    odt()
    iwork()
