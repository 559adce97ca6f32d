#include "tasks/SystemFolders.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/UserFolders.h"

namespace {

std::vector<std::string> pathsOf(const std::vector<TaskRow>& rows) {
  std::vector<std::string> paths;
  for (const TaskRow& row : rows) paths.push_back(row.path);
  return paths;
}

UserFolders anaFolders() {
  UserFolders folders;
  folders.personal = "/home/ana/Documentos";
  folders.desktop = "/home/ana/Escritorio";
  folders.appData = "/home/ana/.local/share";
  return folders;
}

std::function<std::string()> fixedStore(const std::string& folder, int* calls = nullptr) {
  return [folder, calls] {
    if (calls) ++*calls;
    return folder;
  };
}

TEST(SystemFolders, FirstRunRowsInOrder) {
  UserFolders folders = anaFolders();
  folders.favorites = "/home/ana/Favoritos";
  int calls = 0;
  const TCarpetas carpetas =
      ObtenerCarpetasSistema(folders, fixedStore("/home/ana/.wine/drive_c/Correo/", &calls));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(carpetas.slot[TCarpetas::kSinUso], "");

  const std::vector<TaskRow> rows = BuildFirstRunList(carpetas);

  const std::vector<std::string> expectedPaths = {"/home/ana/Documentos",
                                                  "/home/ana/Escritorio",
                                                  "/home/ana/.local/share/Microsoft/Address Book",
                                                  "/home/ana/Favoritos",
                                                  "/home/ana/.wine/drive_c/Correo",
                                                  "Extraer Mensajes E-mail con adjuntos"};
  const std::vector<std::string> expectedTexts = {
      "Documentos", "Escritorio", "Address Book",
      "Favoritos",  "Correo",     "Extraer Mensajes E-mail con adjuntos"};
  EXPECT_EQ(pathsOf(rows), expectedPaths);
  ASSERT_EQ(rows.size(), 6u);
  for (int row = 0; row < 6; ++row) {
    EXPECT_EQ(rows[row].text, expectedTexts[static_cast<std::size_t>(row)]) << row;
    EXPECT_EQ(rows[row].checked, row < 5) << row;
  }
}

struct StoreCase {
  const char* name;
  std::string store;
  std::string slot3;
  std::string text;
};

void PrintTo(const StoreCase& c, std::ostream* os) {
  *os << c.name;
}

class StoreSlot : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreSlot, LosesTheLastCharacterWhateverItIs) {
  const TCarpetas carpetas = ObtenerCarpetasSistema(anaFolders(), fixedStore(GetParam().store));
  EXPECT_EQ(carpetas.slot[TCarpetas::kCorreo], GetParam().slot3);
  const std::vector<TaskRow> rows = BuildFirstRunList(carpetas);
  EXPECT_EQ(rows[4].path, GetParam().slot3);
  EXPECT_EQ(rows[4].text, GetParam().text);
  EXPECT_TRUE(rows[4].checked);
}

INSTANTIATE_TEST_SUITE_P(
    SystemFolders, StoreSlot,
    testing::Values(StoreCase{"TrailingSlash", "/p/drive_c/Correo/", "/p/drive_c/Correo", "Correo"},
                    StoreCase{"NoTrailingSlash", "/p/drive_c/Correo", "/p/drive_c/Corre", "Corre"},
                    StoreCase{"None", "", "", ""}, StoreCase{"OneCharacter", "/", "", ""}),
    [](const testing::TestParamInfo<StoreCase>& param) { return param.param.name; });

TEST(SystemFolders, MissingFoldersStillGiveRows) {
  const TCarpetas carpetas = ObtenerCarpetasSistema(UserFolders{}, fixedStore(""));
  EXPECT_EQ(carpetas.slot[TCarpetas::kLibretaDirecciones], "/Microsoft/Address Book");
  const std::vector<TaskRow> rows = BuildFirstRunList(carpetas);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(pathsOf(rows), (std::vector<std::string>{"", "", "/Microsoft/Address Book", "", "",
                                                     "Extraer Mensajes E-mail con adjuntos"}));
  for (int row : {0, 1, 3, 4}) {
    EXPECT_EQ(rows[row].text, "") << row;
    EXPECT_TRUE(rows[row].checked) << row;
  }
  EXPECT_EQ(rows[2].text, "Address Book");
}

TEST(SystemFolders, RootFolderShowsAnEmptyText) {
  UserFolders folders = anaFolders();
  folders.personal = "/";
  const std::vector<TaskRow> rows =
      BuildFirstRunList(ObtenerCarpetasSistema(folders, fixedStore("")));
  EXPECT_EQ(rows[0].path, "/");
  EXPECT_EQ(rows[0].text, "");
}

// The length comes from the second answer, the text from the first.
TEST(SystemFolders, StoreAskedForTextThenLength) {
  int calls = 0;
  const TCarpetas carpetas = ObtenerCarpetasSistema(
      anaFolders(), [&calls]() -> std::string { return ++calls == 1 ? "/first/folder/" : "/x/"; });
  EXPECT_EQ(carpetas.slot[TCarpetas::kCorreo], "/f");
}

TEST(SystemFolders, StoreErrorEscapes) {
  EXPECT_THROW(
      ObtenerCarpetasSistema(
          anaFolders(),
          []() -> std::string { throw std::runtime_error("Invalid data type for 'Store Root'"); }),
      std::runtime_error);
}

}  // namespace
