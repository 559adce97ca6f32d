#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The same bytes for the same size and seed on every run.
std::string randomBytes(std::size_t size, unsigned seed = 42);

// The text split at "\n", without the separators; a final "\n" adds no empty line.
std::vector<std::string> linesOf(const std::string& text);
