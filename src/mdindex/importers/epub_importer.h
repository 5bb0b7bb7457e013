// EPUB books (a zip: META-INF/container.xml names the package document,
// whose spine lists the chapters).
//
// What it gives the sink:
// - text: the spine's XHTML and HTML documents in reading order, each read
//   as HTML files are (html_importer.h: visible text, a line per block),
//   documents separated by "\n"; a document listed twice is read once.
//   Other media (images, SVG) and manifest items outside the spine (the
//   navigation document, unless the spine lists it) are not read.
// - attributes from the package metadata: kMDItemTitle (the first
//   dc:title), kMDItemAuthors (every dc:creator), keywords (every
//   dc:subject: a book's subjects are its keywords), kMDItemDescription
//   (dc:description).
//
// Status: Imported; Unreadable for a damaged zip, a missing container or
// package document, or malformed package XML (a damaged chapter costs only
// itself); Encrypted when META-INF/encryption.xml covers a spine document
// (DRM; obfuscated fonts alone do not count) or zip members are encrypted;
// TooLarge for a zip that would inflate beyond ArchiveLimits. Stateless and
// safe to call from several threads.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& epubImporter();
}
