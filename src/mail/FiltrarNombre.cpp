#include "mail/FiltrarNombre.h"

#include <algorithm>
#include <cstring>

std::string FiltrarNombre(const std::string& s) {
  const size_t n = std::min<size_t>(220, s.size());
  std::string result(n, ' ');
  for (size_t i = 0; i + 1 < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c <= 13) continue;
    result[i] = std::strchr("\"*/:<>?\\|", c) != nullptr ? '_' : static_cast<char>(c);
  }
  return result;
}
