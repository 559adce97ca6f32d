#include "mail/OutputFile.h"

#include <sys/stat.h>

#include <cerrno>

#include "mail/ByteStreams.h"
#include "platform/Errors.h"
#include "platform/NewFile.h"

namespace {

NewFileOptions optionsFor(IfExists ifExists, mode_t mode) {
  NewFileOptions options;
  options.mode = mode;
  // A link in the name's place is replaced itself, never written through.
  options.replaceLink = true;
  options.existing = ifExists == IfExists::Fail ? NewFileOptions::Existing::Keep
                                                : NewFileOptions::Existing::Replace;
  return options;
}

}  // namespace

mode_t ordinaryFileMode() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

void writeOutputFile(int dirFd, const std::string& name, const std::string& path,
                     std::string_view bytes, IfExists ifExists, mode_t mode) {
  NewFile file(dirFd, name.c_str(), path, optionsFor(ifExists, mode));
  FdOutputStream(file.fd(), path).write(bytes.data(), bytes.size());
  file.commit();
}

void writeOutputFile(int dirFd, const std::string& name, const std::string& path,
                     const std::function<void(OutputByteStream&)>& produce, IfExists ifExists,
                     mode_t mode) {
  NewFile file(dirFd, name.c_str(), path, optionsFor(ifExists, mode));
  FdOutputStream out(file.fd(), path);
  produce(out);
  file.commit();
}
