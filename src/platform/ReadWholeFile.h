#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The whole content of a regular file of at most maxBytes; nothing when no file is there.
// Throws "Cannot open file <path>" with the reason when one is there but cannot be read whole:
// unreadable, not a regular file (a FIFO would block) or larger.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes);

// The same for a file read on a best-effort basis (the mount table, the user's folder list,
// the system's name): nothing when it cannot be read either.
std::optional<std::string> readWholeFileIfReadable(const std::string& path, std::size_t maxBytes);
