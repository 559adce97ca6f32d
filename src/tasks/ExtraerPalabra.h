#pragma once

#include <string>

// The n-th word (from 1) of text. Words are split at blank, CR and LF only; the word is
// returned without leading and trailing characters of codes 0 to 32. Empty when text has
// fewer than n words.
std::string ExtraerPalabra(int n, const std::string& text);

// The last component of a path: the text after its last "/" (the whole text without one).
std::string lastComponent(const std::string& path);
