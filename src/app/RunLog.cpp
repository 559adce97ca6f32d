#include "app/RunLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Errors.h"
#include "platform/NewFile.h"
#include "platform/PathText.h"
#include "platform/PrivateFolder.h"
#include "platform/ReplaceFile.h"
#include "platform/WriteAll.h"

namespace {

// Keeps the log in place as the previous one. A hard link first, so that there is always an
// ultima-copia.log to read; only a regular file is kept.
void keepPrevious(const std::string& folder, const std::string& log, const std::string& previous) {
  struct stat st {};
  if (::lstat(log.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string link = joinPath(folder, NewFile::temporaryName());
    if (::link(log.c_str(), link.c_str()) == 0) {
      if (::rename(link.c_str(), previous.c_str()) != 0) ::unlink(link.c_str());
      return;
    }
    if (errno != EEXIST) break;
  }
  // A file system without hard links: the log is missing for the instant before the new one.
  ::rename(log.c_str(), previous.c_str());
}

}  // namespace

std::string printableLine(const std::string& line) {
  std::string out;
  out.reserve(line.size());
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

RunLog::RunLog(RunObserver& display, const std::string& folder, int errorFd, bool echoErrors)
    : display_(display),
      errorFd_(errorFd),
      echoErrors_(echoErrors),
      folder_(withoutTrailingSlash(folder)) {
  if (folder_.empty()) {
    problem(
        "no se guarda el registro de la copia: no se conoce la carpeta de estado "
        "(ni XDG_STATE_HOME ni HOME)");
    return;
  }
  const std::string path = joinPath(folder_, kFileName);
  try {
    makePrivateFolderFor(folder_, path);
    file_ = std::make_unique<ReplaceFile>(path, 0600);
  } catch (const std::exception& error) {
    problem("no se puede escribir el registro de la copia " + path + ": " +
            describeFailure(error).reasonOrMessage());
  }
}

RunLog::~RunLog() = default;

void RunLog::runStarted() {
  // The file holds this run only from its start; nothing earlier to clear.
  display_.runStarted();
}

void RunLog::logLine(const std::string& line) {
  // Before the display, which may drop lines when they come faster than it shows them.
  try {
    if (echoErrors_ && (line.starts_with("ERROR - ") || line.starts_with("AVISO - ")))
      toErrors(line);
    toFile(line);
  } catch (...) {
    // Out of memory for one line: the run goes on.
  }
  display_.logLine(line);
}

void RunLog::statusChanged(const std::string& text) {
  display_.statusChanged(text);
}
void RunLog::taskStarted(const std::string& path, bool mailTask) {
  display_.taskStarted(path, mailTask);
}
void RunLog::countersChanged() {
  display_.countersChanged();
}
void RunLog::runEnded(const RunResult& result) {
  display_.runEnded(result);
}

void RunLog::note(const std::string& line) {
  toFile(line);
}

void RunLog::finish(const std::optional<std::string>& summary) {
  if (summary) toFile(*summary);
  if (!file_) return;
  try {
    keepPrevious(folder_, file_->target(), joinPath(folder_, kPreviousFileName));
    file_->commit();
  } catch (const std::exception& error) {
    problem("no se puede escribir el registro de la copia " + file_->target() + ": " +
            describeFailure(error).reasonOrMessage());
  }
  file_.reset();
}

void RunLog::toFile(const std::string& line) {
  if (!file_) return;
  try {
    file_->write(printableLine(line) + "\n");
  } catch (const std::exception& error) {
    // A log cut short would pass for the whole one: the previous log stays instead.
    problem("no se puede escribir el registro de la copia " + file_->target() + ": " +
            describeFailure(error).reasonOrMessage());
    file_.reset();
  } catch (...) {
    file_.reset();
  }
}

void RunLog::toErrors(const std::string& line) {
  const std::string text = printableLine(line) + "\n";
  writeAll(errorFd_, text.data(), text.size());  // nowhere left to tell a failure
}

void RunLog::problem(const std::string& text) {
  if (problemTold_) return;
  problemTold_ = true;
  const std::string line = "resguarda: " + text + "\n";
  writeAll(errorFd_, line.data(), line.size());
}
