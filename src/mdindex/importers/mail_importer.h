// E-mail: single messages (.eml, RFC 5322) and Unix mailboxes (mbox, one
// file holding many messages, each after a "From " line), read with GMime.
//
// What it gives the sink, for each message:
// - text: the subject on the first line, then the body: every text part
//   that is not an attachment, in message order, transfer encoding
//   (quoted-printable, base64) undone and converted from its charset to
//   UTF-8; of a multipart/alternative only the plain-text part (its HTML
//   part, read as HTML files are, when there is no plain one). Forwarded
//   messages (message/rfc822 parts) are read the same way, in place. Then
//   the file name of every attachment, one a line, each followed by its
//   text when it is a text attachment of at most kMaxAttachedTextBytes (a
//   log, a note, a web page). Parts are separated by "\n".
// - attributes of a single message: kMDItemSubject and kMDItemTitle (the
//   subject), kMDItemAuthors (the sender's name, else address),
//   kMDItemAuthorEmailAddresses, kMDItemRecipients (To and Cc: names, else
//   addresses), kMDItemRecipientEmailAddresses, kMDItemContentCreationDate
//   (the Date header). A mailbox is one item with the text of its messages
//   one after another and no per-message attributes (unless it holds just
//   one message: a message saved after a "From " line).
//
// Bounds: at most kMaxParts parts of one message are visited, kMaxDepth
// levels deep; a mailbox stops at kMaxMessages messages or when the sink is
// full. Encrypted parts are skipped (the headers are still read).
//
// Status: Imported when at least one message was read; Unreadable when the
// file holds no message at all (an empty file, not a mailbox). Only reads
// the file. Safe to call from several threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mdindex/importers/importer.h"

namespace mdindex {

const Importer& mailImporter();

namespace mail {
inline constexpr size_t kMaxParts = 1000;
inline constexpr int kMaxDepth = 32;
inline constexpr size_t kMaxMessages = 100000;
inline constexpr int64_t kMaxAttachedTextBytes = 4 << 20;
}  // namespace mail

}  // namespace mdindex
