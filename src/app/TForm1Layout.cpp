#include "app/TForm1.h"

#include <algorithm>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/CopyAnimation.h"
#include "app/LogLines.h"
#include "app/MenuShortcuts.h"
#include "app/TaskListModel.h"
#include "app/WindowMetrics.h"
#include "backup/RunTexts.h"
#include "dialogs/ByteText.h"
#include "dialogs/TAboutBox.h"
#include "resources/Pictures.h"

// The controls of the main window and its menu, as the documented layout has them. Every size
// is the documented one for 96 dpi, scaled to the font in use, and grown further wherever a
// text would not fit.

namespace {

// The log keeps its newest lines only; older ones are dropped as new ones arrive.
constexpr int kLogLineLimit = 20000;

// The widest texts some controls must show whole.
constexpr const char* kWidestTask = "Extraer Mensajes E-mail con adjuntos";
constexpr const char* kWidestCounter = " 9999999";

int textWidth(const QWidget* widget, const char* text) {
  return widget->fontMetrics().horizontalAdvance(fromUtf8(text));
}

WindowMetrics metricsOf(const QWidget* widget) {
  return WindowMetrics(widget->fontMetrics().height(), widget->logicalDpiY());
}

}  // namespace

void TForm1::buildLayout() {
  const WindowMetrics m = metricsOf(this);
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  int bandWidth = 0;
  QWidget* band = buildTopBand(central, m, bandWidth);
  column->addWidget(band);

  // Middle: the log on the left, the task panel on the right.
  auto* splitter = new QSplitter(Qt::Horizontal, central);
  splitter->setObjectName(QStringLiteral("Splitter1"));
  splitter->setChildrenCollapsible(false);
  splitter->setHandleWidth(m.scaled(3));
  QWidget* logPanel = buildLogPanel(splitter, m);
  int taskPanelWidth = 0;
  QWidget* taskPanel = buildTaskPanel(splitter, m, taskPanelWidth);
  splitter->addWidget(logPanel);
  splitter->addWidget(taskPanel);
  // Only the log grows and shrinks with the window; the task panel keeps its width.
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  column->addWidget(splitter, 1);
  setCentralWidget(central);

  const int panelsWidth = buildStatusBar(m);
  QStatusBar* bar = statusBar();
  // The window's documented client area is the band, 256 of middle and the status bar; its
  // width grows when the band or the status bar need more.
  const int width = std::max({m.scaled(670), bandWidth, panelsWidth + m.scaled(30)});
  splitter->setSizes({width - taskPanelWidth - splitter->handleWidth(), taskPanelWidth});
  resize(width, band->height() + m.scaled(256) + bar->height());

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1Timer(); }); });
}

// Top band: the Copy button, the animation and the two status lines. Bevel1 and Label1 are
// docked, the rest sit where the layout puts them. `bandWidth` is the width they need.
QWidget* TForm1::buildTopBand(QWidget* parent, const WindowMetrics& m, int& bandWidth) {
  auto* panel2 = new QWidget(parent);
  panel2->setObjectName(QStringLiteral("Panel2"));
  auto* band = new QVBoxLayout(panel2);
  band->setContentsMargins(0, 0, 0, 0);
  band->setSpacing(0);
  auto* bevel = new QFrame(panel2);
  bevel->setObjectName(QStringLiteral("Bevel1"));
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setFixedHeight(2);
  band->addWidget(bevel);
  band->addStretch(1);

  CopiarBt = new QToolButton(panel2);
  CopiarBt->setObjectName(QStringLiteral("CopiarBt"));
  CopiarBt->setText(fromUtf8("Copia Seguridad"));
  CopiarBt->setCheckable(true);
  CopiarBt->setIcon(Pictures::icon(Pictures::kCopyButton));
  CopiarBt->setIconSize(QSize(m.scaled(32), m.scaled(32)));
  CopiarBt->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  const QSize buttonHint = CopiarBt->sizeHint();
  CopiarBt->setGeometry(m.scaled(15), m.scaled(14), m.fitting(91, buttonHint.width()),
                        m.fitting(62, buttonHint.height()));
  connect(CopiarBt, &QToolButton::clicked, this, [this] { guarded([this] { CopiarBtClick(); }); });
  // The documented places to the right of the button keep their distance from it when it grows.
  const int besideButton = CopiarBt->geometry().right() + 1;

  Animate1 = new CopyAnimation(panel2);
  Animate1->setObjectName(QStringLiteral("Animate1"));
  Animate1->setGeometry(besideButton + m.scaled(69), m.scaled(2), m.scaled(272), m.scaled(60));

  EstadoLb = new QLabel(panel2);
  EstadoLb->setObjectName(QStringLiteral("EstadoLb"));
  EstadoLb->setAlignment(Qt::AlignCenter);
  EstadoLb->setTextFormat(Qt::PlainText);
  QFont bold = font();
  bold.setBold(true);
  // 9 points beside the window's 8, whatever size the window's font has.
  bold.setPointSizeF(font().pointSizeF() * 9.0 / 8.0);
  EstadoLb->setFont(bold);
  const QFontMetrics boldMetrics(bold);
  const int longestStatus = boldMetrics.horizontalAdvance(fromUtf8(kDeteniendo)) + m.scaled(4);
  EstadoLb->setGeometry(besideButton + m.scaled(14), m.scaled(60), m.fitting(381, longestStatus),
                        m.fitting(16, boldMetrics.height()));

  Label1 = new QLabel(panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  Label1->setContentsMargins(m.scaled(4), 0, 0, 0);
  // A long path is cut at the window's edge rather than widening the window.
  Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  Label1->setFixedHeight(m.fitting(13, fontMetrics().height()));
  band->addWidget(Label1);
  const int aboveLabel1 =
      std::max(CopiarBt->geometry().bottom(), EstadoLb->geometry().bottom()) + 1 + m.scaled(7);
  panel2->setFixedHeight(std::max(m.scaled(96), aboveLabel1 + Label1->height()));
  bandWidth = EstadoLb->geometry().right() + 1 + m.scaled(15);
  return panel2;
}

// The log, one row a line, in its sunken panel.
QWidget* TForm1::buildLogPanel(QWidget* parent, const WindowMetrics& m) {
  auto* panel1 = new QFrame(parent);
  panel1->setObjectName(QStringLiteral("Panel1"));
  panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel1->setMinimumWidth(m.scaled(30));
  auto* logBox = new QVBoxLayout(panel1);
  logBox->setContentsMargins(0, 0, 0, 0);
  RichEdit1 = new QListView(panel1);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  RichEdit1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  RichEdit1->setUniformItemSizes(true);
  RichEdit1->setWordWrap(false);
  RichEdit1->setTextElideMode(Qt::ElideNone);
  RichEdit1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  RichEdit1->setFrameShape(QFrame::NoFrame);
  logLines_ = new LogLines(kLogLineLimit, RichEdit1);
  RichEdit1->setModel(logLines_);
  // The log follows its newest line, unless the user has scrolled back to read.
  QScrollBar* logScroll = RichEdit1->verticalScrollBar();
  connect(logScroll, &QScrollBar::valueChanged, this,
          [this, logScroll](int value) { logFollows_ = value == logScroll->maximum(); });
  connect(logScroll, &QScrollBar::rangeChanged, this, [this, logScroll](int, int maximum) {
    if (logFollows_) logScroll->setValue(maximum);
  });
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setMinimumWidth(1);
  logBox->addWidget(RichEdit1);
  buildLogCommands();
  return panel1;
}

// The task list with its toolbar beside it and the gauge below. `panelWidth` is the width
// that holds the widest task text beside the toolbar.
QWidget* TForm1::buildTaskPanel(QWidget* parent, const WindowMetrics& m, int& panelWidth) {
  auto* panel3 = new QWidget(parent);
  panel3->setObjectName(QStringLiteral("Panel3"));
  panel3->setMinimumWidth(m.scaled(30));
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
  QWidget* toolEdge = buildToolBar(panel3, m);
  listRow->addWidget(toolEdge);
  panel3Column->addLayout(listRow);
  panel3Column->addWidget(buildGauge(panel3, m));

  const int checkBox = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, Memo1) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, Memo1);
  panelWidth = m.fitting(287, toolEdge->width() + textWidth(this, kWidestTask) + checkBox +
                                  2 * Memo1->frameWidth() + m.scaled(12));
  return panel3;
}

// ToolBar1 in its etched edge, 5 pixels inside it.
QWidget* TForm1::buildToolBar(QWidget* parent, const WindowMetrics& m) {
  auto* toolEdge = new QFrame(parent);
  toolEdge->setObjectName(QStringLiteral("ToolBar1Edge"));
  toolEdge->setFrameStyle(QFrame::Box | QFrame::Sunken);
  auto* toolBox = new QVBoxLayout(toolEdge);
  const int border = m.scaled(5);
  toolBox->setContentsMargins(border, border, border, border);
  auto* toolBar = new QToolBar(toolEdge);
  toolBar->setObjectName(QStringLiteral("ToolBar1"));
  toolBar->setOrientation(Qt::Vertical);
  toolBar->setMovable(false);
  toolBar->setFloatable(false);
  toolBar->setIconSize(QSize(m.scaled(16), m.scaled(16)));
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
  const QSize toolButtonSize(m.scaled(31), m.scaled(29));
  for (const Tool& tool : tools) {
    QAction* action = toolBar->addAction(Pictures::imageList1(tool.image), fromUtf8(tool.hint));
    action->setObjectName(QString::fromLatin1(tool.name));
    action->setToolTip(fromUtf8(tool.hint));
    if (auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action))) {
      button->setAutoRaise(true);
      button->setFixedSize(toolButtonSize);
    }
    auto handler = tool.handler;
    connect(action, &QAction::triggered, this,
            [this, handler] { guarded([=, this] { (this->*handler)(); }); });
  }
  toolBox->addWidget(toolBar, 0, Qt::AlignHCenter | Qt::AlignTop);
  toolBox->addStretch(1);
  toolEdge->setFixedWidth(
      m.fitting(57, toolButtonSize.width() + 2 * (border + toolEdge->frameWidth())));
  return toolEdge;
}

QWidget* TForm1::buildGauge(QWidget* parent, const WindowMetrics& m) {
  Gauge1 = new QProgressBar(parent);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setRange(0, 1);
  Gauge1->setValue(0);
  Gauge1->setTextVisible(true);
  Gauge1->setFormat(QStringLiteral("%p%"));
  Gauge1->setAlignment(Qt::AlignCenter);
  QPalette gaugeColours = Gauge1->palette();
  gaugeColours.setColor(QPalette::Base, Qt::white);
  gaugeColours.setColor(QPalette::Window, Qt::white);
  gaugeColours.setColor(QPalette::Highlight, QColor(0, 0, 255));
  gaugeColours.setColor(QPalette::Text, Qt::black);
  gaugeColours.setColor(QPalette::WindowText, Qt::black);
  gaugeColours.setColor(QPalette::HighlightedText, Qt::white);
  Gauge1->setPalette(gaugeColours);
  Gauge1->setFixedHeight(
      m.fitting(15, std::max(fontMetrics().height() + 2, Gauge1->minimumSizeHint().height())));
  return Gauge1;
}

// Status bar: three captions with their counters, then the elapsed time. Returns the width
// the panels need.
int TForm1::buildStatusBar(const WindowMetrics& m) {
  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setSizeGripEnabled(true);
  struct Panel {
    const char* text;
    int width;  // 0: the rest of the bar
    Qt::Alignment alignment;
    const char* widest;
  };
  const Panel panels[] = {
      {"Actualizados: ", 75, Qt::AlignRight, "Actualizados: "},
      {"", 50, Qt::AlignLeft, kWidestCounter},
      {"Copiados: ", 75, Qt::AlignRight, "Copiados: "},
      {"", 50, Qt::AlignLeft, kWidestCounter},
      {"Revisados: ", 75, Qt::AlignRight, "Revisados: "},
      {"", 50, Qt::AlignLeft, kWidestCounter},
      {" 0:00:00", 0, Qt::AlignLeft, " 23:59:59"},
  };
  int panelsWidth = 0;
  for (const Panel& facts : panels) {
    auto* panel = new QLabel(fromUtf8(facts.text), bar);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(statusPanels_.size()));
    panel->setTextFormat(Qt::PlainText);
    panel->setAlignment(facts.alignment | Qt::AlignVCenter);
    const int needed = textWidth(panel, facts.widest) + m.scaled(6);
    if (facts.width > 0) {
      panel->setMinimumWidth(m.fitting(facts.width, needed));
      panelsWidth += panel->minimumWidth();
    } else {
      panel->setMinimumWidth(needed);
      panelsWidth += needed;
    }
    bar->addWidget(panel, facts.width > 0 ? 0 : 1);
    statusPanels_.push_back(panel);
  }
  setStatusBar(bar);
  bar->setFixedHeight(std::max(m.scaled(19), bar->sizeHint().height()));
  return panelsWidth;
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
  // Ctrl+A belongs to the destination command, the first item bearing it: this item only
  // shows the key, and runs the add command when chosen.
  QAction* addFolder =
      add(acciones, "AadirCarpeta1", "Añadir Carpeta", 3, {}, &TForm1::AnyadirBtClick);
  addFolder->setText(addFolder->text() + QLatin1Char('\t') +
                     QKeySequence(Qt::CTRL | Qt::Key_A).toString(QKeySequence::NativeText));
  add(acciones, "BorrarCarpeta1", "Borrar Carpeta", 4, QKeySequence(Qt::Key_Delete),
      &TForm1::BorrarBtClick);
  add(acciones, "RealizarCopiaSeguridad1", "Realizar Copia Seguridad", 2, QKeySequence(Qt::Key_F10),
      &TForm1::RealizarCopiaSeguridad1Click);
  ComprobarCopia1 =
      add(acciones, "ComprobarCopia1", "Co&mprobar copia", -1, {}, &TForm1::ComprobarCopia1Click);
  acciones->addSeparator();
  add(acciones, "VersionesAnteriores1", "&Versiones anteriores...", -1, {},
      &TForm1::VersionesAnteriores1Click);
  add(acciones, "Excluir1", "E&xcluir...", -1, {}, &TForm1::Excluir1Click);

  QAction* about = menu->addAction(fromUtf8("Acerca &de..."));
  about->setObjectName(QStringLiteral("Acercade1"));
  connect(about, &QAction::triggered, this, [this] { ShowAboutBox(this); });

  new MenuShortcutsFirst(this, menu);
  // The documented outer size counts the menu bar apart from the client area.
  resize(width(), height() + menu->sizeHint().height());
}
