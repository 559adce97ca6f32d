#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The whole content of a regular file of at most maxBytes; nullopt when it is missing,
// unreadable, not a regular file (a FIFO would block) or larger.
// With `error`, it also tells why: the errno (EINVAL for a file that is not a regular one,
// EFBIG for a larger one).
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes,
                                         int* error = nullptr);
