#include "tasks/ExtraerPalabra.h"

namespace {

bool isDelimiter(char c) {
  return c == ' ' || c == '\r' || c == '\n';
}
bool isTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

std::string ExtraerPalabra(int n, const std::string& text) {
  int word = 0;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isDelimiter(text[i])) ++i;
    if (i == text.size()) break;
    size_t end = i;
    while (end < text.size() && !isDelimiter(text[end])) ++end;
    if (++word == n) {
      size_t first = i, last = end;
      while (first < last && isTrimmed(text[first])) ++first;
      while (last > first && isTrimmed(text[last - 1])) --last;
      return text.substr(first, last - first);
    }
    i = end;
  }
  return {};
}

std::string lastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
