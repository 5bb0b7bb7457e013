#include "mdindex/core/attributes.h"

#include <algorithm>
#include <iterator>

namespace mdindex {

namespace {

constexpr AttributeInfo kAttributes[] = {
    {attr::AcquisitionMake, ValueKind::String, false, "Maker of the camera or scanner that made the image"},
    {attr::AcquisitionModel, ValueKind::String, false, "Model of the camera or scanner that made the image"},
    {"kMDItemAlbum", ValueKind::String, false, "Album the recording belongs to"},
    {"kMDItemAudioBitRate", ValueKind::Number, false, "Bit rate of the audio, in kilobits per second"},
    {"kMDItemAudioChannelCount", ValueKind::Number, false, "Number of audio channels"},
    {"kMDItemAudioSampleRate", ValueKind::Number, false, "Sample rate of the audio, in hertz"},
    {"kMDItemAudioTrackNumber", ValueKind::Number, false, "Track number of the recording on its album"},
    {"kMDItemAuthorEmailAddresses", ValueKind::StringArray, false, "E-mail addresses of the authors (a message's sender)"},
    {attr::Authors, ValueKind::StringArray, false, "Authors of the document"},
    {attr::Comment, ValueKind::String, true, "Comment stored in the document, or the file's user.xdg.comment attribute"},
    {"kMDItemComposer", ValueKind::String, false, "Composer of the music"},
    {attr::ContentCreationDate, ValueKind::Date, false, "When the content was created"},
    {attr::ContentModificationDate, ValueKind::Date, false, "When the content was last changed"},
    {attr::ContentType, ValueKind::String, false, "Uniform type identifier of the file"},
    {attr::ContentTypeTree, ValueKind::StringArray, false, "The type and every type it conforms to"},
    {attr::Description, ValueKind::String, true, "Description stored in the document"},
    {attr::DisplayName, ValueKind::String, false, "Name shown to the user"},
    {"kMDItemDurationSeconds", ValueKind::Number, false, "Playing time of the recording, in seconds"},
    {attr::FSContentChangeDate, ValueKind::Date, false, "When the file was last modified"},
    {attr::FSCreationDate, ValueKind::Date, false, "When the file was created (its modification time where the file system keeps no birth time)"},
    {attr::FSName, ValueKind::String, false, "File name"},
    {attr::FSOwnerGroupID, ValueKind::Number, false, "Group id of the file's group"},
    {attr::FSOwnerUserID, ValueKind::Number, false, "User id of the file's owner"},
    {attr::FSSize, ValueKind::Number, false, "Size of the file in bytes"},
    {attr::Keywords, ValueKind::StringArray, false,
     "Keywords, from the document, the keywords extended attribute and the file's tags"},
    {attr::Kind, ValueKind::String, false, "Kind of document, in words"},
    {"kMDItemMusicalGenre", ValueKind::String, false, "Genre of the music"},
    {attr::NumberOfPages, ValueKind::Number, false, "Number of pages"},
    {attr::Path, ValueKind::String, false, "Absolute path of the file"},
    {attr::PixelHeight, ValueKind::Number, false, "Height of the image in pixels"},
    {attr::PixelWidth, ValueKind::Number, false, "Width of the image in pixels"},
    {"kMDItemRecipientEmailAddresses", ValueKind::StringArray, false, "E-mail addresses of a message's recipients"},
    {"kMDItemRecipients", ValueKind::StringArray, false, "Recipients of a message (To and Cc), by name where given"},
    {"kMDItemRecordingYear", ValueKind::Number, false, "Year the recording was made"},
    {attr::Subject, ValueKind::String, true, "Subject of the document"},
    {attr::TextContent, ValueKind::String, true, "Text of the document (searchable, never listed by mdls)"},
    {attr::TextContentTruncated, ValueKind::Number, false,
     "Set only when the document holds more text than an import keeps (32 MiB): the bytes of text kept; "
     "words past them are not found"},
    {attr::Title, ValueKind::String, false, "Title of the document"},
    {attr::UserTags, ValueKind::StringArray, false, "Tags the user gave the file (its user.xdg.tags attribute)"},
};

constexpr bool sortedByName() {
  for (size_t i = 1; i < std::size(kAttributes); ++i)
    if (!(std::string_view(kAttributes[i - 1].name) < std::string_view(kAttributes[i].name))) return false;
  return true;
}
static_assert(sortedByName(), "attributeTable() promises name order, and findAttribute searches by it");

}  // namespace

std::span<const AttributeInfo> attributeTable() { return kAttributes; }

const AttributeInfo* findAttribute(std::string_view name) {
  const auto it = std::lower_bound(std::begin(kAttributes), std::end(kAttributes), name,
                                   [](const AttributeInfo& a, std::string_view n) { return a.name < n; });
  return it != std::end(kAttributes) && it->name == name ? &*it : nullptr;
}

bool isLongText(std::string_view name) {
  const AttributeInfo* a = findAttribute(name);
  return a && a->longText;
}

const char* kindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::String:
      return "String";
    case ValueKind::StringArray:
      return "Array of strings";
    case ValueKind::Number:
      return "Number";
    case ValueKind::Date:
      return "Date";
  }
  return "String";
}

}  // namespace mdindex
