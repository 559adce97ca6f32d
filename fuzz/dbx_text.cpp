// Text chain of an untrusted store file: the first four bytes name the first block, the rest
// is the file.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mail/uoexpress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int32_t textPos = 0;
  std::memcpy(&textPos, data, 4);
  Oe5Memory file({data + 4, size - 4});
  const std::string text = oe5_ReadMessageText(file, textPos);
  // Every line of the result ends in CR LF, and nothing else breaks lines.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) __builtin_trap();
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) __builtin_trap();
  }
  if (text.size() > 2 * (size - 4) + 2) __builtin_trap();
  return 0;
}
