#include "tasks/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Errors.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

TEST(IniFile, NamesMatchWithoutRegardToCaseAndValuesAreTrimmed) {
  const IniFile ini = IniFile::parse(
      "; comment\r\n[Configuracion]\r\n  dir_destino =  /media/copias/  \r\n[TAREAS]\r\n"
      "10=1 /a\r\n3=0  /b c \r\nno equals sign\r\n7=\r\n");
  EXPECT_EQ(ini.value("CONFIGURACION", "DIR_DESTINO"), "/media/copias/");
  EXPECT_EQ(ini.value("configuracion", "missing"), "");
  EXPECT_EQ(ini.value("missing", "DIR_DESTINO"), "");
  const auto entries = ini.entries("tareas");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"10", "1 /a"}));
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"3", "0  /b c"}));
  EXPECT_EQ(entries[2], (std::pair<std::string, std::string>{"7", ""}));
}

TEST(IniFile, UpdatesKeepEveryOtherLine) {
  IniFile ini = IniFile::parse(
      "[Otra]\nclave=valor ; kept\n\n[CONFIGURACION]\n; nota\nDIR_DESTINO=/old/\nextra=1\n"
      "[TAREAS]\n0=1 /a\n[Despues]\nx=y\n");
  ini.setValue("configuracion", "dir_destino", "/new/");
  ini.setValue("CONFIGURACION", "nueva", "2");
  ini.eraseSection("tareas");
  ini.setValue("TAREAS", "0", "0 /b");
  ini.setValue("TAREAS", "1", "1 /c");
  EXPECT_EQ(ini.text(),
            "[Otra]\nclave=valor ; kept\n\n[CONFIGURACION]\n; nota\ndir_destino=/new/\nextra=1\n"
            "nueva=2\n[Despues]\nx=y\n[TAREAS]\n0=0 /b\n1=1 /c\n");
}

TEST(IniFile, ErasingASectionRemovesEveryCopyOfIt) {
  IniFile ini = IniFile::parse("[TAREAS]\n0=1 /a\n[X]\nk=v\n[tareas]\n0=1 /old\n1=1 /b\n");
  ini.eraseSection("TAREAS");
  ini.setValue("TAREAS", "0", "1 /new");
  EXPECT_EQ(ini.text(), "[X]\nk=v\n[TAREAS]\n0=1 /new\n");
}

TEST(IniFile, ValuesWithBlanksAtTheirEndsAreQuotedAndReadBackWhole) {
  IniFile ini;
  ini.setValue("TAREAS", "0", "1 ");
  ini.setValue("TAREAS", "1", "1 /a/b ");
  ini.setValue("TAREAS", "2", "\"x\"");
  ini.setValue("TAREAS", "3", "1 /a \"b\"");
  EXPECT_EQ(ini.text(), "[TAREAS]\n0=\"1 \"\n1=\"1 /a/b \"\n2=\"\"x\"\"\n3=1 /a \"b\"\n");
  const IniFile again = IniFile::parse(ini.text());
  EXPECT_EQ(again.value("TAREAS", "0"), "1 ");
  EXPECT_EQ(again.value("TAREAS", "1"), "1 /a/b ");
  EXPECT_EQ(again.value("TAREAS", "2"), "\"x\"");
  EXPECT_EQ(again.value("TAREAS", "3"), "1 /a \"b\"");
}

TEST(IniFile, KeepsCrLfLineEndsOfAnExistingFile) {
  IniFile ini = IniFile::parse("[A]\r\nk=v\r\n");
  ini.setValue("A", "k", "w");
  EXPECT_EQ(ini.text(), "[A]\r\nk=w\r\n");
}

TEST(IniFile, FailedSaveLeavesThePreviousFileWhole) {
  TempTree tree;
  const std::string path = tree.write("cfg/Resguarda.ini", "[A]\nk=v\n");
  makeReadOnlyForOthers(tree.root(), tree.path("cfg"));
  const int status = runUnprivileged([&] {
    IniFile ini = IniFile::load(path);
    ini.setValue("A", "k", "w");
    try {
      ini.save(path);
    } catch (const ResguardaError&) {
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(status, 0) << "save into a read-only folder succeeded";
  EXPECT_EQ(TempTree::read(path), "[A]\nk=v\n");
  EXPECT_EQ(TempTree::list(tree.path("cfg")), std::vector<std::string>{"Resguarda.ini"});
}

TEST(IniFile, SaveReplacesTheFileAndLeavesNoTemporary) {
  TempTree tree;
  const std::string path = tree.write("Resguarda.ini", "[A]\nk=v\n");
  ::chmod(path.c_str(), 0600);
  IniFile ini = IniFile::load(path);
  ini.setValue("A", "k", "w");
  ini.save(path);
  EXPECT_EQ(TempTree::read(path), "[A]\nk=w\n");
  EXPECT_EQ(TempTree::list(tree.root()), std::vector<std::string>{"Resguarda.ini"});
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(IniFile, SaveIntoAMissingFolderFails) {
  TempTree tree;
  const std::string path = tree.path("missing/Resguarda.ini");
  EXPECT_THROW(IniFile::parse("[A]\nk=v\n").save(path), ResguardaError);
  EXPECT_FALSE(TempTree::exists(path));
}
