#include "tasks/TaskEditing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/FakePrompts.h"
#include "support/TempTree.h"
#include "tasks/TaskList.h"
#include "tasks/TaskSettings.h"

namespace {

const char* const kRefusal =
    "No se puede eliminar las carpetas del sistema, desactivalas si no quieres hacer copia de "
    "seguridad";
const std::string kQuestion = "¿Quieres dejar de hacer copias de seguridad de la carpeta\r\n";

// The first-run list: five system folders and the mail task, then `added` folders.
TaskList firstRunList(int added = 0) {
  TaskList tasks;
  for (const char* name : {"Documentos", "Escritorio", "Address Book", "Favoritos", "Correo"})
    tasks.append({std::string("/home/ana/") + name, name, true});
  tasks.append({kMailTaskText, kMailTaskText, false});
  for (int i = 0; i < added; ++i) {
    const std::string path = "/srv/datos" + std::to_string(i);
    tasks.append({path, path, true});
  }
  return tasks;
}

struct RemoveCase {
  const char* name;
  TaskList tasks;
  int selected;          // -1: nothing selected
  bool answer;           // to the question, if asked
  int selectedAfter;     // where the selection is left
  std::string question;  // "" when the removal is refused
  int rowsAfter;
};

class RemoveFolder : public testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveFolder, AsksAboutTheSelectedRowAndProtectsTheSystemRows) {
  const RemoveCase& c = GetParam();
  TaskList tasks = c.tasks;
  FakePrompts prompts;
  prompts.answer = c.answer;
  int selected = c.selected;
  const bool removed = removeSelectedFolder(tasks, selected, prompts);
  EXPECT_EQ(selected, c.selectedAfter);
  if (c.question.empty()) {
    EXPECT_EQ(prompts.warnings, std::vector<std::string>{kRefusal});
    EXPECT_TRUE(prompts.questions.empty());
  } else {
    EXPECT_TRUE(prompts.warnings.empty());
    EXPECT_EQ(prompts.questions, std::vector<std::string>{kQuestion + c.question + "?"});
  }
  EXPECT_EQ(removed, tasks.count() < c.tasks.count());
  ASSERT_EQ(tasks.count(), c.rowsAfter);
  // The rows that stay keep their paths, texts and checks together and in order.
  for (int i = 0, j = 0; i < tasks.count(); ++i, ++j) {
    if (removed && j == c.selectedAfter) ++j;
    EXPECT_EQ(tasks.row(i).path, c.tasks.row(j).path) << i;
    EXPECT_EQ(tasks.row(i).text, c.tasks.row(j).text) << i;
    EXPECT_EQ(tasks.row(i).checked, c.tasks.row(j).checked) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveFolder,
    testing::Values(RemoveCase{"NoSelectionOffersTheLastAddedRow", firstRunList(2), -1, true, 7,
                               "/srv/datos1", 7},
                    RemoveCase{"NoSelectionOnTheFirstRunListOffersTheMailTask", firstRunList(), -1,
                               true, 5, kMailTaskText, 5},
                    RemoveCase{"AnAddedRowInTheMiddle", firstRunList(3), 7, true, 7, "/srv/datos1",
                               8},
                    RemoveCase{"CancelKeepsTheRowAndTheSelection", firstRunList(1), 5, false, 5,
                               kMailTaskText, 7},
                    RemoveCase{"FirstSystemRowIsRefused", firstRunList(1), 0, true, 0, "", 7},
                    RemoveCase{"LastSystemRowIsRefused", firstRunList(1), 4, true, 4, "", 7},
                    RemoveCase{"AnEmptyListIsRefused", TaskList{}, -1, true, -1, "", 0},
                    RemoveCase{"AListOfSystemRowsOnlyIsRefused",
                               [] {
                                 TaskList tasks = firstRunList();
                                 tasks.remove(5);
                                 return tasks;
                               }(),
                               -1, true, 4, "", 5}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AddFolder, AppendsThePickedFolderCheckedAndTwiceIfPickedTwice) {
  TaskList tasks = firstRunList();
  FakePrompts prompts;
  EXPECT_FALSE(addFolder(tasks, prompts));  // cancelled
  EXPECT_EQ(tasks.count(), 6);
  prompts.folders = {"/srv/Proyectos", "/srv/Proyectos"};
  EXPECT_TRUE(addFolder(tasks, prompts));
  EXPECT_TRUE(addFolder(tasks, prompts));
  EXPECT_EQ(prompts.picked, std::vector<std::string>(3, "Añadir Carpeta y subcarpetas @"));
  ASSERT_EQ(tasks.count(), 8);
  for (int row : {6, 7}) {
    EXPECT_EQ(tasks.row(row).path, "/srv/Proyectos");
    EXPECT_EQ(tasks.row(row).text, "/srv/Proyectos");
    EXPECT_TRUE(tasks.row(row).checked);
  }
}

TEST(CheckAll, ChecksAndUnchecksEveryRow) {
  TaskList tasks = firstRunList(1);
  for (bool checked : {true, false}) {
    checkAll(tasks, checked);
    for (const TaskRow& row : tasks.rows()) EXPECT_EQ(row.checked, checked) << row.text;
  }
}

TEST(ChooseDestination, NeverMakesARelativeDestinationInTheCurrentFolder) {
  TempTree tree;
  char here[4096];
  ASSERT_NE(::getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(::chdir(tree.root().c_str()), 0);
  FakePrompts prompts;
  std::string dir = "copias/";
  EXPECT_FALSE(chooseDestination(dir, prompts));
  ASSERT_EQ(::chdir(here), 0);
  EXPECT_TRUE(TempTree::list(tree.root()).empty());
}

TEST(ChooseDestination, PreselectsTheCurrentFolderMadeAgainAndKeepsItOnCancel) {
  TempTree tree;
  struct Case {
    std::string before;  // DirDestino as loaded
    std::string preselected;
  };
  for (const Case& c :
       {Case{"", ""}, Case{tree.path("borrada/copias/"), tree.path("borrada/copias")},
        Case{"/", "/"}}) {
    FakePrompts prompts;
    std::string dir = c.before;
    EXPECT_FALSE(chooseDestination(dir, prompts));
    EXPECT_EQ(dir, c.before);
    EXPECT_EQ(prompts.picked, std::vector<std::string>{
                                  "Carpeta donde Guardar la Copia de Seguridad @" + c.preselected});
    if (!c.before.empty()) {
      EXPECT_TRUE(TempTree::exists(c.before)) << c.before;
    }
    prompts.folders.push_back(tree.path("nueva"));
    EXPECT_TRUE(chooseDestination(dir, prompts));
    EXPECT_EQ(dir, tree.path("nueva"));
  }
}

}  // namespace
