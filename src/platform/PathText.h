#pragma once

#include <string>
#include <string_view>

// Small text rules for paths and names, which are byte strings: only ASCII letters fold, so a
// UTF-8 or Latin-1 name is never changed or matched by accident.

// The path's normal form: every trailing "/" removed, except that the root "/" stays.
std::string withoutTrailingSlash(std::string path);

// A folder's path with exactly one trailing "/", so that a name can be appended; "" stays "".
std::string withTrailingSlash(std::string folder);

// folder + "/" + name, without doubling a "/" the folder already ends with.
std::string joinPath(std::string folder, std::string_view name);

// "." and ".." resolved by text alone, and repeated "/" folded ("a/./b/../c" -> "a/c"); a
// relative path keeps the ".." it cannot resolve, and nothing at all is ".".
std::string lexicallyNormal(const std::string& path);

// 'A'..'Z' to 'a'..'z'; every other byte, including those above 0x7F, as it is.
char asciiLower(char c);
std::string asciiLower(std::string_view text);

// Same length and the same bytes once ASCII letters are folded.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
