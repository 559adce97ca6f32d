#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "tasks/TaskList.h"

struct UserFolders;

// The system folders that seed a first task list, by slot:
// 0 documents, 1 desktop, 2 address book, 3 mail store, 4 unused, 5 favourites.
struct TCarpetas {
  static constexpr int kDocumentos = 0;
  static constexpr int kEscritorio = 1;
  static constexpr int kLibretaDirecciones = 2;
  static constexpr int kCorreo = 3;
  static constexpr int kSinUso = 4;
  static constexpr int kFavoritos = 5;

  std::array<std::string, 6> slot;
};

// Fills slots 0, 1, 2, 3 and 5. Slot 2 is AppData + "/Microsoft/Address Book" (a plain join,
// so an empty AppData gives "/Microsoft/Address Book"); slot 3 is the store folder less its
// last character, whatever that is. Any error from storeFolder goes on to the caller.
TCarpetas ObtenerCarpetasSistema(const UserFolders& folders,
                                 const std::function<std::string()>& storeFolder);

// Appends the first-run rows: slots 0, 1, 2, 5, 3 checked, shown by the last component of
// their paths, then the mail extraction task, unchecked.
std::vector<TaskRow> BuildFirstRunList(const TCarpetas& carpetas);
