#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mail/uoexpress.h"

// The names the mail export gives what it writes: folders, message files and attachments.
namespace mail_export {

// A folder's display name made into one path component that stays inside its parent.
std::string folderComponent(const std::string& name);

// The attachment name found after the "name=" that follows position from, with its
// terminator (closing quote or CR) as last character.
std::string attachmentName(std::string_view text, size_t from);

// Position of a lower-case needle in text at or after from, ignoring ASCII case; npos if none.
size_t findIgnoringCase(std::string_view text, size_t from, std::string_view needle);

// "dd/mm/yyyy h:mm:ss" of a received time in local time; the time is left out at midnight,
// and a zero time gives the empty text.
std::string dateText(const Toe5_FileTime& received);

// The .eml file a message with attachments is written to, named after its sender, subject,
// date and first attachment (as attachmentName found it).
std::string messageFileName(const Toe5_MessageInfo& message, const std::string& firstAttachment);

// Where an attachment goes in its folder, and how the log shows it.
struct AttachmentNames {
  std::string stored;  // the file's name in adjuntos/<folder>/
  std::string logged;  // the name the log line shows
};
// The names of the attachment found as rawName (as attachmentName found it).
AttachmentNames attachmentNames(const std::string& rawName);

}  // namespace mail_export
