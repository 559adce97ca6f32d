#include "tasks/TaskSettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <stdexcept>

#include "platform/Errors.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

struct Loaded {
  TaskList tasks;
  LoadedSettings settings;
};

std::vector<TaskRow> defaultRows() {
  return {{"/home/ana/Documentos", "Documentos", true}, {kMailTaskText, kMailTaskText, false}};
}

Loaded load(const std::string& iniPath) {
  Loaded result;
  result.settings = CargarTareas(iniPath, result.tasks, defaultRows);
  return result;
}

std::string rowsOf(const Loaded& l) {
  std::string out;
  for (const TaskRow& row : l.tasks.rows())
    out += (row.checked ? "[x] " : "[ ] ") + row.text + " | " + row.path + "\n";
  return out;
}

}  // namespace

TEST(CargarTareas, ReadsRowsByPlaceWithTheirFlagsAndTexts) {
  TempTree tree;
  const std::string ini = tree.write(
      "Resguarda.ini",
      "[CONFIGURACION]\nDIR_DESTINO=/media/copias\n[TAREAS]\n10=1 /home/ana/Documentos\n"
      "3=1\n7=0 /srv/Program Files/Datos\n2=/srv/Program Files/Datos\n1=1  /lead blank\n"
      "5=0 Extraer Mensajes E-mail con adjuntos\n6=1 /home/ana/Proyectos\n8=10 /x\n9=01 /y\n"
      "0=1 /z/\n");
  const Loaded l = load(ini);
  EXPECT_TRUE(l.settings.fromFile);
  EXPECT_EQ(l.settings.dirDestino, "/media/copias/");
  EXPECT_EQ(rowsOf(l),
            "[x] Documentos | /home/ana/Documentos\n"
            "[x] 1 | 1\n"
            "[ ] Datos | /srv/Program Files/Datos\n"
            "[ ] Datos | Files/Datos\n"
            "[x] lead blank |  /lead blank\n"
            "[ ] Extraer Mensajes E-mail con adjuntos | Extraer Mensajes E-mail con adjuntos\n"
            "[x] /home/ana/Proyectos | /home/ana/Proyectos\n"
            "[ ] /x | /x\n"
            "[ ] /y | /y\n"
            "[x] /z/ | /z/\n");
  EXPECT_EQ(l.settings.gaugeMaximum, 1 + 5);
}

TEST(CargarTareas, WithoutAFileBuildsTheFirstRunList) {
  TempTree tree;
  const Loaded l = load(tree.path("Resguarda.ini"));
  EXPECT_FALSE(l.settings.fromFile);
  EXPECT_EQ(l.settings.dirDestino, "");
  EXPECT_EQ(l.settings.gaugeMaximum, 1);
  EXPECT_EQ(rowsOf(l),
            "[x] Documentos | /home/ana/Documentos\n"
            "[ ] Extraer Mensajes E-mail con adjuntos | Extraer Mensajes E-mail con adjuntos\n");
  EXPECT_FALSE(TempTree::exists(tree.path("Resguarda.ini")));
}

TEST(CargarTareas, AFileWithoutTasksGivesAnEmptyListNotTheDefault) {
  TempTree tree;
  for (const char* content : {"", "[CONFIGURACION]\nDIR_DESTINO=\n", "[TAREAS]\n"}) {
    const Loaded l = load(tree.write("Resguarda.ini", content));
    EXPECT_EQ(l.tasks.count(), 0) << content;
    EXPECT_EQ(l.settings.dirDestino, "");
    EXPECT_EQ(captionFor(l.settings.dirDestino), "Resguarda v3.0 - ");
  }
}

TEST(CargarTareas, AnErrorReadingTheSystemFoldersLeavesTheListEmpty) {
  TempTree tree;
  const std::string ini = tree.write("Resguarda.ini", "[TAREAS]\n0=1 /a\n");
  TaskList tasks;
  tasks.append({"old", "old", true});
  auto failing = []() -> std::vector<TaskRow> { throw invalidDataType("Personal"); };
  EXPECT_THROW(CargarTareas(ini, tasks, failing), ResguardaError);
  EXPECT_EQ(tasks.count(), 0);
}

TEST(GuardarTareas, WritesTheDocumentedLayoutAndReadsBack) {
  TempTree tree;
  const std::string ini =
      tree.write("Resguarda.ini", "[CONFIGURACION]\nOtra=1\n[TAREAS]\n10=1 /a\n3=1 /b\n7=0 /c\n");
  Loaded l = load(ini);
  l.tasks.setChecked(2, true);
  std::string dir = "/media/copias";
  GuardarTareas(ini, l.tasks, dir);
  EXPECT_EQ(dir, "/media/copias/");
  EXPECT_EQ(TempTree::read(ini),
            "[CONFIGURACION]\nOtra=1\nDIR_DESTINO=/media/copias/\n[TAREAS]\n0=1 /a\n1=1 /b\n"
            "2=1 /c\n");
  const Loaded again = load(ini);
  EXPECT_EQ(rowsOf(again), "[x] a | /a\n[x] b | /b\n[x] c | /c\n");
  EXPECT_EQ(again.settings.gaugeMaximum, 4);
}

TEST(GuardarTareas, RowsWithoutAPathKeepItEmptyAcrossASave) {
  TempTree tree;
  const std::string ini = tree.path("Resguarda.ini");
  TaskList tasks;
  CargarTareas(ini, tasks, [] {
    return std::vector<TaskRow>{{"", "", true}, {"/a ", "a ", false}};
  });
  std::string dir;
  GuardarTareas(ini, tasks, dir);
  const Loaded again = load(ini);
  EXPECT_EQ(rowsOf(again), "[x]  | \n[ ] a  | /a \n");
}

TEST(GuardarTareas, AnEmptyListRemovesTheSectionAndLoadsEmpty) {
  TempTree tree;
  const std::string ini = tree.write("Resguarda.ini", "[TAREAS]\n0=1 /a\n[Otra]\nx=1\n");
  std::string dir;
  GuardarTareas(ini, TaskList{}, dir);
  EXPECT_EQ(TempTree::read(ini), "[Otra]\nx=1\n[CONFIGURACION]\nDIR_DESTINO=\n");
  EXPECT_EQ(load(ini).tasks.count(), 0);
}

TEST(GuardarTareas, AFailedSaveKeepsThePreviousFile) {
  TempTree tree;
  const std::string ini = tree.write("cfg/Resguarda.ini", "[TAREAS]\n0=1 /a\n");
  makeReadOnlyForOthers(tree.root(), tree.path("cfg"));
  const int status = runUnprivileged([&] {
    std::string dir = "/x";
    try {
      GuardarTareas(ini, TaskList{}, dir);
    } catch (const ResguardaError& e) {
      return std::string(e.what()) == "Unable to write to " + ini ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(TempTree::read(ini), "[TAREAS]\n0=1 /a\n");
}

// Settings files a save must leave exactly as they are.
struct KeptFile {
  const char* name;
  bool unprivileged;                                       // saved as an ordinary user
  std::function<void(TempTree&, const std::string&)> set;  // makes the file that way
};

class SaveRefused : public testing::TestWithParam<KeptFile> {};

TEST_P(SaveRefused, LeavesEveryByte) {
  TempTree tree;
  const std::string text = "[CONFIGURACION]\nDIR_DESTINO=/copias/\n[TAREAS]\n0=1 /a\n";
  const std::string ini = tree.write("cfg/Resguarda.ini", text);
  // Others may create files in the folder, so only the file itself can stop the save.
  ::chmod(tree.root().c_str(), 0755);
  ::chmod(tree.path("cfg").c_str(), 0777);
  GetParam().set(tree, ini);
  auto save = [&] {
    std::string dir = "/otra";
    try {
      GuardarTareas(ini, TaskList{}, dir);
    } catch (const ResguardaError& e) {
      return std::string(e.what()) == "Unable to write to " + ini ? 0 : 2;
    }
    return 1;
  };
  EXPECT_EQ(GetParam().unprivileged ? runUnprivileged(save) : save(), 0);
  ::chmod(ini.c_str(), 0644);
  EXPECT_EQ(TempTree::read(ini), text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveRefused,
    testing::Values(KeptFile{"ReadOnlyEvenForRoot", false,
                             [](TempTree&, const std::string& ini) { ::chmod(ini.c_str(), 0444); }},
                    KeptFile{"NotWritableForThisUser", true,
                             [](TempTree&, const std::string& ini) { ::chmod(ini.c_str(), 0644); }},
                    KeptFile{
                        "NotReadableForThisUser", true,
                        [](TempTree&, const std::string& ini) { ::chmod(ini.c_str(), 0602); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(GuardarTareas, NeverReplacesWhatIsNotAFile) {
  TempTree tree;
  const std::string fifo = tree.path("fifo.ini"), folder = tree.mkdir("folder.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& ini : {fifo, folder}) {
    TaskList tasks;
    tasks.append({"/a", "/a", true});
    std::string dir;
    EXPECT_THROW(GuardarTareas(ini, tasks, dir), ResguardaError) << ini;
  }
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(CargarTareas, HandMadeFilesLoseNoRowAndKeepTheirByteOrderMark) {
  TempTree tree;
  const std::string ini =
      tree.write("Resguarda.ini",
                 "\xEF\xBB\xBF[CONFIGURACION]\nDIR_DESTINO=/copias\n[TAREAS]\n0=1 /a\n1=0 /b\n"
                 "[Otra]\nx=1\n[tareas]\n0=1 /c\n");
  Loaded l = load(ini);
  EXPECT_EQ(l.settings.dirDestino, "/copias/");
  EXPECT_EQ(rowsOf(l), "[x] a | /a\n[ ] b | /b\n[x] c | /c\n");
  GuardarTareas(ini, l.tasks, l.settings.dirDestino);
  EXPECT_EQ(TempTree::read(ini),
            "\xEF\xBB\xBF[CONFIGURACION]\nDIR_DESTINO=/copias/\n[TAREAS]\n0=1 /a\n1=0 /b\n2=1 /c\n"
            "[Otra]\nx=1\n");
}
