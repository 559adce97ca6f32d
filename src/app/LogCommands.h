#pragma once

#include <QString>
#include <string>

class LogLines;
class QListView;

// The selected lines of the log, top to bottom, joined by "\n".
QString selectedLogText(const QListView& view);

// Writes every line the log keeps to `path`, one a line, as the run's log file has them; the
// file is whole or not replaced. Throws the "Unable to write to <path>" failure.
void saveLogLines(const LogLines& lines, const std::string& path);
