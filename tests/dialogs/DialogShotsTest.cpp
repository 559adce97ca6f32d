#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <cstdlib>

#include "dialogs/ExclusionsDialog.h"
#include "dialogs/VersionsDialog.h"
#include "support/FakePrompts.h"

namespace {

// Pictures of the settings dialogs for the documentation, written only when
// RESGUARDA_SHOTS names a folder: `RESGUARDA_SHOTS=/tmp/shots tests_dialogs --gtest_filter=Shots*`.
TEST(Shots, SettingsDialogs) {
  const char* folder = std::getenv("RESGUARDA_SHOTS");
  if (!folder) GTEST_SKIP() << "RESGUARDA_SHOTS not set";
  const QDir shots(QString::fromLocal8Bit(folder));
  FakePrompts prompts;

  VersionsDialog versions(
      "/media/usb/copia/", true, 30, [](bool, int) {}, prompts);
  versions.show();
  EXPECT_TRUE(versions.grab().save(shots.filePath(QStringLiteral("versiones.png"))));

  ExclusionsDialog exclusions(
      {"*.tmp", ".cache/", "node_modules/", "Descargas/*.iso"},
      [](const std::vector<std::string>&) {}, prompts);
  exclusions.show();
  EXPECT_TRUE(exclusions.grab().save(shots.filePath(QStringLiteral("excluir.png"))));
}

}  // namespace
