// The settings file is read at every start: any bytes must parse, and an update must read
// back as written while the rest of the file survives.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tasks/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::parse(text);
  (void)ini.value("CONFIGURACION", "DIR_DESTINO");
  const auto before = ini.entries("Otra");

  ini.setValue("CONFIGURACION", "DIR_DESTINO", "/media/copias/");
  ini.eraseSection("TAREAS");
  ini.setValue("TAREAS", "0", "1 /home/ana/Documentos");
  const IniFile again = IniFile::parse(ini.text());
  if (again.value("configuracion", "dir_destino") != "/media/copias/") std::abort();
  if (again.value("tareas", "0") != "1 /home/ana/Documentos") std::abort();
  if (again.entries("TAREAS").size() != 1) std::abort();
  if (again.entries("Otra") != before) std::abort();
  return 0;
}
