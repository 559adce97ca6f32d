#include "backup/TEstad.h"

using std::chrono::milliseconds;
using std::chrono::system_clock;

system_clock::time_point TEstad::InicioCopia() const {
  return system_clock::time_point(milliseconds(inicioCopiaMs_.load()));
}

void TEstad::setInicioCopia(system_clock::time_point when) {
  inicioCopiaMs_ = std::chrono::duration_cast<milliseconds>(when.time_since_epoch()).count();
}

std::string TEstad::TextoEstado() const {
  std::lock_guard lock(textMutex_);
  return textoEstado_;
}

void TEstad::setTextoEstado(const std::string& text) {
  std::lock_guard lock(textMutex_);
  textoEstado_ = text;
}
