#include "tasks/TaskEditing.h"

#include "platform/DestinationFolder.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"
#include "tasks/Prompts.h"
#include "tasks/TaskList.h"

bool addFolder(TaskList& tasks, Prompts& prompts) {
  std::string folder;
  if (!prompts.pickFolder(folder, "Añadir Carpeta y subcarpetas")) return false;
  tasks.append({folder, folder, true});
  return true;
}

bool removeSelectedFolder(TaskList& tasks, int& selected, Prompts& prompts) {
  if (selected < 0 || selected >= tasks.count()) selected = tasks.count() - 1;
  if (selected <= kLastProtectedRow) {
    prompts.warning(
        "No se puede eliminar las carpetas del sistema, desactivalas si no quieres hacer copia "
        "de seguridad");
    return false;
  }
  const std::string question = "¿Quieres dejar de hacer copias de seguridad de la carpeta\r\n" +
                               tasks.row(selected).text + "?";
  if (!prompts.question(question)) return false;
  tasks.remove(selected);
  return true;
}

void checkAll(TaskList& tasks, bool checked) {
  for (int i = 0; i < tasks.count(); ++i) tasks.setChecked(i, checked);
}

bool chooseDestination(std::string& dirDestino, Prompts& prompts) {
  // A destination whose folder was deleted is made again, so that the picker can show it;
  // never one that would depend on the current folder, nor one on the system disk in place
  // of a disk that is not plugged in.
  const std::string resolved = resolveFolderPath(dirDestino);
  if (!resolved.empty() && !destinationDiskMissing(resolved)) createDestinationFolder(resolved);
  std::string folder = withoutTrailingSlash(dirDestino);
  if (!prompts.pickFolder(folder, "Carpeta donde Guardar la Copia de Seguridad")) return false;
  dirDestino = folder;
  return true;
}
