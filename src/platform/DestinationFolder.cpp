#include "platform/DestinationFolder.h"

#include "platform/FolderChain.h"

bool createDestinationFolder(const std::string& path) {
  return !path.empty() && createFolderChain(path) == 0;
}
