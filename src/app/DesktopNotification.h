#pragma once

#include <optional>
#include <string>

#include "app/BusAddress.h"
#include "backup/BackupRun.h"

class TEstad;

// What the desktop is told at the end of an unattended run.
struct NotificationText {
  std::string summary;  // "Finalizado.", "Detenido.", or that the run could not run
  std::string body;     // "Actualizados: 3  Copiados: 10  Revisados: 200\n2 archivos con errores"
};

// nullopt when no run took place (stopped before it began). `problem` is why the run could
// not run at all, "" when it ran.
std::optional<NotificationText> runNotification(const std::optional<RunResult>& result,
                                                const TEstad& estado, const std::string& problem);

// Shows the notification through org.freedesktop.Notifications; false when there is no bus,
// or no answer. The talk with the bus happens in a child process that is killed after about a
// second, or at once when `stopFd` (the stop signals' pipe, -1 for none) becomes readable: a
// bus that hangs, misbehaves or crashes the talk never holds or ends the program.
bool notifyDesktop(const NotificationText& text, const std::string& address, int stopFd = -1);
