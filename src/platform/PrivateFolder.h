#pragma once

#include <string>

// Creates the missing folders down to `folder`, each new one readable by its owner only
// (what the program keeps there names the user's files). The folder itself must then be a
// folder of this user's and no link: a program run as root with another user's HOME must not
// be led to write where that user chooses. Returns 0 or an errno (ELOOP for a link, EPERM for
// another owner).
int makePrivateFolder(const std::string& folder);
