#pragma once

#include <string>
#include <vector>

class IniFile;

// The settings that shape a run beyond the task list, each absent by default; absent, the
// program behaves as it always has. The run reads them from the snapshot of the settings file
// it starts with; the window's dialogs save each one at once.
struct RunSettings {
  bool versiones = false;            // [CONFIGURACION] VERSIONES: keep replaced copies
  int diasVersiones = 0;             // DIAS_VERSIONES: prune kept versions after N days; 0 never
  int comprobarDias = 0;             // COMPROBAR_DIAS: check the copies every N days; 0 never
  std::vector<std::string> excluir;  // [EXCLUIR] patterns, in the order of their keys
};

// The most days a setting holds (about 2700 years); larger values read as this.
inline constexpr int kMaxSettingDays = 1000000;

// Reads the keys; a value that is not a plain decimal number ("abc", "-3", "1x") reads as 0
// (VERSIONES is on for any number above 0).
// [EXCLUIR] takes every key that is a decimal number, in the order of the numbers (a gap
// left by a hand edit loses nothing after it; of a repeated number the first wins), and
// leaves out blank values.
RunSettings readRunSettings(const IniFile& ini);
// The same from the file; a missing or unreadable file gives the defaults.
RunSettings loadRunSettings(const std::string& iniPath);

// Each saves its own keys at once into the existing settings file (a missing one throws
// "Unable to write to <iniPath>": save the task list first, so the file is never left
// without its rows), keeping everything else the file holds, and throws
// "Unable to write to <iniPath>" as GuardarTareas does (the file then stays as it was). A key
// the file does not hold is not added to say what its absence already says (off, 0, no
// patterns), so saving the defaults leaves such a file byte for byte as it was.
void saveVersiones(const std::string& iniPath, bool versiones, int diasVersiones);
void saveComprobarDias(const std::string& iniPath, int comprobarDias);
// One pattern a key, 0, 1, 2...; blank patterns and those holding a line break are left out
// (the file could not read them back); none removes the section.
void saveExclusions(const std::string& iniPath, const std::vector<std::string>& patterns);
