#pragma once

#include <vector>

#include "backup/BackupRun.h"
#include "tasks/TaskSettings.h"

// The first-run rows from this user's system folders and mail store.
std::vector<TaskRow> readSystemFolders();
// The mail extraction task of a run.
MailTask mailExportTask();
