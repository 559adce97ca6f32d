#include <sys/stat.h>

#include <QAction>
#include <cerrno>

#include "app/TForm1.h"
#include "dialogs/ExclusionsDialog.h"
#include "dialogs/VersionsDialog.h"
#include "tasks/RunSettings.h"

void TForm1::saveRunSetting(const std::function<void(const std::string& iniPath)>& save) {
  struct stat st {};
  if (::stat(deps_.iniPath.c_str(), &st) != 0 && errno == ENOENT) saveSettings();
  save(deps_.iniPath);
}

void TForm1::showDialog(QDialog& dialog) {
  if (deps_.showDialog)
    deps_.showDialog(dialog);
  else
    dialog.exec();
}

void TForm1::VersionesAnteriores1Click() {
  const RunSettings settings = loadRunSettings(deps_.iniPath);
  VersionsDialog dialog(
      DirDestino, settings.versiones, settings.diasVersiones,
      [this](bool keep, int days) {
        saveRunSetting([=](const std::string& ini) { saveVersiones(ini, keep, days); });
      },
      *deps_.prompts, this);
  showDialog(dialog);
}

void TForm1::Excluir1Click() {
  const RunSettings settings = loadRunSettings(deps_.iniPath);
  ExclusionsDialog dialog(
      settings.excluir,
      [this](const std::vector<std::string>& patterns) {
        saveRunSetting([&](const std::string& ini) { saveExclusions(ini, patterns); });
      },
      *deps_.prompts, this);
  showDialog(dialog);
}

void TForm1::ComprobarCopia1Click() {
  if (runInProgress()) return;
  forceCheck_ = true;
  try {
    RealizarCopiaSeguridad1Click();
  } catch (...) {
    forceCheck_ = false;
    throw;
  }
  forceCheck_ = false;
}

void TForm1::runStateChanged() {
  if (ComprobarCopia1) ComprobarCopia1->setEnabled(!runInProgress());
}
