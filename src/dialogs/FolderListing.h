#pragma once

#include <optional>
#include <string>
#include <vector>

class PseudoFileSystems;

// The names of the folders inside `folder`, links to folders included, in the order the file
// system gives them. Names beginning with "." only when `withHidden`. Nothing is listed
// inside a pseudo file system (/proc, /sys...): their entries are no place for a backup.
// nullopt when the folder cannot be listed.
std::optional<std::vector<std::string>> listSubfolders(const std::string& folder, bool withHidden,
                                                       PseudoFileSystems& pseudo);

// Creates one folder (the parent must exist); throws ResguardaError with the reason.
void createFolder(const std::string& path);
