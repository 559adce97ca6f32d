#include <algorithm>
#include <cstring>

#include "mail/Oe5Layout.h"
#include "mail/uoexpress.h"

void readZeroFilled(Oe5Source& file, uint64_t offset, uint8_t* dst, size_t len) {
  const size_t got = file.read(offset, dst, len);
  if (got < len) std::memset(dst + got, 0, len - got);
}

uint32_t readU32(Oe5Source& file, uint64_t offset) {
  uint8_t bytes[4];
  readZeroFilled(file, offset, bytes, sizeof bytes);
  return le32(bytes);
}

const uint8_t* Oe5Source::view(uint64_t offset, size_t len, uint8_t* scratch) {
  readZeroFilled(*this, offset, scratch, len);
  return scratch;
}

const uint8_t* Oe5Memory::view(uint64_t offset, size_t len, uint8_t* scratch) {
  if (offset < bytes_.size() && len <= bytes_.size() - offset) return bytes_.data() + offset;
  return Oe5Source::view(offset, len, scratch);
}

size_t Oe5Memory::read(uint64_t offset, void* dst, size_t len) {
  if (offset >= bytes_.size()) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(len, bytes_.size() - offset));
  std::memcpy(dst, bytes_.data() + offset, n);
  return n;
}
