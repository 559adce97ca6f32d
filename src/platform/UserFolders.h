#pragma once

#include <string>

// The user's own folders, as the desktop knows them (XDG user folders). Each is returned
// without a trailing "/" (except the root itself); a folder the platform does not know is "".
struct UserFolders {
  std::string personal;  // documents
  std::string desktop;
  std::string appData;    // $XDG_DATA_HOME, default ~/.local/share
  std::string favorites;  // no such folder on Linux

  // From HOME, XDG_CONFIG_HOME (user-dirs.dirs) and XDG_DATA_HOME of the process.
  static UserFolders fromEnvironment();

  // From explicit values; an empty or relative xdgConfigHome / xdgDataHome is taken as
  // unset, as the XDG rules say.
  static UserFolders load(const std::string& home, const std::string& xdgConfigHome,
                          const std::string& xdgDataHome);
};
