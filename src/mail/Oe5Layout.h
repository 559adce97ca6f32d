#pragma once

#include <cstddef>
#include <cstdint>

#include "mail/uoexpress.h"

// Where things lie in a store file, and the little-endian reads every part of the reader uses.

inline constexpr uint64_t kOe5RootNodeOffset = 48;
inline constexpr uint64_t kOe5ItemCountOffset = 196;
inline constexpr uint64_t kOe5HeaderEnd = kOe5ItemCountOffset + 4;
inline constexpr size_t kOe5NodeHeadSize = 24;
inline constexpr size_t kOe5NodeEntrySize = 12;
inline constexpr size_t kOe5RecordHeadSize = 12;
inline constexpr size_t kOe5TextBlockSize = 528;
inline constexpr size_t kOe5TextBlockHead = 16;
inline constexpr size_t kOe5TextBlockMax = 512;

inline uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads len bytes at offset; whatever lies past the end of the file reads as zero, and the
// self-checks then judge the result.
void readZeroFilled(Oe5Source& file, uint64_t offset, uint8_t* dst, size_t len);

uint32_t readU32(Oe5Source& file, uint64_t offset);
