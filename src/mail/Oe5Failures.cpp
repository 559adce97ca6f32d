#include "mail/Oe5Failures.h"

#include <sys/stat.h>

#include <cerrno>

#include "mail/ByteStreams.h"

namespace {

// Own reasons, as the "ERROR - " line shows them.
constexpr char kNotRegular[] = "no es un archivo normal";
constexpr char kIsFolder[] = "es una carpeta, no un archivo";

}  // namespace

Oe5Absent storeFileAbsent(const std::string& path) {
  return Oe5Absent(cannotOpenFileText(path), path, systemReason(ENOENT));
}

Oe5Refused storeFileRefused(const std::string& path, const std::string& reason) {
  return Oe5Refused(cannotOpenFileText(path), path, reason);
}

ResguardaError notRegularFile(const std::string& path, mode_t mode) {
  return cannotOpenFile(path, S_ISDIR(mode) ? kIsFolder : kNotRegular);
}

Oe5ReadFailed storeReadFailed(const std::string& path, int err) {
  return Oe5ReadFailed(kStreamReadError, path, systemReason(err));
}
