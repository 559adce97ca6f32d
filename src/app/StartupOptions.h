#pragma once

#include <string>
#include <vector>

// The command-line flags: exactly one argument makes an unattended run that closes when it
// has finished; that argument being "-hide" in any letter case also hides the program.
// Two or more arguments start the program as without any.
struct StartupOptions {
  bool CerrarAlTerminar = false;
  bool Oculto = false;

  static StartupOptions fromArguments(const std::vector<std::string>& arguments);
};

// True when a graphical session is reachable (DISPLAY or WAYLAND_DISPLAY is set).
bool hasDisplay();
