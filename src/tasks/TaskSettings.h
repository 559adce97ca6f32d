#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tasks/TaskList.h"

// The text of the mail extraction task, as path and as display text.
inline constexpr const char* kMailTaskText = "Extraer Mensajes E-mail con adjuntos";
inline constexpr const char* kCaption = "Resguarda v3.0";

// What a load leaves besides the rows.
struct LoadedSettings {
  bool fromFile = false;              // false: first run, the default list was built
  std::string dirDestino;             // normal form: empty or ending in "/"
  int gaugeMaximum = 1;               // 1 + the rows loaded checked from the file
  bool unreadable = false;            // the file is there but could not be read: the list is empty
  std::string unreadableReason = {};  // the system's reason for that
};

// Empty, or ending in "/".
std::string normalDirDestino(std::string dir);
// "Resguarda v3.0 - " + dirDestino.
std::string captionFor(const std::string& dirDestino);

// CargarTareas: empties the task list, reads the system folders (always; an error there
// leaves the list empty and escapes), then reads the settings file or, when there is none,
// appends the first-run rows that the system folders gave.
LoadedSettings CargarTareas(const std::string& iniPath, TaskList& tasks,
                            const std::function<std::vector<TaskRow>()>& systemFolders);

// GuardarTareas: brings dirDestino to its normal form and replaces the settings file with
// the destination and every row. Throws "Unable to write to <iniPath>" and then leaves the
// previous file intact.
void GuardarTareas(const std::string& iniPath, const TaskList& tasks, std::string& dirDestino);
