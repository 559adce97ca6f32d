#include "app/MenuShortcuts.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace {

bool bearsShortcut(const QList<QAction*>& actions, const QKeySequence& keys) {
  for (QAction* action : actions) {
    if (action->isEnabled() && action->shortcut() == keys) return true;
    if (QMenu* submenu = action->menu(); submenu && bearsShortcut(submenu->actions(), keys))
      return true;
  }
  return false;
}

}  // namespace

MenuShortcutsFirst::MenuShortcutsFirst(QWidget* window, QMenuBar* menu)
    : QObject(window), window_(window), menu_(menu) {
  qApp->installEventFilter(this);
}

bool MenuShortcutsFirst::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType()) return false;
  const auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != window_) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  const QKeySequence keys(
      QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
  // Kept from the control and left unaccepted: the shortcut map then runs the menu's command.
  return bearsShortcut(menu_->actions(), keys);
}
