#pragma once

#include <string>
#include <string_view>

#include "mail/uoexpress.h"

class ExportSink;

// The mail extraction task: for every message of the store that carries an attachment,
// writes the whole message to dirDestino + "mensajes/" + folder + "/" and each attachment,
// decoded from Base64, to dirDestino + "adjuntos/" + folder + "/". Messages without one are
// only counted. Failing to read folders.dbx raises cannotOpenFile; a folder or message that
// fails is skipped (failed writes are reported through sink.failed first).
void ExtraerMensajes(const std::string& storeFolder, const std::string& dirDestino,
                     ExportSink& sink);

// Pieces of the export, exposed for tests.
namespace mail_export {

// A folder's display name made into one path component that stays inside its parent.
std::string folderComponent(const std::string& name);

// The attachment name found after the "name=" that follows position from, with its
// terminator (closing quote or CR) as last character. lower is text lower-cased.
std::string attachmentName(std::string_view text, std::string_view lower, size_t from);

// "dd/mm/yyyy h:mm:ss" of a received time in local time; the time is left out at midnight,
// and a zero time gives the empty text.
std::string dateText(const Toe5_FileTime& received);

}  // namespace mail_export
