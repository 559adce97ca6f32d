#pragma once

#include <sys/types.h>
#include <string>

#include "mail/uoexpress.h"

// The failures the store reader raises from more than one place, each built here only.

// A store file that does not exist (or a folder record naming none).
Oe5Absent storeFileAbsent(const std::string& path);

// A store file that is not read because a sound store never looks like it.
Oe5Refused storeFileRefused(const std::string& path, const std::string& reason);

// An entry of the store folder that is a folder, a device or a FIFO.
ResguardaError notRegularFile(const std::string& path, mode_t mode);

// The system failed to give the bytes of an open store file.
Oe5ReadFailed storeReadFailed(const std::string& path, int err);
