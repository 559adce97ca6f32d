#pragma once

#include <string>
#include <string_view>

#include "mail/uoexpress.h"

class ExportSink;

// The mail extraction task: for every message of the store that carries an attachment,
// writes the whole message to dirDestino + "mensajes/" + folder + "/" and each attachment,
// decoded from Base64, to dirDestino + "adjuntos/" + folder + "/". Messages without one are
// only counted. Failing to read folders.dbx raises cannotOpenFile; a folder or message that
// fails is skipped. Reported through sink.failed first: a file that could not be written
// (or may not be, being read-only), an output folder that cannot be made or has a link in
// its place (the rest of that folder is left out), and, once per file, a store file that
// exists but could not be read in full (not opened, refused, an I/O error, a damaged index
// or message text: whatever could still be found is exported). A folder file that does not
// exist is passed over without a word.
// The store is read and decoded on a thread of the export's own; every call to sink is
// made on the caller's thread.
void ExtraerMensajes(const std::string& storeFolder, const std::string& dirDestino,
                     ExportSink& sink);

// Pieces of the export, exposed for tests.
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

}  // namespace mail_export
