#include "backup/Progress.h"

#include <cstdio>

#include "backup/RunTexts.h"
#include "backup/TEstad.h"

std::string counterPanelText(int32_t value) {
  return " " + std::to_string(value);
}

std::string formatElapsed(std::chrono::milliseconds elapsed) {
  using namespace std::chrono;
  constexpr int64_t kDaySeconds = 24 * 60 * 60;
  int64_t seconds = duration_cast<std::chrono::seconds>(elapsed).count() % kDaySeconds;
  if (seconds < 0) seconds += kDaySeconds;
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

ProgressTexts DoProgress(const TEstad& estado, std::chrono::system_clock::time_point now) {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - estado.InicioCopia());
  return {counterPanelText(estado.Actualizados), counterPanelText(estado.Copiados),
          counterPanelText(estado.Revisados), " " + formatElapsed(elapsed), estado.TextoEstado()};
}
