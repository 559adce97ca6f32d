// Index walk of an untrusted store file, in both modes, then the text of every message listed.
#include <cstddef>
#include <cstdint>

#include "mail/uoexpress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Oe5Memory file({data, size});
  Toe5_IndexList list;
  oe5_ReadIndex(file, true, list);
  oe5_ReadIndex(file, false, list);
  for (const Toe5_MessageInfo& message : list.Messages) {
    oe5_ReadMessageText(file, message.TextPos);
  }
  return 0;
}
