#!/usr/bin/python3
"""The probes as independent readers see them: each generated probe holds its
word in the place expectations.tsv names and nowhere else, no other probe
holds it, and each file is of the type its name says.

Usage: probes_test.py PROBE_FOLDER [GENERATOR]. Readers: file, pdftotext,
pdfinfo, exiftool, and Python's zipfile and email parser. With GENERATOR
(findlark-probegen), also writes the probes again into a temporary folder
and checks they are the same bytes. Exit 0 when every probe passes;
otherwise one line per fault on stdout and exit 1.
"""
import email
import email.policy
import json
import os
import re
import filecmp
import subprocess
import sys
import tempfile
import unicodedata
import zipfile

FOLDER = sys.argv[1]

# What each probe writes where its term differs (the term is what is
# searched; the file holds this).
WRITTEN = {
    "accents.txt": "crémaillère",
    "eszett.txt": "Großvaterstuhl",
    "hyphenated.txt": "bittern-hide",
    "camelcase.txt": "gannetRecordParser",
}

# The type `file -b` gives each kind of probe (the start of its answer).
TYPES = {
    ".odt": "OpenDocument Text", ".ods": "OpenDocument Spreadsheet", ".odp": "OpenDocument Presentation",
    ".docx": "Microsoft Word 2007+", ".xlsx": "Microsoft Excel 2007+", ".pptx": "Microsoft PowerPoint 2007+",
    ".epub": "EPUB document", ".zip": "Zip archive data", ".rtf": "Rich Text Format data",
    ".pdf": "PDF document", ".mp3": "Audio file with ID3 version 2.3.0", ".flac": "FLAC audio bitstream data",
    ".ogg": "Ogg data, Vorbis audio", ".m4a": "ISO Media, Apple iTunes", ".jpg": "JPEG image data",
    ".png": "PNG image data", ".tif": "TIFF image data", ".svg": "SVG Scalable Vector Graphics image",
    ".eml": "news or mail", ".html": "HTML document", ".json": "JSON text data", ".xml": "XML 1.0 document",
    ".c": "C source", ".py": "Python script", ".tex": "LaTeX 2e document", ".csv": "CSV text",
}


def run(*argv):
    return subprocess.run(argv, capture_output=True, check=True).stdout.decode("utf-8", "replace")


def decode_text(raw):
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le")
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1252")


def places(path):
    """Every place a reader finds text in the file: {place: text}."""
    name = os.path.relpath(path, FOLDER)
    out = {"name": name}
    ext = os.path.splitext(path)[1]
    raw = open(path, "rb").read()
    if ext in (".odt", ".ods", ".odp", ".docx", ".xlsx", ".pptx", ".epub", ".zip"):
        with zipfile.ZipFile(path) as z:
            for member in z.namelist():
                out["member name " + member] = member
                out[member] = z.read(member).decode("utf-8", "replace")
    elif ext == ".pdf":
        out["info title"] = re.search(r"^Title:\s*(.*)$", run("pdfinfo", path), re.M).group(1)
        out["page text"] = run("pdftotext", "-layout", "-l", "29", path, "-")  # all but page 30
        out["page 30"] = run("pdftotext", "-f", "30", "-l", "30", path, "-") if "30 pages" in run("file", "-b", path) else ""
        fields = re.findall(rb"/V \(([^)]*)\)", raw)
        out["form field"] = b" ".join(fields).decode("latin-1")
        # The page text shows a field's value too (poppler draws it).
        if fields:
            out["page text"] = out["page text"].replace(out["form field"], "")
    elif ext in (".eml", ".mbox"):
        messages = [raw] if ext == ".eml" else re.split(rb"\n(?=From )", raw)
        for i, m in enumerate(messages):
            msg = email.message_from_bytes(m, policy=email.policy.default)
            out[f"message {i + 1} subject"] = str(msg["subject"])
            for piece in msg.walk():
                if piece.is_multipart():
                    continue
                if piece.get_filename():
                    out[f"message {i + 1} attachment name"] = piece.get_filename()
                    out[f"message {i + 1} attachment"] = piece.get_payload(decode=True).decode("utf-8", "replace")
                else:
                    out[f"message {i + 1} body"] = piece.get_content()
    elif ext in (".mp3", ".flac", ".ogg", ".m4a", ".jpg", ".png", ".tif"):
        for tag, value in json.loads(run("exiftool", "-j", "-G1", "-a", path))[0].items():
            if tag not in ("SourceFile", "System:FileName", "System:Directory"):
                out["tag " + tag] = str(value)
    else:
        out["text"] = decode_text(raw)
    return out


# The place that must hold each probe's word: a place name or a pattern.
WHERE = {
    "opendocument-text.odt": "content.xml", "opendocument-spreadsheet.ods": "content.xml",
    "opendocument-presentation.odp": "content.xml", "word-body.docx": "word/document.xml",
    "word-table.docx": "word/document.xml", "word-header.docx": "word/header1.xml",
    "word-footnote.docx": "word/footnotes.xml", "word-comment.docx": "word/comments.xml",
    "excel-cell.xlsx": "xl/sharedStrings.xml", "excel-sheet-name.xlsx": "xl/workbook.xml",
    "powerpoint-slide.pptx": "ppt/slides/slide1.xml", "powerpoint-notes.pptx": "ppt/notesSlides/notesSlide1.xml",
    "book.epub": "OEBPS/chapter2.xhtml", "zip-member-name.zip": "member name avocet.txt",
    "zip-member-text.zip": "notes.txt", "pdf-title.pdf": "info title", "pdf-page-30.pdf": "page 30",
    "pdf-form-field.pdf": "form field", "mail-subject.eml": "message 1 subject",
    "mail-quoted-printable.eml": "message 1 body", "mail-attachment.eml": "message 1 attachment name",
    "mailbox.mbox": "message 2 body", "id3-title.mp3": "tag ID3v2_3:Title", "vorbis-comment.flac": "tag Vorbis:Title",
    "vorbis-comment.ogg": "tag Vorbis:Title", "itunes-title.m4a": "tag ItemList:Title", "xmp-subject.jpg": "tag XMP-dc:Subject",
    "iptc-keyword.jpg": "tag IPTC:Keywords", "png-text.png": "tag PNG:Description",
    "tiff-description.tif": "tag IFD0:ImageDescription", "wheatear.txt": "name", "dotterel/notes.txt": "name",
}
# Probes whose word the file itself does not hold: the check writes it
# (an extended attribute) or it is pixels only.
NOT_IN_FILE = {"xdg-tags.txt", "xdg-comment.txt", "pdf-scanned.pdf"}
NFD_NAME = "he\u0301licoi\u0308de.txt"


def fold(text):
    return unicodedata.normalize("NFC", text).casefold()


def main():
    rows = []
    header = None
    for line in open(os.path.join(FOLDER, "expectations.tsv"), encoding="utf-8"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        cells = line.split("\t")
        if header is None:
            header = cells
            continue
        rows.append(dict(zip(header, cells)))
    faults = []
    seen = {}
    for row in rows:
        path = os.path.join(FOLDER, row["file"])
        if not os.path.isfile(path):
            faults.append(f"{row['file']}: missing")
            continue
        seen[row["file"]] = places(path)
        kind = TYPES.get(os.path.splitext(path)[1])
        if kind and not run("file", "-b", path).startswith(kind):
            faults.append(f"{row['file']}: file(1) says {run('file', '-b', path).strip()!r}, not {kind!r}")
    if len(rows) < 50:
        faults.append(f"only {len(rows)} probes")
    words = {r["file"]: WRITTEN.get(r["file"], r["term"]) for r in rows}
    if len(set(fold(w) for w in words.values())) != len(words):
        faults.append("two probes share a word")
    for row in rows:
        file, word = row["file"], fold(words[row["file"]])
        if file not in seen:
            continue
        held = [p for p, text in seen[file].items() if word in fold(text)]
        if file == NFD_NAME:
            want = ["name"]
            if not unicodedata.is_normalized("NFD", file) or unicodedata.is_normalized("NFC", file):
                faults.append(f"{file}: the name is not decomposed")
        elif file in NOT_IN_FILE:
            want = []
        elif file in WHERE:
            want = [WHERE[file]]
        else:
            want = ["text"]
        if file == "end-of-30-mb.log" and not seen[file]["text"].rstrip("\n").endswith(words[file] + " queue"):
            faults.append(f"{file}: the word is not on the last line")
        if file == "after-2-mib.txt" and seen[file]["text"].find(words[file]) < 2 * 1024 * 1024:
            faults.append(f"{file}: the word comes before 2 MiB")
        if held != want:
            faults.append(f"{file}: {words[file]!r} is in {held}, expected in {want} only")
        if file in ("utf16-bom.txt", "windows-1252.txt"):
            try:
                open(os.path.join(FOLDER, file), "rb").read().decode("utf-8")
                faults.append(f"{file}: reads as UTF-8")
            except UnicodeDecodeError:
                pass
        for other, other_places in seen.items():
            if other != file and any(word in fold(t) for t in other_places.values()):
                faults.append(f"{file}: its word {words[file]!r} is also in {other}")
    if len(sys.argv) > 2:
        with tempfile.TemporaryDirectory() as again:
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
            subprocess.run([sys.argv[2], again], check=True, env=env)
            for root, _, files in os.walk(again):
                for f in files:
                    rel = os.path.relpath(os.path.join(root, f), again)
                    if not filecmp.cmp(os.path.join(again, rel), os.path.join(FOLDER, rel), shallow=False):
                        faults.append(f"{rel}: a second run of the generator wrote other bytes")
    for f in faults:
        print(f)
    print(f"{len(rows)} probes read, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
