#pragma once

#include <string>
#include <utility>
#include <vector>

// The process's environment, the user it runs for, and where it keeps its state. Every part of
// the program reads them here, so each follows one rule.

// The value of the variable `name`; "" when it is unset.
std::string environmentValue(const char* name);

// Every variable of the process, as name and value, in the order the environment holds them.
std::vector<std::pair<std::string, std::string>> environmentVariables();

// Whether the variable `name` is set, even to "".
bool environmentIsSet(const char* name);

// The home folder: $HOME, else the password database's entry; "" when neither is known.
std::string homeFolder();

// The login name of the effective user, from the password database, else $USER or $LOGNAME;
// "" when none is known. Read once.
std::string loginName();

// The state folder: <stateHome>/resguarda when `xdgStateHome` is absolute (relative values are
// ignored), else <home>/.local/state/resguarda when `home` is absolute, else "". No trailing "/".
std::string stateFolder(const std::string& home, const std::string& xdgStateHome);
// The same, from $HOME and $XDG_STATE_HOME.
std::string stateFolder();
