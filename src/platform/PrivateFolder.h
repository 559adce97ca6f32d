#pragma once

#include <string>

// Creates the missing folders down to the absolute `folder`, each new one readable by its owner
// only (what the program keeps there names the user's files). The deepest folder that already
// exists must be this user's when any is made: a program run as root with another user's HOME
// must not leave folders of its own in it. The folder itself must then be a folder of this
// user's and no link, so the program is not led to write where another user chooses. Returns 0
// or an errno (ELOOP for a link, EPERM for another owner).
int makePrivateFolder(const std::string& folder);

// The same for a caller that is about to write `file` in the folder: throws "Unable to write
// to <file>" with the reason.
void makePrivateFolderFor(const std::string& folder, const std::string& file);
