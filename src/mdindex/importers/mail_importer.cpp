// GMime parses the message structure, decodes headers (RFC 2047 words) and
// undoes transfer encodings and charsets; this file decides which parts are
// the readable body and which are attachments.
#include "mdindex/importers/mail_importer.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mdindex/core/fold.h"
#include "mdindex/importers/html_importer.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {
namespace {

struct Unref {
  void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

std::string utf8(const char* s) { return s ? sanitizeUtf8(trimAscii(s)) : std::string(); }

// Names (else addresses) and addresses of every mailbox in `list`, groups
// opened up.
void collectAddresses(InternetAddressList* list, std::vector<std::string>& names, std::vector<std::string>& addresses,
                      int depth = 0) {
  if (!list || depth > 4) return;
  const int n = internet_address_list_length(list);
  for (int i = 0; i < n && names.size() < mail::kMaxParts; ++i) {
    InternetAddress* a = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(a)) {
      collectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), names, addresses, depth + 1);
      continue;
    }
    if (!INTERNET_ADDRESS_IS_MAILBOX(a)) continue;
    const std::string addr = utf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)));
    const std::string name = utf8(internet_address_get_name(a));
    if (!name.empty() || !addr.empty()) names.push_back(name.empty() ? addr : name);
    if (!addr.empty()) addresses.push_back(addr);
  }
}

// The text of one text part, decoded to UTF-8 (HTML read as web pages are).
std::string partText(GMimeTextPart* part) {
  char* raw = g_mime_text_part_get_text(part);
  if (!raw) return {};
  std::string text = raw;
  g_free(raw);
  // A part that declares no charset and is not UTF-8 is most likely
  // Windows-1252, as mail clients of that kind write it.
  if (!isValidUtf8(text)) text = windows1252ToUtf8(text);
  // Mail lines end in CRLF on the wire; text elsewhere ends them in LF.
  size_t out = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) text[out++] = text[i];
  text.resize(out);
  GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part));
  if (type && g_mime_content_type_is_type(type, "text", "html")) {
    HtmlContent html;
    return readHtml(text, html) ? html.text : std::string();
  }
  return std::string(trimAscii(text));
}

// The size of a part's content as the message holds it (before decoding).
int64_t encodedSize(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  GMimeStream* stream = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
  return stream ? g_mime_stream_length(stream) : -1;
}

// Reads messages one after another into the sink: each one's subject and
// body text, then its attachment names.
class MessageReader {
 public:
  explicit MessageReader(Sink& sink) : sink_(sink) {}

  void message(GMimeMessage* message) {
    parts_ = 0;
    attachments_.clear();
    read(message, 0);
    for (const Attachment& a : attachments_) {
      add(a.name);
      add(a.text);
    }
  }

 private:
  void read(GMimeMessage* message, int depth) {
    add(utf8(g_mime_message_get_subject(message)));
    walk(g_mime_message_get_mime_part(message), depth);
  }

  void add(const std::string& text) {
    if (text.empty() || sink_.full()) return;
    if (wrote_) sink_.addText("\n");
    sink_.addText(text);
    wrote_ = true;
  }

  bool isAttachment(GMimeObject* part) const {
    if (!GMIME_IS_PART(part)) return false;
    return g_mime_part_is_attachment(GMIME_PART(part)) || g_mime_part_get_filename(GMIME_PART(part)) != nullptr;
  }

  void walk(GMimeObject* part, int depth) {
    if (!part || depth > mail::kMaxDepth || ++parts_ > mail::kMaxParts || sink_.full()) return;
    if (GMIME_IS_MESSAGE_PART(part)) {
      if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part))) read(inner, depth + 1);
      return;
    }
    if (GMIME_IS_MULTIPART_ENCRYPTED(part)) return;
    if (GMIME_IS_MULTIPART(part)) {
      GMimeMultipart* multi = GMIME_MULTIPART(part);
      const int n = g_mime_multipart_get_count(multi);
      GMimeContentType* type = g_mime_object_get_content_type(part);
      if (type && g_mime_content_type_is_type(type, "multipart", "alternative")) {
        walk(preferredAlternative(multi, n), depth + 1);
        return;
      }
      for (int i = 0; i < n && parts_ <= mail::kMaxParts; ++i) walk(g_mime_multipart_get_part(multi, i), depth + 1);
      return;
    }
    if (isAttachment(part)) {
      Attachment a{utf8(g_mime_part_get_filename(GMIME_PART(part))), {}};
      if (GMIME_IS_TEXT_PART(part) && encodedSize(GMIME_PART(part)) <= mail::kMaxAttachedTextBytes)
        a.text = partText(GMIME_TEXT_PART(part));
      if (!a.name.empty() || !a.text.empty()) attachments_.push_back(std::move(a));
      return;
    }
    if (GMIME_IS_TEXT_PART(part)) add(partText(GMIME_TEXT_PART(part)));
  }

  // Of the alternatives, plain text first, else the first one (usually
  // HTML, or a nested multipart holding it).
  static GMimeObject* preferredAlternative(GMimeMultipart* multi, int n) {
    for (int i = 0; i < n; ++i) {
      GMimeObject* p = g_mime_multipart_get_part(multi, i);
      GMimeContentType* t = g_mime_object_get_content_type(p);
      if (t && g_mime_content_type_is_type(t, "text", "plain")) return p;
    }
    return n > 0 ? g_mime_multipart_get_part(multi, 0) : nullptr;
  }

  Sink& sink_;
  bool wrote_ = false;
  size_t parts_ = 0;
  struct Attachment {
    std::string name, text;
  };
  std::vector<Attachment> attachments_;
};

void messageAttributes(GMimeMessage* message, Sink& sink) {
  const std::string subject = utf8(g_mime_message_get_subject(message));
  if (!subject.empty()) {
    sink.setAttribute("kMDItemSubject", subject);
    sink.setAttribute(attr::Title, subject);
  }
  std::vector<std::string> names, addresses;
  collectAddresses(g_mime_message_get_from(message), names, addresses);
  if (!names.empty()) sink.setAttribute(attr::Authors, names);
  if (!addresses.empty()) sink.setAttribute("kMDItemAuthorEmailAddresses", addresses);
  names.clear();
  addresses.clear();
  collectAddresses(g_mime_message_get_to(message), names, addresses);
  collectAddresses(g_mime_message_get_cc(message), names, addresses);
  if (!names.empty()) sink.setAttribute("kMDItemRecipients", names);
  if (!addresses.empty()) sink.setAttribute("kMDItemRecipientEmailAddresses", addresses);
  if (GDateTime* date = g_mime_message_get_date(message))
    sink.setAttribute(attr::ContentCreationDate, Date{static_cast<double>(g_date_time_to_unix(date))});
}

// A mailbox starts with a "From " separator line (and so does a message
// saved by some mail programs: it is then a mailbox of one).
bool looksLikeMailbox(int fd) {
  char head[5] = {};
  const bool mbox = ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                    std::string_view(head, sizeof head) == "From ";
  return mbox;
}

class MailImporter final : public Importer {
 public:
  std::string name() const override { return "Mail.mdimporter"; }
  std::vector<std::string> utis() const override { return {"com.apple.mail.email", "com.apple.mail.mbox"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
    const int fd = openImportedFile(path);
    if (fd < 0) return ImportStatus::Unreadable;
    const bool mailbox = looksLikeMailbox(fd);
    GPtr<GMimeStream> stream(g_mime_stream_fs_new(fd));  // owns fd from here
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), mailbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);

    size_t messages = 0;
    MessageReader reader(sink);
    GPtr<GMimeMessage> first;
    while (messages < (mailbox ? mail::kMaxMessages : 1) && !sink.full() && !g_mime_parser_eos(parser.get())) {
      GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
      if (!message) break;
      ++messages;
      reader.message(message.get());
      if (!first) first = std::move(message);
    }
    // A single message saved with a mailbox's "From " line (as some mail
    // programs save one) is still described as a message.
    if (messages == 1) messageAttributes(first.get(), sink);
    return messages > 0 ? ImportStatus::Imported : ImportStatus::Unreadable;
  }
};

}  // namespace

const Importer& mailImporter() {
  static const MailImporter importer;
  return importer;
}

}  // namespace mdindex
