#include "platform/EnvironmentStrings.h"

#include "platform/Environment.h"
#include "platform/PathText.h"

namespace {

// What Wine sets in a Windows program's environment, for the names the registry's paths
// commonly use.
std::optional<std::string> wineDefault(std::string_view name, const std::string& login) {
  static constexpr std::pair<std::string_view, std::string_view> fixed[] = {
      {"SYSTEMDRIVE", "C:"},
      {"HOMEDRIVE", "C:"},
      {"SYSTEMROOT", "C:\\windows"},
      {"WINDIR", "C:\\windows"},
      {"PROGRAMDATA", "C:\\ProgramData"},
      {"ALLUSERSPROFILE", "C:\\ProgramData"},
  };
  for (const auto& [key, text] : fixed) {
    if (equalsIgnoringAsciiCase(name, key)) return std::string(text);
  }
  if (login.empty()) return std::nullopt;
  const std::string profile = "C:\\users\\" + login;
  if (equalsIgnoringAsciiCase(name, "USERPROFILE")) return profile;
  if (equalsIgnoringAsciiCase(name, "APPDATA")) return profile + "\\AppData\\Roaming";
  if (equalsIgnoringAsciiCase(name, "LOCALAPPDATA")) return profile + "\\AppData\\Local";
  if (equalsIgnoringAsciiCase(name, "HOMEPATH")) return "\\users\\" + login;
  if (equalsIgnoringAsciiCase(name, "USERNAME")) return login;
  return std::nullopt;
}

}  // namespace

Environment::Environment(std::vector<std::pair<std::string, std::string>> variables,
                         std::string loginName)
    : variables_(std::move(variables)), loginName_(std::move(loginName)) {}

Environment Environment::fromProcess() {
  return Environment(environmentVariables(), loginName());
}

std::optional<std::string> Environment::value(std::string_view name) const {
  // An exact match first, so HOME is not shadowed by a Home set alongside it.
  for (const auto& [key, text] : variables_) {
    if (key == name) return text;
  }
  for (const auto& [key, text] : variables_) {
    if (equalsIgnoringAsciiCase(key, name)) return text;
  }
  return wineDefault(name, loginName_);
}

std::optional<std::string> expandEnvironmentStrings(std::string_view text,
                                                    const Environment& environment) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    const std::size_t close =
        open == std::string_view::npos ? std::string_view::npos : text.find('%', open + 1);
    if (close == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, open - i));
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const std::optional<std::string> value = name.empty() ? std::nullopt : environment.value(name);
    if (value) {
      out.append(*value);
    } else {
      out.append(text.substr(open, close - open + 1));
    }
    i = close + 1;
    if (out.size() > kMaxExpandedLength) return std::nullopt;
  }
  if (out.size() > kMaxExpandedLength) return std::nullopt;
  return out;
}
