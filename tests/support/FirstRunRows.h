#pragma once

#include <string>
#include <vector>

#include "tasks/TaskList.h"
#include "tasks/TaskSettings.h"

// The text of the mail task, as a string for the tests' joins.
inline const std::string kMail = kMailTaskText;

// A first-run task list as a user's system folders give it (one of them missing).
inline std::vector<TaskRow> firstRunRows() {
  return {{"/home/ana/Documentos", "Documentos", true},
          {"/home/ana/Escritorio", "Escritorio", true},
          {"/home/ana/.local/share/Microsoft/Address Book", "Address Book", true},
          {"", "", true},
          {"/home/ana/.wine/drive_c/Correo/Outlook Express", "Outlook Express", true},
          {kMail, kMail, false}};
}
