#include "probe_set.h"

#include "reproducible.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <functional>

namespace probegen {

QByteArray filler() { return "This is a Findlark probe: a small file that hides one search word in one place."; }

namespace {

using samplegen::writeFile;

QByteArray u(const QString& text) { return text.toUtf8(); }

// A UTF-8 text file: the filler, then `line`.
bool text(const QString& path, const QString& line) {
  return writeFile(path, filler() + "\n\n" + u(line) + "\n");
}

// --- Text ----------------------------------------------------------------------

bool markdown(const QString& p, const QString& w) {
  return writeFile(p, "# Findlark probe\n\n" + filler() + "\n\n- the hidden word is **" + u(w) + "**\n");
}
bool latex(const QString& p, const QString& w) {
  return writeFile(p, "\\documentclass{article}\n\\begin{document}\n\\section{Findlark probe}\n" + filler() +
                          "\n\nThe hidden word is \\emph{" + u(w) + "}.\n\\end{document}\n");
}
bool csv(const QString& p, const QString& w) {
  return writeFile(p, "animal,count,note\nsheep,12,\"" + filler() + "\"\n" + u(w) + ",7,counted twice\n");
}
bool json(const QString& p, const QString& w) {
  return writeFile(p, "{\n  \"title\": \"Findlark probe\",\n  \"note\": \"" + filler() + "\",\n  \"value\": \"" + u(w) +
                          "\",\n  \"count\": 3\n}\n");
}
bool xml(const QString& p, const QString& w) {
  return writeFile(p, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog>\n  <title>Findlark probe</title>\n  <note>" +
                          filler() + "</note>\n  <item>" + u(w) + "</item>\n</catalog>\n");
}
bool cSource(const QString& p, const QString& w) {
  return writeFile(p, "/* " + filler() + " */\n#include <stdio.h>\n\n/* Counts each " + u(w) +
                          " seen today. */\nint main(void) {\n  printf(\"%d\\n\", 3);\n  return 0;\n}\n");
}
bool python(const QString& p, const QString& w) {
  return writeFile(p, "# " + filler() + "\n\n\ndef count():\n    # every " + u(w) +
                          " seen today\n    return 3\n\n\nprint(count())\n");
}
bool utf16(const QString& p, const QString& w) {
  const QString body = QString::fromUtf8(filler()) + QStringLiteral("\r\nThe hidden word is ") + w + QStringLiteral(".\r\n");
  QByteArray out("\xff\xfe", 2);  // byte order mark, little-endian
  for (QChar c : body) {
    out += char(c.unicode() & 0xff);
    out += char(c.unicode() >> 8);
  }
  return writeFile(p, out);
}
bool windows1252(const QString& p, const QString& w) {
  // Curly quotes and a dash exist in Windows-1252 only (not Latin-1), and
  // no byte sequence of the file is valid UTF-8.
  QStringEncoder encode("windows-1252");
  const QByteArray line = encode(QStringLiteral("Le mot caché, \u201c") + w + QStringLiteral("\u201d \u2013 fin."));
  if (encode.hasError()) return false;
  return writeFile(p, filler() + "\r\n" + line + "\r\n");
}
bool afterTwoMiB(const QString& p, const QString& w) {
  const QByteArray line = "Nothing to see on this line of filler text, nor on the next one.\n";
  QByteArray out = filler() + "\n";
  while (out.size() < 2 * 1024 * 1024) out += line;
  return writeFile(p, out + "The hidden word is " + u(w) + ".\n");
}
bool logTail(const QString& p, const QString& w) {
  // The first line is what the check repeats to grow the file (steps.tsv).
  return writeFile(p, "2024-05-14 09:30:00 INFO probe service heartbeat ok\n"
                      "2024-05-14 09:30:01 WARN checksum mismatch in " + u(w) + " queue\n");
}

// --- Web and mail ----------------------------------------------------------------

bool htmlTitle(const QString& p, const QString& w) {
  return writeFile(p, "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + u(w) +
                          "</title>\n</head>\n<body>\n<p>" + filler() + "</p>\n</body>\n</html>\n");
}
bool htmlDescription(const QString& p, const QString& w) {
  return writeFile(p, "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Findlark probe</title>\n"
                      "<meta name=\"description\" content=\"" + u(w) + "\">\n</head>\n<body>\n<p>" + filler() +
                          "</p>\n</body>\n</html>\n");
}
bool svg(const QString& p, const QString& w) {
  return writeFile(p, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"320\" "
                      "height=\"80\">\n  <desc>" + filler() + "</desc>\n  <text x=\"10\" y=\"40\">" + u(w) +
                          "</text>\n</svg>\n");
}

const QByteArray kMailHead = "From: Findlark <probe@example.org>\r\nTo: reader@example.org\r\n"
                             "Date: Tue, 14 May 2024 09:30:00 +0000\r\nMessage-ID: <probe-";

bool emlSubject(const QString& p, const QString& w) {
  return writeFile(p, kMailHead + "subject@example.org>\r\nSubject: " + u(w) + "\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\n\r\n" + filler() + "\r\n");
}
bool emlQuotedPrintable(const QString& p, const QString& w) {
  // The word is cut by a soft line break and sits among encoded letters:
  // only a reader that decodes the body sees it whole.
  const QByteArray word = u(w);
  const qsizetype half = word.size() / 2;
  return writeFile(p, kMailHead + "qp@example.org>\r\nSubject: Findlark probe\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                          filler() + "\r\nCaf=C3=A9 au lait, then the " + word.left(half) + "=\r\n" + word.mid(half) +
                          " came by.\r\n");
}
bool emlAttachment(const QString& p, const QString& w) {
  const QByteArray name = u(w) + ".txt";
  return writeFile(p, kMailHead + "attachment@example.org>\r\nSubject: Findlark probe\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"probe-boundary\"\r\n\r\n--probe-boundary\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\n\r\n" + filler() + "\r\n--probe-boundary\r\n"
                      "Content-Type: text/plain; charset=utf-8; name=\"" + name + "\"\r\n"
                      "Content-Disposition: attachment; filename=\"" + name + "\"\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" +
                          QByteArray("A list of nothing much.\n").toBase64() + "\r\n--probe-boundary--\r\n");
}
bool mbox(const QString& p, const QString& w) {
  QByteArray out;
  const char* bodies[] = {"The first message says hello.", nullptr, "The third message says goodbye."};
  for (int i = 0; i < 3; ++i) {
    out += "From probe@example.org Tue May 14 09:3" + QByteArray::number(i) + ":00 2024\n"
           "From: Findlark <probe@example.org>\nTo: reader@example.org\nDate: Tue, 14 May 2024 09:3" +
           QByteArray::number(i) + ":00 +0000\nSubject: Findlark probe, message " + QByteArray::number(i + 1) +
           "\nMessage-ID: <probe-mbox-" + QByteArray::number(i + 1) + "@example.org>\n\n" +
           (bodies[i] ? QByteArray(bodies[i]) : filler() + "\nThe hidden word is " + u(w) + ".") + "\n\n";
  }
  return writeFile(p, out);
}

bool rtfTable(const QString& p, const QString& w) {
  const QByteArray row = "\\trowd\\cellx3000\\cellx6000\n";
  return writeFile(p, "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Helvetica;}}\n\\pard " + filler() +
                          "\\par\n" + row + "\\pard\\intbl Item\\cell Count\\cell\\row\n" + row + "\\pard\\intbl " + u(w) +
                          "\\cell 7\\cell\\row\n\\pard End of the table.\\par\n}\n");
}

// --- Plain files whose word is in their name or attributes ----------------------------

bool plain(const QString& p, const QString&) { return writeFile(p, filler() + "\n"); }

struct Probe {
  const char* file;  // relative path, UTF-8 (the NFD name is spelt out)
  const char* word;  // as written in the file, UTF-8
  std::function<bool(const QString& path, const QString& word)> write;
};

const Probe kProbes[] = {
    {"opendocument-text.odt", "gossamer", office::odt},
    {"opendocument-spreadsheet.ods", "tamarind", office::ods},
    {"opendocument-presentation.odp", "halyard", office::odp},
    {"word-body.docx", "marmoset", office::docxBody},
    {"word-table.docx", "bergamot", office::docxTable},
    {"word-header.docx", "cormorant", office::docxHeader},
    {"word-footnote.docx", "lantana", office::docxFootnote},
    {"word-comment.docx", "wisteria", office::docxComment},
    {"excel-cell.xlsx", "kumquat", office::xlsxCell},
    {"excel-sheet-name.xlsx", "pangolin", office::xlsxSheetName},
    {"powerpoint-slide.pptx", "aubergine", office::pptxSlide},
    {"powerpoint-notes.pptx", "tourmaline", office::pptxNotes},
    {"book.epub", "saltmarsh", office::epub},
    {"rtf-table.rtf", "whinchat", rtfTable},
    {"markdown.md", "foxglove", markdown},
    {"latex.tex", "nightjar", latex},
    {"table.csv", "damson", csv},
    {"data.json", "samphire", json},
    {"data.xml", "moorhen", xml},
    {"source.c", "ptarmigan", cSource},
    {"script.py", "sandpiper", python},
    {"utf16-bom.txt", "kittiwake", utf16},
    {"windows-1252.txt", "soup\xc3\xa7onneux", windows1252},
    {"after-2-mib.txt", "marshwort", afterTwoMiB},
    {"end-of-30-mb.log", "shearwater", logTail},
    {"pdf-title.pdf", "stonechat", media::pdfTitle},
    {"pdf-page-30.pdf", "greenshank", media::pdfPage30},
    {"pdf-form-field.pdf", "redpoll", media::pdfFormField},
    {"pdf-scanned.pdf", "bluethroat", media::pdfScanned},
    {"html-title.html", "goldcrest", htmlTitle},
    {"html-description.html", "firecrest", htmlDescription},
    {"drawing.svg", "wryneck", svg},
    {"mail-subject.eml", "dunlin", emlSubject},
    {"mail-quoted-printable.eml", "turnstone", emlQuotedPrintable},
    {"mail-attachment.eml", "godwit", emlAttachment},
    {"mailbox.mbox", "whimbrel", mbox},
    {"id3-title.mp3", "nuthatch", media::mp3Title},
    {"vorbis-comment.flac", "treecreeper", media::flacComment},
    {"itunes-title.m4a", "yellowhammer", media::m4aTitle},
    {"xmp-subject.jpg", "chiffchaff", media::jpegXmpSubject},
    {"iptc-keyword.jpg", "bullfinch", media::jpegIptcKeyword},
    {"png-text.png", "waxwing", media::pngText},
    {"tiff-description.tif", "redstart", media::tiffDescription},
    {"xdg-tags.txt", "hawfinch", plain},
    {"xdg-comment.txt", "brambling", plain},
    {"wheatear.txt", "wheatear", plain},
    {"dotterel/notes.txt", "dotterel", plain},
    {"he\xcc\x81licoi\xcc\x88" "de.txt", "he\xcc\x81licoi\xcc\x88" "de", plain},  // decomposed (NFD)
    {"accents.txt", "cr\xc3\xa9maill\xc3\xa8re", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("On the wall hangs a ") + w + QLatin1Char('.'));
     }},
    {"eszett.txt", "Gro\xc3\x9fvaterstuhl", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("Im Zimmer steht ein alter ") + w + QLatin1Char('.'));
     }},
    {"cyrillic.txt", "\xd1\x87\xd0\xb5\xd1\x80\xd0\xb5\xd0\xbf\xd0\xb0\xd1\x85\xd0\xb0", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("Во дворе сидела ") + w + QStringLiteral(" и грелась на солнце."));
     }},
    {"greek.txt", "\xcf\x87\xce\xb5\xce\xbb\xce\xb9\xce\xb4\xcf\x8c\xce\xbd\xce\xb9", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("Στη στέγη κάθεται ένα ") + w + QLatin1Char('.'));
     }},
    {"chinese.txt", "\xe8\x9d\xb4\xe8\x9d\xb6", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("我们在图书馆里找到了") + w + QStringLiteral("标本然后回家了。"));
     }},
    {"japanese.txt", "\xe4\xb8\x87\xe8\x8f\xaf\xe9\x8f\xa1", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("きのうは図書館で") + w + QStringLiteral("を買いました。"));
     }},
    {"number.txt", "734918", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("The invoice number is ") + w + QLatin1Char('.'));
     }},
    {"hyphenated.txt", "bittern-hide", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("We sat in the ") + w + QStringLiteral(" until dusk."));
     }},
    {"camelcase.txt", "gannetRecordParser", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("Call ") + w + QStringLiteral("() to read the file."));
     }},
    {"email-address.txt", "merganser@example.org", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("Write to ") + w + QStringLiteral(" for a copy."));
     }},
    {"long-word.txt", "hippopotomonstrosesquipedalian", [](const QString& p, const QString& w) {
       return text(p, QStringLiteral("The longest word here is ") + w + QLatin1Char('.'));
     }},
    {"zip-member-name.zip", "avocet", office::zipMemberName},
    {"zip-member-text.zip", "shoveler", office::zipMemberText},
};

}  // namespace

QStringList probeNames() {
  QStringList names;
  for (const Probe& p : kProbes) names << QString::fromUtf8(p.file);
  return names;
}

bool writeProbe(const QString& name, const QString& folder) {
  for (const Probe& p : kProbes) {
    if (name != QString::fromUtf8(p.file)) continue;
    const QString path = QDir(folder).filePath(name);
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    return p.write(path, QString::fromUtf8(p.word));
  }
  return false;
}

}  // namespace probegen
