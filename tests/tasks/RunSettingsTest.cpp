#include "tasks/RunSettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Errors.h"
#include "support/TempTree.h"
#include "tasks/IniFile.h"
#include "tasks/TaskSettings.h"

namespace {

struct ReadCase {
  const char* name;
  const char* text;
  const char* expected;  // "versiones dias comprobar | pattern | pattern"
};

std::string described(const RunSettings& s) {
  std::string out = std::to_string(s.versiones) + " " + std::to_string(s.diasVersiones) + " " +
                    std::to_string(s.comprobarDias);
  for (const std::string& pattern : s.excluir) out += " | " + pattern;
  return out;
}

class RunSettingsRead : public testing::TestWithParam<ReadCase> {};

TEST_P(RunSettingsRead, ReadsWhatTheFileSaysAndJunkAsAbsent) {
  EXPECT_EQ(described(readRunSettings(IniFile::parse(GetParam().text))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RunSettingsRead,
    testing::Values(
        ReadCase{"none", "[CONFIGURACION]\nDIR_DESTINO=/m/\n", "0 0 0"},
        ReadCase{"set", "[configuracion]\nversiones=1\nDias_Versiones= 30 \nCOMPROBAR_DIAS=7\n",
                 "1 30 7"},
        ReadCase{"junk",
                 "[CONFIGURACION]\nVERSIONES=si\nDIAS_VERSIONES=999999999999999999999\n"
                 "COMPROBAR_DIAS=-3\n",
                 "0 1000000 0"},
        ReadCase{"gapsAndOrder",
                 "[EXCLUIR]\n2=*.bak\n0=*.tmp\nx=nota\n5= .cache/ \n1=\n0=repetida\n-1=neg\n",
                 "0 0 0 | *.tmp | *.bak | .cache/"}),
    [](const testing::TestParamInfo<ReadCase>& p) { return std::string(p.param.name); });

const char* kPlain =
    "; hecho a mano\r\n[CONFIGURACION]\r\nDIR_DESTINO=/media/copias/\r\n"
    "[TAREAS]\r\n0=1 /home/ana/Documentos\r\n";

TEST(RunSettingsSave, DefaultsLeaveAFileWithoutTheKeysUntouched) {
  TempTree tree;
  const std::string ini = tree.write("Resguarda.ini", kPlain);
  struct stat before {};
  ASSERT_EQ(::stat(ini.c_str(), &before), 0);
  EXPECT_EQ(described(loadRunSettings(ini)), "0 0 0");
  saveVersiones(ini, false, 0);
  saveComprobarDias(ini, 0);
  saveExclusions(ini, {"", "  "});
  struct stat after {};
  ASSERT_EQ(::stat(ini.c_str(), &after), 0);
  EXPECT_EQ(TempTree::read(ini), kPlain);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not even rewritten
}

TEST(RunSettingsSave, EachSaveKeepsTheRestAndTaskSavesKeepTheKeys) {
  TempTree tree;
  const std::string ini = tree.write("Resguarda.ini", kPlain);
  saveVersiones(ini, true, 14);
  saveComprobarDias(ini, 30);
  saveExclusions(ini, {"*.tmp", " dos blancos ", "", "con\nsalto", "node_modules/"});
  EXPECT_EQ(described(loadRunSettings(ini)), "1 14 30 | *.tmp |  dos blancos  | node_modules/");

  TaskList tasks;
  CargarTareas(ini, tasks, {});
  std::string destination = "/media/otra";
  GuardarTareas(ini, tasks, destination);
  EXPECT_EQ(described(loadRunSettings(ini)), "1 14 30 | *.tmp |  dos blancos  | node_modules/");

  // Turned off, the keys the file holds say so rather than vanish or stay on.
  saveVersiones(ini, false, 0);
  saveExclusions(ini, {});
  EXPECT_EQ(described(loadRunSettings(ini)), "0 0 30");
  const std::string text = TempTree::read(ini);
  EXPECT_NE(text.find("VERSIONES=0\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("EXCLUIR"), std::string::npos) << text;
}

TEST(RunSettingsSave, AMissingFileIsNotMadeWithoutTheTaskList) {
  TempTree tree;
  const std::string ini = tree.path("Resguarda.ini");
  EXPECT_THROW(saveVersiones(ini, true, 3), ResguardaError);
  EXPECT_THROW(saveExclusions(ini, {"*.tmp"}), ResguardaError);
  EXPECT_FALSE(TempTree::exists(ini));
}

}  // namespace
