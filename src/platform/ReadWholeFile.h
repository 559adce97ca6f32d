#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The whole content of a regular file of at most maxBytes; nullopt when it is missing,
// unreadable, not a regular file (a FIFO would block) or larger.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes);
