#pragma once

#include <string>
#include <vector>

// Sorts folder names as a person reads them: without regard to case, and numbers by their
// value ("USB 2" before "USB 10"), whatever collation the system's locale offers. Ties keep
// a fixed order by bytes.
void sortByDisplayName(std::vector<std::string>& names);
