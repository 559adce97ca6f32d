#pragma once

#include <QObject>

class QMenuBar;
class QWidget;

// Gives the shortcuts of a window's menu bar the key before the focused control sees it, so
// that Del removes a folder and Ctrl+A chooses the destination also while the log (which
// would take them as text editing keys) has the focus. Dialogs and open menus keep their keys.
class MenuShortcutsFirst : public QObject {
 public:
  // Watches the application's events for `window`'s controls; ends with `window`.
  MenuShortcutsFirst(QWidget* window, QMenuBar* menu);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  QMenuBar* menu_;
};
