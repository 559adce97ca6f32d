#include "app/LogCommands.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QItemSelection>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>

#include "app/LogLines.h"
#include "app/RunLog.h"
#include "app/TForm1.h"
#include "dialogs/ByteText.h"
#include "platform/ReplaceFile.h"

QString selectedLogText(const QListView& view) {
  QModelIndexList rows = view.selectionModel()->selectedRows();
  // The selection model lists rows in the order the user picked them.
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList lines;
  for (const QModelIndex& row : rows) lines.append(row.data(Qt::DisplayRole).toString());
  return lines.join(QLatin1Char('\n'));
}

void saveLogLines(const LogLines& lines, const std::string& path) {
  ReplaceFile file(path, 0600);
  for (const std::string& line : lines.lines()) file.write(printableLine(line) + "\n");
  file.commit();
}

namespace {

// Keys the list view does not give a log: its own Ctrl+C copies only the current line, and it
// takes Ctrl+Shift+End and Ctrl+Shift+Home as moves that select nothing. Filtered here, so
// they also work where no shortcut reaches the view (a window not yet shown).
class LogKeys : public QObject {
 public:
  LogKeys(QListView* view, QAction* copy) : QObject(view), view_(view), copy_(copy) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      copy_->trigger();
      return true;
    }
    const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const bool toEnd = key->key() == Qt::Key_End;
    if (modifiers != (Qt::ControlModifier | Qt::ShiftModifier) ||
        (!toEnd && key->key() != Qt::Key_Home))
      return QObject::eventFilter(watched, event);
    extendTo(toEnd ? view_->model()->rowCount() - 1 : 0);
    return true;
  }

 private:
  // Selects from the current line to `row`, which becomes the current one.
  void extendTo(int row) {
    if (row < 0) return;
    QAbstractItemModel* model = view_->model();
    const QModelIndex from =
        view_->currentIndex().isValid() ? view_->currentIndex() : model->index(0, 0);
    const QModelIndex to = model->index(row, 0);
    view_->selectionModel()->select(QItemSelection(from, to), QItemSelectionModel::ClearAndSelect);
    view_->selectionModel()->setCurrentIndex(to, QItemSelectionModel::NoUpdate);
    view_->scrollTo(to);
  }

  QListView* view_;
  QAction* copy_;
};

}  // namespace

// The log's own commands: Ctrl+C and a context menu to copy, select all and save.
void TForm1::buildLogCommands() {
  auto* copy = new QAction(fromUtf8("&Copiar"), RichEdit1);
  copy->setObjectName(QStringLiteral("CopiarRegistro"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, [this] {
    if (RichEdit1->selectionModel()->hasSelection())
      QApplication::clipboard()->setText(selectedLogText(*RichEdit1));
  });
  RichEdit1->addAction(copy);
  RichEdit1->installEventFilter(new LogKeys(RichEdit1, copy));
  auto* selectAll = new QAction(fromUtf8("&Seleccionar todo"), RichEdit1);
  selectAll->setObjectName(QStringLiteral("SeleccionarTodoRegistro"));
  connect(selectAll, &QAction::triggered, RichEdit1, &QListView::selectAll);
  auto* save = new QAction(fromUtf8("&Guardar registro..."), RichEdit1);
  save->setObjectName(QStringLiteral("GuardarRegistro"));
  connect(save, &QAction::triggered, this, [this] { guarded([this] { GuardarRegistroClick(); }); });

  RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RichEdit1, &QWidget::customContextMenuRequested, this,
          [this, copy, selectAll, save](const QPoint& at) {
            copy->setEnabled(RichEdit1->selectionModel()->hasSelection());
            selectAll->setEnabled(logLines_->rowCount() > 0);
            QMenu menu(RichEdit1);
            menu.setObjectName(QStringLiteral("MenuRegistro"));
            menu.addAction(copy);
            menu.addAction(selectAll);
            menu.addSeparator();
            menu.addAction(save);
            menu.exec(RichEdit1->viewport()->mapToGlobal(at));
            copy->setEnabled(true);  // the shortcut works whenever there is a selection
          });
}

void TForm1::GuardarRegistroClick() {
  std::string path;
  if (deps_.chooseLogFile) {
    path = deps_.chooseLogFile();
  } else {
    path = toBytes(QFileDialog::getSaveFileName(this, fromUtf8("Guardar registro"),
                                                fromBytes(RunLog::kFileName),
                                                fromUtf8("Registros (*.log);;Todos (*)")));
  }
  if (!path.empty()) saveLogLines(*logLines_, path);
}
