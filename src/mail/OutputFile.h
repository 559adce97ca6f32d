#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

class OutputByteStream;

// What to do when a file of the name is already there.
enum class IfExists { Replace, Fail };

// Writes the file `name` inside the open folder `dirFd` so that it appears whole or not at
// all: the bytes go to an unnamed file in that folder (a short hidden name where the file
// system has none), linked in under `name` once complete, or renamed over the file already
// there. A failure, or the process being killed, never leaves a partial file nor spoils the
// old one. The file gets `mode` (callers pass ordinaryFileMode()).
//
// Nothing is written through a link: a link in the name's place is replaced, not followed.
// A file already there that this user may not write (for root: one without any write bit)
// is never replaced, nor is a folder; with IfExists::Fail no file is. `path` names the file
// in errors. Throws ResguardaError ("Unable to write to <path>", with the system's reason).
void writeOutputFile(int dirFd, const std::string& name, const std::string& path,
                     std::string_view bytes, IfExists ifExists = IfExists::Replace,
                     mode_t mode = 0644);
// The same with the bytes given by produce, which writes them to the stream it is handed
// (and may throw: nothing is then put in place).
void writeOutputFile(int dirFd, const std::string& name, const std::string& path,
                     const std::function<void(OutputByteStream&)>& produce,
                     IfExists ifExists = IfExists::Replace, mode_t mode = 0644);

// The mode of any new file: 0666 less the umask. Reading the umask means setting it for a
// moment: call it before other threads make files.
mode_t ordinaryFileMode();
