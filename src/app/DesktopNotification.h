#pragma once

#include <chrono>
#include <optional>
#include <string>

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

// The session bus to talk to: DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus when that
// is a socket; "" when there is none. Nothing is ever started to provide one.
std::string sessionBusAddress(const std::string& addressVariable, const std::string& runtimeDir);
std::string sessionBusAddressFromEnvironment();

// The first entry of a bus address (only local sockets are tried) whose bus answers the
// greeting within `timeout`; "" when none does. A bus that accepts a connection and then
// says nothing would otherwise hold the caller for the bus library's 25 seconds.
std::string answeringBusEntry(const std::string& address, std::chrono::milliseconds timeout);

// Shows the notification through org.freedesktop.Notifications; false when there is no bus,
// or no answer. Never takes much more than a second.
bool notifyDesktop(const NotificationText& text, const std::string& address);
