#pragma once

#include <sys/types.h>

#include <cstddef>

// Writes all `size` bytes, going on after short writes and interruptions. Returns 0, or the
// errno of the failure (ENOSPC for a write that moves nothing).
int writeAll(int fd, const char* data, std::size_t size);
// The same at `offset`, leaving the file offset alone.
int writeAllAt(int fd, const char* data, std::size_t size, off_t offset);
