#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class TEstad;

// The texts DoProgress gives for the run's counters, its time so far and its status, each
// ready to be shown as it is.
struct ProgressTexts {
  std::string actualizados;  // copies brought up to date
  std::string copiados;      // new copies
  std::string revisados;     // files examined
  std::string elapsed;       // time since the run began
  std::string estado;        // the status text
};

// " " + the number in decimal.
std::string counterPanelText(int32_t value);
// The elapsed time as a time of day, "H:MM:SS"; it starts again from 0:00:00 after 24 hours.
std::string formatElapsed(std::chrono::milliseconds elapsed);
ProgressTexts DoProgress(const TEstad& estado, std::chrono::system_clock::time_point now);
