#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The environment that %NAME% references are expanded from: the process's variables, with
// names matched without regard to case, and for a name they lack, the value a Windows
// program under Wine would see (USERPROFILE = C:\users\<login>, APPDATA, ...).
class Environment {
 public:
  Environment(std::vector<std::pair<std::string, std::string>> variables, std::string loginName);

  static Environment fromProcess();

  std::optional<std::string> value(std::string_view name) const;

 private:
  std::vector<std::pair<std::string, std::string>> variables_;
  std::string loginName_;
};

// Longest expansion accepted; beyond it the expansion fails, as a too small buffer would.
inline constexpr std::size_t kMaxExpandedLength = 32767;

// Replaces each %NAME% by its value. A reference to an unknown name stays as written and the
// scan goes on after its closing "%"; a lone "%" stays. nullopt when the result would be
// longer than kMaxExpandedLength.
std::optional<std::string> expandEnvironmentStrings(std::string_view text,
                                                    const Environment& environment);
