#include "app/TForm1.h"

#include <algorithm>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/CopyAnimation.h"
#include "app/TaskListModel.h"
#include "dialogs/TAboutBox.h"
#include "resources/Pictures.h"

// The controls of the main window and its menu, as the documented layout has them.

namespace {

// The log keeps its newest lines only; older ones are dropped as new ones arrive.
constexpr int kLogLineLimit = 20000;

QString fromUtf8(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

void TForm1::buildLayout() {
  resize(686, 430);
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  // Top band: the Copy button, the animation and the two status lines.
  auto* panel2 = new QWidget(central);
  panel2->setObjectName(QStringLiteral("Panel2"));
  panel2->setFixedHeight(96);
  auto* bevel = new QFrame(panel2);
  bevel->setObjectName(QStringLiteral("Bevel1"));
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(0, 0, 4000, 2);

  CopiarBt = new QToolButton(panel2);
  CopiarBt->setObjectName(QStringLiteral("CopiarBt"));
  CopiarBt->setText(fromUtf8("Copia Seguridad"));
  CopiarBt->setCheckable(true);
  CopiarBt->setIcon(Pictures::icon(Pictures::kCopyButton));
  CopiarBt->setIconSize(QSize(32, 32));
  CopiarBt->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  // The documented 91 pixels fit the caption only in the original's small font.
  const int captionWidth = CopiarBt->fontMetrics().horizontalAdvance(CopiarBt->text()) + 16;
  CopiarBt->setGeometry(15, 14, std::max(91, captionWidth), 62);
  connect(CopiarBt, &QToolButton::clicked, this, [this] { guarded([this] { CopiarBtClick(); }); });

  Animate1 = new CopyAnimation(panel2);
  Animate1->setObjectName(QStringLiteral("Animate1"));
  Animate1->setGeometry(CopiarBt->geometry().right() + 69, 2, 272, 60);

  EstadoLb = new QLabel(panel2);
  EstadoLb->setObjectName(QStringLiteral("EstadoLb"));
  EstadoLb->setAlignment(Qt::AlignCenter);
  EstadoLb->setGeometry(CopiarBt->geometry().right() + 14, 60, 381, 16);
  QFont bold = EstadoLb->font();
  bold.setBold(true);
  bold.setPointSize(9);
  EstadoLb->setFont(bold);

  Label1 = new QLabel(panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(4, 96 - 15, 4000, 13);
  Label1->setTextFormat(Qt::PlainText);
  column->addWidget(panel2);

  // Middle: the log on the left, the task panel on the right.
  auto* splitter = new QSplitter(Qt::Horizontal, central);
  splitter->setObjectName(QStringLiteral("Splitter1"));
  splitter->setChildrenCollapsible(false);

  RichEdit1 = new QPlainTextEdit(splitter);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setReadOnly(true);
  RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
  RichEdit1->setMaximumBlockCount(kLogLineLimit);
  RichEdit1->setMinimumWidth(30);

  auto* panel3 = new QWidget(splitter);
  panel3->setObjectName(QStringLiteral("Panel3"));
  panel3->setMinimumWidth(30);
  auto* panel3Column = new QVBoxLayout(panel3);
  panel3Column->setContentsMargins(0, 0, 0, 0);
  panel3Column->setSpacing(0);
  auto* listRow = new QHBoxLayout();
  listRow->setSpacing(0);
  Memo1 = new QListView(panel3);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setSelectionMode(QAbstractItemView::SingleSelection);
  taskListModel_ = std::make_unique<TaskListModel>(tasks_);
  Memo1->setModel(taskListModel_.get());
  listRow->addWidget(Memo1);

  auto* toolBar = new QToolBar(panel3);
  toolBar->setObjectName(QStringLiteral("ToolBar1"));
  toolBar->setOrientation(Qt::Vertical);
  toolBar->setIconSize(QSize(16, 16));
  toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  struct Tool {
    const char* name;
    const char* hint;
    int image;  // in ImageList1
    void (TForm1::*handler)();
  };
  const Tool tools[] = {
      {"AnyadirBt", "Añadir Carpeta", 3, &TForm1::AnyadirBtClick},
      {"BorrarBt", "Eliminar Carpeta", 4, &TForm1::BorrarBtClick},
      {"ToolButton1", "Seleccionar Todos", 7, &TForm1::ToolButton1Click},
      {"ToolButton2", "Seleccionar Ninguno", 8, &TForm1::ToolButton2Click},
  };
  for (const Tool& tool : tools) {
    QAction* action = toolBar->addAction(Pictures::imageList1(tool.image), fromUtf8(tool.hint));
    action->setObjectName(QString::fromLatin1(tool.name));
    action->setToolTip(fromUtf8(tool.hint));
    auto handler = tool.handler;
    connect(action, &QAction::triggered, this,
            [this, handler] { guarded([=, this] { (this->*handler)(); }); });
  }
  listRow->addWidget(toolBar);
  panel3Column->addLayout(listRow);

  Gauge1 = new QProgressBar(panel3);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setRange(0, 1);
  Gauge1->setValue(0);
  Gauge1->setFixedHeight(15);
  Gauge1->setAlignment(Qt::AlignCenter);
  panel3Column->addWidget(Gauge1);

  splitter->addWidget(RichEdit1);
  splitter->addWidget(panel3);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  splitter->setSizes({380, 287});
  column->addWidget(splitter, 1);
  setCentralWidget(central);

  // Status bar: three captions with their counters, then the elapsed time.
  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setSizeGripEnabled(true);
  const char* captions[] = {"Actualizados: ", "", "Copiados: ", "", "Revisados: ", "", " 0:00:00"};
  const int widths[] = {75, 50, 75, 50, 75, 50, 0};
  for (int i = 0; i < 7; ++i) {
    auto* panel = new QLabel(fromUtf8(captions[i]), bar);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setAlignment((i % 2 == 0 && i < 6 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    if (widths[i] > 0)
      panel->setMinimumWidth(
          std::max(widths[i], panel->fontMetrics().horizontalAdvance(panel->text()) + 8));
    bar->addWidget(panel, widths[i] > 0 ? 0 : 1);
    statusPanels_.push_back(panel);
  }
  setStatusBar(bar);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1Timer(); }); });
}

void TForm1::buildMenu() {
  QMenuBar* menu = menuBar();
  menu->setObjectName(QStringLiteral("MainMenu1"));
  auto add = [this](QMenu* into, const char* name, const char* caption, int image,
                    const QKeySequence& shortcut, void (TForm1::*handler)()) {
    QAction* action = into->addAction(Pictures::imageList1(image), fromUtf8(caption));
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
      action->setShortcut(shortcut);
      action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this,
            [this, handler] { guarded([=, this] { (this->*handler)(); }); });
    return action;
  };
  QMenu* archivo = menu->addMenu(fromUtf8("&Archivo"));
  archivo->setObjectName(QStringLiteral("Archivo1"));
  add(archivo, "GuardarCopiadeSeguridaden1", "&Guardar Copia de Seguridad en...", 0,
      QKeySequence(Qt::CTRL | Qt::Key_A), &TForm1::GuardarCopiadeSeguridaden1Click);
  add(archivo, "Salir1", "&Salir", 1, {}, &TForm1::Salir1Click);

  QMenu* acciones = menu->addMenu(fromUtf8("A&cciones"));
  acciones->setObjectName(QStringLiteral("Acciones1"));
  // Ctrl+A belongs to the destination command; this item runs the add command by click.
  add(acciones, "AadirCarpeta1", "Añadir Carpeta", 3, {}, &TForm1::AnyadirBtClick);
  add(acciones, "BorrarCarpeta1", "Borrar Carpeta", 4, QKeySequence(Qt::Key_Delete),
      &TForm1::BorrarBtClick);
  add(acciones, "RealizarCopiaSeguridad1", "Realizar Copia Seguridad", 2, QKeySequence(Qt::Key_F10),
      &TForm1::RealizarCopiaSeguridad1Click);

  QAction* about = menu->addAction(fromUtf8("Acerca &de..."));
  about->setObjectName(QStringLiteral("Acercade1"));
  connect(about, &QAction::triggered, this, [this] { ShowAboutBox(this); });
}
