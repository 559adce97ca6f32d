#include "tasks/SystemFolders.h"

#include "tasks/TaskSettings.h"

#include "platform/UserFolders.h"
#include "tasks/ExtraerPalabra.h"

TCarpetas ObtenerCarpetasSistema(const UserFolders& folders,
                                 const std::function<std::string()>& storeFolder) {
  TCarpetas carpetas;
  carpetas.slot[TCarpetas::kDocumentos] = folders.personal;
  carpetas.slot[TCarpetas::kEscritorio] = folders.desktop;
  carpetas.slot[TCarpetas::kFavoritos] = folders.favorites;
  carpetas.slot[TCarpetas::kLibretaDirecciones] = folders.appData + "/Microsoft/Address Book";

  // Asked twice, for the text and for its length, as the store folder is read afresh each
  // time; the length of the second answer decides how much of the first is kept.
  const std::string store = storeFolder();
  const std::size_t length = storeFolder().size();
  carpetas.slot[TCarpetas::kCorreo] = length == 0 ? std::string() : store.substr(0, length - 1);
  return carpetas;
}

std::vector<TaskRow> BuildFirstRunList(const TCarpetas& carpetas) {
  std::vector<TaskRow> rows;
  for (int slot : {TCarpetas::kDocumentos, TCarpetas::kEscritorio, TCarpetas::kLibretaDirecciones,
                   TCarpetas::kFavoritos, TCarpetas::kCorreo}) {
    const std::string& path = carpetas.slot[static_cast<std::size_t>(slot)];
    rows.push_back({path, lastComponent(path), true});
  }
  rows.push_back({kMailTaskText, kMailTaskText, false});
  return rows;
}
