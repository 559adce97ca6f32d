#pragma once

#include <string>

// A file-name-safe form of s, at most 220 bytes long: control characters become blanks, the
// characters Windows forbids in names (and "/") become "_", and the last place is always a
// blank (it held the attachment name's closing quote).
std::string FiltrarNombre(const std::string& s);
