#pragma once

#include <string>
#include <string_view>

// The Wine prefix: $WINEPREFIX, else $HOME/.wine (the home folder from the password
// database when HOME is unset). Without a trailing "/"; "" when there is no home folder.
std::string winePrefix();

// The hive of HKEY_CURRENT_USER in a prefix.
std::string wineUserHive(const std::string& prefix);

// A Windows path as a Linux one. "C:\x\y" goes through the prefix's dosdevices/c: link (for
// drive C, prefix/drive_c when there is no such link; for another drive without a link, the
// link's own path, which then does not exist). Separators become "/", runs of them one "/",
// and a trailing separator stays. A path without a drive letter keeps its text with "\"
// turned into "/".
std::string windowsToLinuxPath(std::string_view windowsPath, const std::string& prefix);
