#include "tasks/RunSettings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "tasks/IniFile.h"

namespace {

constexpr const char* kConfigSection = "CONFIGURACION";
constexpr const char* kVersionsKey = "VERSIONES";
constexpr const char* kVersionDaysKey = "DIAS_VERSIONES";
constexpr const char* kCheckDaysKey = "COMPROBAR_DIAS";
constexpr const char* kExcludeSection = "EXCLUIR";

// A plain decimal number, capped; -1 when the text is anything else.
long long decimal(std::string_view text, long long cap) {
  if (text.empty()) return -1;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = std::min(cap, value * 10 + (c - '0'));
  }
  return value;
}

int days(const IniFile& ini, const char* key) {
  return static_cast<int>(std::max(0LL, decimal(ini.value(kConfigSection, key), kMaxSettingDays)));
}

bool holdsKey(const IniFile& ini, std::string_view section, std::string_view key) {
  for (const auto& entry : ini.entries(section))
    if (equalsIgnoringAsciiCase(entry.first, key)) return true;
  return false;
}

// The dialogs save at once, perhaps before the task list was ever saved: a file made now
// would hold no rows, and the next start would show an empty list instead of the first-run
// one.
IniFile loadExisting(const std::string& iniPath) {
  struct stat st {};
  if (::stat(iniPath.c_str(), &st) != 0) throw unableToWrite(iniPath, errno);
  return IniFile::loadForUpdate(iniPath);
}

// Sets a key, unless the file lacks it and `value` is what its absence means.
void setUnlessDefault(IniFile& ini, const char* key, const std::string& value, bool isDefault) {
  if (isDefault && !holdsKey(ini, kConfigSection, key)) return;
  ini.setValue(kConfigSection, key, value);
}

int boundedDays(int value) {
  return std::clamp(value, 0, kMaxSettingDays);
}

// Nothing to change leaves the file alone, not even rewritten with the same bytes.
void saveIfChanged(const IniFile& ini, const std::string& before, const std::string& iniPath) {
  if (ini.text() != before) ini.save(iniPath);
}

}  // namespace

RunSettings readRunSettings(const IniFile& ini) {
  RunSettings settings;
  settings.versiones = decimal(ini.value(kConfigSection, kVersionsKey), 1) == 1;
  settings.diasVersiones = days(ini, kVersionDaysKey);
  settings.comprobarDias = days(ini, kCheckDaysKey);
  std::vector<std::pair<long long, std::string>> numbered;
  for (auto& [key, value] : ini.allEntries(kExcludeSection)) {
    const long long number = decimal(key, 1LL << 40);
    if (number >= 0) numbered.emplace_back(number, std::move(value));
  }
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < numbered.size(); ++i) {
    if (i > 0 && numbered[i].first == numbered[i - 1].first) continue;
    if (!numbered[i].second.empty()) settings.excluir.push_back(std::move(numbered[i].second));
  }
  return settings;
}

RunSettings loadRunSettings(const std::string& iniPath) {
  return readRunSettings(IniFile::load(iniPath));
}

void saveVersiones(const std::string& iniPath, bool versiones, int diasVersiones) {
  IniFile ini = loadExisting(iniPath);
  const std::string before = ini.text();
  const int daysValue = boundedDays(diasVersiones);
  setUnlessDefault(ini, kVersionsKey, versiones ? "1" : "0", !versiones);
  setUnlessDefault(ini, kVersionDaysKey, std::to_string(daysValue), daysValue == 0);
  saveIfChanged(ini, before, iniPath);
}

void saveComprobarDias(const std::string& iniPath, int comprobarDias) {
  IniFile ini = loadExisting(iniPath);
  const std::string before = ini.text();
  const int daysValue = boundedDays(comprobarDias);
  setUnlessDefault(ini, kCheckDaysKey, std::to_string(daysValue), daysValue == 0);
  saveIfChanged(ini, before, iniPath);
}

void saveExclusions(const std::string& iniPath, const std::vector<std::string>& patterns) {
  IniFile ini = loadExisting(iniPath);
  const std::string before = ini.text();
  std::vector<std::pair<std::string, std::string>> entries;
  for (const std::string& pattern : patterns) {
    if (pattern.find_first_of("\r\n") != std::string::npos) continue;
    if (pattern.find_first_not_of(" \t") == std::string::npos) continue;
    entries.emplace_back(std::to_string(entries.size()), pattern);
  }
  ini.replaceSection(kExcludeSection, entries);
  saveIfChanged(ini, before, iniPath);
}
