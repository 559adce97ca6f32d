#include "tasks/TaskSettings.h"

#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "tasks/ExtraerPalabra.h"
#include "tasks/IniFile.h"

namespace {

constexpr const char* kConfigSection = "CONFIGURACION";
constexpr const char* kDestinationKey = "DIR_DESTINO";
constexpr const char* kTasksSection = "TAREAS";

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string normalDirDestino(std::string dir) {
  return withTrailingSlash(std::move(dir));
}

std::string captionFor(const std::string& dirDestino) {
  return std::string(kCaption) + " - " + dirDestino;
}

LoadedSettings CargarTareas(const std::string& iniPath, TaskList& tasks,
                            const std::function<std::vector<TaskRow>()>& systemFolders) {
  tasks.clear();
  std::vector<TaskRow> firstRun = systemFolders ? systemFolders() : std::vector<TaskRow>{};

  LoadedSettings loaded;
  if (!fileExists(iniPath)) {
    tasks.assign(std::move(firstRun));
    return loaded;
  }

  loaded.fromFile = true;
  IniFile ini;
  try {
    ini = IniFile::loadForUpdate(iniPath);
  } catch (const ResguardaError& error) {
    loaded.unreadable = true;
    loaded.unreadableReason = error.reason();
    return loaded;
  }
  loaded.dirDestino = normalDirDestino(ini.value(kConfigSection, kDestinationKey));
  // The keys are not interpreted: an entry's place in the section is its row. Rows of a
  // second, hand-made section follow those of the first, so that none is lost on saving.
  std::vector<TaskRow> rows;
  for (const auto& [key, value] : ini.allEntries(kTasksSection)) {
    const bool checked = ExtraerPalabra(1, value) == "1";
    const size_t blank = value.find(' ');
    std::string path = blank == std::string::npos ? value : value.substr(blank + 1);
    const bool systemRow = static_cast<int>(rows.size()) <= kLastSystemRow;
    std::string text = systemRow ? lastComponent(path) : path;
    rows.push_back({std::move(path), std::move(text), checked});
    if (checked) ++loaded.gaugeMaximum;
  }
  tasks.assign(std::move(rows));
  return loaded;
}

void GuardarTareas(const std::string& iniPath, const TaskList& tasks, std::string& dirDestino) {
  dirDestino = normalDirDestino(dirDestino);
  // A file that is there but cannot be read is never replaced by what little we know.
  IniFile ini = IniFile::loadForUpdate(iniPath);
  ini.setValue(kConfigSection, kDestinationKey, dirDestino);
  std::vector<std::pair<std::string, std::string>> rows;
  rows.reserve(tasks.rows().size());
  for (const TaskRow& row : tasks.rows())
    rows.emplace_back(std::to_string(rows.size()), (row.checked ? "1 " : "0 ") + row.path);
  ini.replaceSection(kTasksSection, rows);
  ini.save(iniPath);
}
