#include "dialogs/FileUtil.h"

#include <sys/stat.h>

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include "dialogs/TBrowseFolderDlg.h"

bool PickFolder(std::string& folder, const std::string& text, int helpContext, QWidget* parent) {
  TBrowseFolderDlg dialog(parent);
  dialog.DialogText = text;
  dialog.FolderName = folder;
  dialog.HelpContext = helpContext;
  const bool ok = dialog.Execute();
  if (ok) folder = dialog.FolderName;
  return ok;
}

std::string StripTrailingBackslash(const std::string& path) {
  // One only, unlike withoutTrailingSlash: the chooser's callers expect "/a//" to keep "/a/".
  // A UTF-8 trail byte is never '/', so the last byte is the last character here.
  if (path.size() > 1 && path.back() == '/') return path.substr(0, path.size() - 1);
  return path;
}

bool IsExistingFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

QPoint CenterOnScreen(const QRect& window, const QRect& screen) {
  const int w = window.width();
  const int h = window.height();
  const int sw = screen.width();
  const int sh = screen.height();
  int left = (sw - w) / 2;
  int top = (sh - h) / 2;
  if (left + w > sw) left = sw - w;
  if (left < 0) left = 0;
  if (top + h > sh) top = sh - h;
  if (top < 0) top = 0;
  return screen.topLeft() + QPoint(left, top);
}

void CenterOnScreen(QWidget* window) {
  QScreen* screen = nullptr;
  if (QWidget* parent = window->parentWidget()) screen = parent->window()->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // The available area, so a window taller than the screen keeps its title bar clear of
  // the desktop's panels.
  window->move(CenterOnScreen(window->frameGeometry(), screen->availableGeometry()));
}
