#include "tasks/SystemFolders.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/UserFolders.h"
#include "tasks/CheckList.h"

namespace {

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

  PlainCheckList memo1;
  std::vector<std::string> rutas;
  BuildFirstRunList(carpetas, memo1, rutas);

  const std::vector<std::string> expectedPaths = {"/home/ana/Documentos",
                                                  "/home/ana/Escritorio",
                                                  "/home/ana/.local/share/Microsoft/Address Book",
                                                  "/home/ana/Favoritos",
                                                  "/home/ana/.wine/drive_c/Correo",
                                                  "Extraer Mensajes E-mail con adjuntos"};
  const std::vector<std::string> expectedTexts = {
      "Documentos", "Escritorio", "Address Book",
      "Favoritos",  "Correo",     "Extraer Mensajes E-mail con adjuntos"};
  EXPECT_EQ(rutas, expectedPaths);
  ASSERT_EQ(memo1.count(), 6);
  for (int row = 0; row < 6; ++row) {
    EXPECT_EQ(memo1.text(row), expectedTexts[static_cast<std::size_t>(row)]) << row;
    EXPECT_EQ(memo1.checked(row), row < 5) << row;
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
  PlainCheckList memo1;
  std::vector<std::string> rutas;
  BuildFirstRunList(carpetas, memo1, rutas);
  EXPECT_EQ(rutas[4], GetParam().slot3);
  EXPECT_EQ(memo1.text(4), GetParam().text);
  EXPECT_TRUE(memo1.checked(4));
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
  PlainCheckList memo1;
  std::vector<std::string> rutas;
  BuildFirstRunList(carpetas, memo1, rutas);
  ASSERT_EQ(memo1.count(), 6);
  EXPECT_EQ(rutas, (std::vector<std::string>{"", "", "/Microsoft/Address Book", "", "",
                                             "Extraer Mensajes E-mail con adjuntos"}));
  for (int row : {0, 1, 3, 4}) {
    EXPECT_EQ(memo1.text(row), "") << row;
    EXPECT_TRUE(memo1.checked(row)) << row;
  }
  EXPECT_EQ(memo1.text(2), "Address Book");
}

TEST(SystemFolders, RootFolderShowsAnEmptyText) {
  UserFolders folders = anaFolders();
  folders.personal = "/";
  PlainCheckList memo1;
  std::vector<std::string> rutas;
  BuildFirstRunList(ObtenerCarpetasSistema(folders, fixedStore("")), memo1, rutas);
  EXPECT_EQ(rutas[0], "/");
  EXPECT_EQ(memo1.text(0), "");
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
