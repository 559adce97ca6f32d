#pragma once

#include <string>

// Creates the destination folder with all its missing parents, never where a removable disk
// is mounted (see createFolderChain). True when the folder exists afterwards.
bool createDestinationFolder(const std::string& path);
