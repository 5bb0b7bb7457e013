// Word 97-2003 documents (.doc): the text of the WordDocument stream of the
// OLE compound file, found through the piece table (the Clx in the 0Table or
// 1Table stream), and the document properties of the SummaryInformation
// stream, read with libgsf.
//
// What it gives the sink:
// - text: the main text, then footnotes, headers and footers, comments,
//   endnotes and text boxes, in the order Word stores them; one paragraph a
//   line (paragraph marks, line, page and column breaks and table cell
//   marks end a line; empty lines dropped). Field codes are left out and
//   their results kept (a hyperlink's text, not its address); picture
//   anchors, note reference marks and optional hyphens are dropped, and so
//   is text deleted with revision marking on (not yet accepted, and not
//   shown to a reader).
//   8-bit pieces are read as Windows-1252, the others as UTF-16.
// - attributes: kMDItemTitle, kMDItemAuthors, kMDItemSubject,
//   kMDItemDescription (comments) and keywords (split on commas and
//   semicolons), where the properties hold them.
//
// Status: Imported; Encrypted for a password-protected document;
// Unreadable for a file that is not an OLE compound file, lacks the Word
// streams, predates Word 97 or has a damaged piece table. Pieces that point
// outside the stream are skipped. Safe to call from several threads.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& docImporter();
}
