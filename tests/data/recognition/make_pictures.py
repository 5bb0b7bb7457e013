#!/usr/bin/env python3
"""Writes the text-recognition test pictures in this folder.

Run from anywhere: python3 make_pictures.py. Needs ImageMagick (convert) and
the DejaVu fonts; the hostile files and the scanned PDFs are written by hand
with the Python standard library. The outputs are committed; rerun only to
change them.
"""
import os
import struct
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
# No time stamps or comments: the same bytes on every run.
PLAIN = ["-strip", "-define", "png:exclude-chunks=date,time"]


def path(name):
    return os.path.join(HERE, name)


def convert(*args):
    subprocess.run(["convert", *args], check=True)


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)


# ---- pictures with words -------------------------------------------------------
# A photo-like scene (soft coloured noise) with a sign holding a sentence, as JPEG.
convert("-seed", "7", "-size", "1200x800", "plasma:olivedrab-skyblue", "-blur", "0x3",
        "-fill", "#f4f1e6", "-stroke", "#5a4a3a", "-strokewidth", "4",
        "-draw", "roundrectangle 200,280 1000,520 20,20", "-stroke", "none",
        "-font", BOLD, "-pointsize", "54", "-fill", "#222222",
        "-annotate", "+260+380", "Fresh milk sold", "-annotate", "+260+460", "at the farm gate",
        *PLAIN, "-quality", "90", path("sign_photo.jpg"))

# Text set at an angle, as on a tilted page.
convert("-size", "900x600", "xc:white", "-font", FONT, "-pointsize", "48", "-fill", "black",
        "-draw", "rotate 8 text 120,220 'Harvest meeting'", "-draw", "rotate 8 text 120,300 'on Thursday evening'",
        *PLAIN, path("rotated.png"))

# A screenshot: a window with a title bar and small interface text.
convert("-size", "640x360", "xc:#ececec", "-fill", "#3c3c3c", "-draw", "rectangle 0,0 640,28",
        "-fill", "white", "-draw", "rectangle 12,44 628,348",
        "-font", FONT, "-pointsize", "12", "-fill", "#f0f0f0", "-annotate", "+12+19", "Settings",
        "-fill", "#202020", "-annotate", "+24+72", "Backup folder: Documents",
        "-annotate", "+24+96", "Schedule weekly backups automatically",
        "-annotate", "+24+120", "Keep snapshots for ninety days",
        *PLAIN, path("screenshot.png"))

# No words at all: only texture.
convert("-seed", "3", "-size", "800x600", "plasma:tan-seagreen", "-blur", "0x2", *PLAIN, path("no_text.jpg"))

# An icon: words too small to be worth reading.
convert("-size", "32x32", "xc:white", "-font", BOLD, "-pointsize", "10", "-fill", "black",
        "-annotate", "+1+20", "SAVE", *PLAIN, path("icon.png"))

# An animated GIF of two frames; the first one shows a word.
convert("-size", "400x160", "xc:white", "-font", BOLD, "-pointsize", "64", "-fill", "black",
        "-annotate", "+30+105", "Lantern", "(", "-size", "400x160", "xc:white", "-font", BOLD,
        "-pointsize", "64", "-fill", "black", "-annotate", "+30+105", "Compass", ")",
        "-set", "delay", "50", "-loop", "0", "-strip", path("animated.gif"))

# ---- hostile files -------------------------------------------------------------
whole = open(path("rotated.png"), "rb").read()
write("truncated.png", whole[: len(whole) // 2])


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


# Declares 100,000 x 100,000 pixels (ten gigapixels) in a few hundred bytes.
row = b"\x00" + b"\x00" * 100000
write("bomb.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 100000, 100000, 8, 0, 0, 0, 0))
      + chunk(b"IDAT", zlib.compress(row * 4, 9)) + chunk(b"IEND", b""))

# A JPEG whose entropy-coded scan is overwritten with garbage half way.
good = bytearray(open(path("sign_photo.jpg"), "rb").read())
scan = good.index(b"\xff\xda")
start = scan + (len(good) - scan) // 2
for i in range(start, start + 4000):
    good[i] = (i * 37) & 0xFE  # never 0xFF: no accidental markers
write("corrupt_scan.jpg", bytes(good))

# ---- scanned PDFs: pages that are one picture each, without a text layer -------------
convert("-size", "600x300", "xc:white", "-font", FONT, "-pointsize", "40", "-fill", "black",
        "-annotate", "+40+120", "Invoice number", "-annotate", "+40+200", "paid in full",
        "-depth", "8", "gray:" + path("scan.gray"))
pixels = open(path("scan.gray"), "rb").read()
os.remove(path("scan.gray"))


def scanned_pdf(pages):
    """Every page shows the same 600x300 picture at 300 dpi (2 x 1 inches)."""
    objects = {}
    image = zlib.compress(pixels, 9)
    objects[3] = (b"<< /Type /XObject /Subtype /Image /Width 600 /Height 300 /ColorSpace /DeviceGray "
                  b"/BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n" % len(image)
                  + image + b"\nendstream")
    content = b"q 144 0 0 72 0 0 cm /Im0 Do Q"
    objects[4] = b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream"
    kids = []
    for i in range(pages):
        n = 5 + i
        kids.append(b"%d 0 R" % n)
        objects[n] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 72] /Contents 4 0 R "
                      b"/Resources << /XObject << /Im0 3 0 R >> >> >>")
    objects[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objects[2] = b"<< /Type /Pages /Kids [" + b" ".join(kids) + b"] /Count %d >>" % pages
    out = bytearray(b"%PDF-1.4\n")
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objects[n] + b"\nendobj\n"
    xref = len(out)
    count = max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % count
    for n in range(1, count):
        out += b"%010d 00000 n \n" % offsets[n]
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (count, xref)
    return bytes(out)


write("scan.pdf", scanned_pdf(1))
write("scans_300_pages.pdf", scanned_pdf(300))
