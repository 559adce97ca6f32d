#include "app/Wiring.h"

std::vector<TaskRow> readSystemFolders() {
  return {{kMailTaskText, kMailTaskText, false}};
}

MailTask mailExportTask() {
  return {};
}
