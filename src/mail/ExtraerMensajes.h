#pragma once

#include <string>
#include <string_view>

// The names the export gives its files come with it.
#include "mail/MessageNames.h"

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
