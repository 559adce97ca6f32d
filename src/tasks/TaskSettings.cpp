#include "tasks/TaskSettings.h"

#include <sys/stat.h>

#include "platform/Errors.h"
#include "tasks/CheckList.h"
#include "tasks/ExtraerPalabra.h"
#include "tasks/IniFile.h"

namespace {

constexpr const char* kConfigSection = "CONFIGURACION";
constexpr const char* kDestinationKey = "DIR_DESTINO";
constexpr const char* kTasksSection = "TAREAS";
// Rows up to this index are system rows and show only the last component of their path.
constexpr int kLastSystemRow = 5;

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string normalDirDestino(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string captionFor(const std::string& dirDestino) {
  return std::string(kCaption) + " - " + dirDestino;
}

LoadedSettings CargarTareas(const std::string& iniPath, CheckList& memo1,
                            std::vector<std::string>& rutasTareas,
                            const std::function<std::vector<TaskRow>()>& systemFolders) {
  memo1.clear();
  rutasTareas.clear();
  const std::vector<TaskRow> firstRun = systemFolders ? systemFolders() : std::vector<TaskRow>{};

  LoadedSettings loaded;
  if (!fileExists(iniPath)) {
    for (const TaskRow& row : firstRun) {
      rutasTareas.push_back(row.path);
      memo1.append(row.text);
      memo1.setChecked(memo1.count() - 1, row.checked);
    }
    return loaded;
  }

  loaded.fromFile = true;
  IniFile ini;
  try {
    ini = IniFile::loadForUpdate(iniPath);
  } catch (const ResguardaError&) {
    loaded.unreadable = true;
    return loaded;
  }
  loaded.dirDestino = normalDirDestino(ini.value(kConfigSection, kDestinationKey));
  // The keys are not interpreted: an entry's place in the section is its row. Rows of a
  // second, hand-made section follow those of the first, so that none is lost on saving.
  int place = 0;
  for (const auto& [key, value] : ini.allEntries(kTasksSection)) {
    const bool checked = ExtraerPalabra(1, value) == "1";
    const size_t blank = value.find(' ');
    const std::string path = blank == std::string::npos ? value : value.substr(blank + 1);
    rutasTareas.push_back(path);
    memo1.append(place > kLastSystemRow ? path : lastComponent(path));
    if (checked) {
      memo1.setChecked(place, true);
      ++loaded.gaugeMaximum;
    }
    ++place;
  }
  return loaded;
}

void GuardarTareas(const std::string& iniPath, const CheckList& memo1,
                   const std::vector<std::string>& rutasTareas, std::string& dirDestino) {
  dirDestino = normalDirDestino(dirDestino);
  // A file that is there but cannot be read is never replaced by what little we know.
  IniFile ini = IniFile::loadForUpdate(iniPath);
  ini.setValue(kConfigSection, kDestinationKey, dirDestino);
  std::vector<std::pair<std::string, std::string>> rows;
  rows.reserve(rutasTareas.size());
  for (size_t i = 0; i < rutasTareas.size(); ++i) {
    const bool checked = static_cast<int>(i) < memo1.count() && memo1.checked(static_cast<int>(i));
    rows.emplace_back(std::to_string(i), (checked ? "1 " : "0 ") + rutasTareas[i]);
  }
  ini.replaceSection(kTasksSection, rows);
  ini.save(iniPath);
}
