#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class TEstad;

// The texts DoProgress puts on view.
struct ProgressTexts {
  std::string actualizados;  // status panel 1
  std::string copiados;      // status panel 3
  std::string revisados;     // status panel 5
  std::string elapsed;       // status panel 6
  std::string estado;        // the status text
};

// " " + the number in decimal.
std::string counterPanelText(int32_t value);
// The elapsed time as a time of day, "H:MM:SS"; it starts again from 0:00:00 after 24 hours.
std::string formatElapsed(std::chrono::milliseconds elapsed);
ProgressTexts DoProgress(const TEstad& estado, std::chrono::system_clock::time_point now);
