#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "app/LogLines.h"
#include "app/TForm1.h"
#include "app/WindowMetrics.h"
#include "resources/Pictures.h"
#include "support/EventLoopWait.h"
#include "support/FakePrompts.h"
#include "support/FirstRunRows.h"
#include "support/TempTree.h"

namespace {

constexpr time_t kOld = 1600000000;

QString utf8(const char* text) {
  return QString::fromUtf8(text);
}

// A main window over a settings file of its own, with its prompts recorded.
class LayoutTest : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> makeForm() {
    FormDependencies deps;
    deps.iniPath = tree.path("Resguarda.ini");
    deps.systemFolders = firstRunRows;
    deps.prompts = &prompts;
    deps.runLogFolder = tree.path("state");
    return std::make_unique<TForm1>(StartupOptions{}, std::move(deps));
  }

  template <typename T>
  static T* child(QObject& form, const QString& name) {
    T* found = form.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name.toStdString();
    return found;
  }
  template <typename T>
  static T* child(QObject& form, const char* name) {
    return child<T>(form, QString::fromLatin1(name));
  }

  static void showActive(TForm1& form) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  }

  TempTree tree;
  FakePrompts prompts;
};

// The same picture, drawn at the size the menu and toolbar use.
bool samePicture(const QIcon& shown, int image) {
  return shown.pixmap(16, 16).toImage() == Pictures::imageList1(image).pixmap(16, 16).toImage();
}

struct PanelCase {
  int index;
  const char* text;
  Qt::Alignment alignment;
  int width;  // documented; 0: the rest of the bar
};

class StatusPanelTest : public LayoutTest, public ::testing::WithParamInterface<PanelCase> {};

TEST_P(StatusPanelTest, HasItsInitialTextAlignmentAndWidth) {
  const PanelCase& c = GetParam();
  auto form = makeForm();
  auto* panel = child<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(c.index));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->text(), utf8(c.text));
  EXPECT_EQ(panel->alignment() & Qt::AlignHorizontal_Mask, c.alignment);
  EXPECT_EQ(panel->parent(), child<QStatusBar>(*form, "StatusBar1"));
  showActive(*form);
  const WindowMetrics m(form->fontMetrics().height(), form->logicalDpiY());
  EXPECT_GE(panel->width(), m.scaled(c.width));
  EXPECT_GE(panel->width(), panel->fontMetrics().horizontalAdvance(panel->text()));
  // The panels stand left to right in their order.
  if (c.index > 0) {
    auto* before = child<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(c.index - 1));
    EXPECT_LT(before->geometry().right(), panel->geometry().left());
  }
}

INSTANTIATE_TEST_SUITE_P(StatusBar1, StatusPanelTest,
                         ::testing::Values(PanelCase{0, "Actualizados: ", Qt::AlignRight, 75},
                                           PanelCase{1, "", Qt::AlignLeft, 50},
                                           PanelCase{2, "Copiados: ", Qt::AlignRight, 75},
                                           PanelCase{3, "", Qt::AlignLeft, 50},
                                           PanelCase{4, "Revisados: ", Qt::AlignRight, 75},
                                           PanelCase{5, "", Qt::AlignLeft, 50},
                                           PanelCase{6, " 0:00:00", Qt::AlignLeft, 0}));

TEST_F(LayoutTest, TheElapsedTimeTakesTheRestOfTheBar) {
  auto form = makeForm();
  showActive(*form);
  auto* bar = child<QStatusBar>(*form, "StatusBar1");
  auto* last = child<QLabel>(*form, "StatusPanel6");
  const int before = last->width();
  form->resize(form->width() + 150, form->height());
  QCoreApplication::processEvents();
  EXPECT_EQ(last->width(), before + 150);
  EXPECT_TRUE(bar->isSizeGripEnabled());
}

TEST_F(LayoutTest, TheLogFollowsItsNewestLineUnlessTheUserScrolledBack) {
  auto form = makeForm();
  showActive(*form);
  auto* view = child<QListView>(*form, "RichEdit1");
  auto* log = qobject_cast<LogLines*>(view->model());
  QScrollBar* scroll = view->verticalScrollBar();
  auto addLines = [&](int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) lines.append(QStringLiteral("/home/ana/%1").arg(i));
    log->append(lines);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  };
  addLines(200);
  ASSERT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum());
  addLines(200);
  EXPECT_EQ(scroll->value(), scroll->maximum());
  scroll->setValue(10);  // the user reads an earlier line
  addLines(200);
  EXPECT_EQ(scroll->value(), 10);
  scroll->setValue(scroll->maximum());
  addLines(200);
  EXPECT_EQ(scroll->value(), scroll->maximum());
}

TEST_F(LayoutTest, TheGaugeStartsAtZeroPercentAndShowsItsPercentage) {
  auto form = makeForm();
  auto* gauge = child<QProgressBar>(*form, "Gauge1");
  EXPECT_EQ(gauge->value(), 0);
  EXPECT_EQ(gauge->minimum(), 0);
  EXPECT_EQ(gauge->maximum(), 1);
  EXPECT_TRUE(gauge->isTextVisible());
  EXPECT_EQ(gauge->text(), QStringLiteral("0%"));
  EXPECT_EQ(gauge->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

struct MenuCase {
  const char* name;
  const char* menu;  // the top-level menu's object name; "" for a top-level item
  const char* menuCaption;
  const char* caption;
  int image;  // -1: none
  QKeySequence shown;
};

class MenuItemTest : public LayoutTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuItemTest, HasItsCaptionImageAndShortcut) {
  const MenuCase& c = GetParam();
  auto form = makeForm();
  auto* action = child<QAction>(*form, c.name);
  ASSERT_NE(action, nullptr);
  const QString text = action->text();
  EXPECT_EQ(text.section(QLatin1Char('\t'), 0, 0), utf8(c.caption));
  // The key the menu shows, whether the item runs by it or only shows it.
  const QString shownKeys = action->shortcut().isEmpty()
                                ? text.section(QLatin1Char('\t'), 1)
                                : action->shortcut().toString(QKeySequence::NativeText);
  EXPECT_EQ(shownKeys, c.shown.toString(QKeySequence::NativeText));
  if (c.image >= 0) {
    EXPECT_TRUE(samePicture(action->icon(), c.image));
  } else {
    EXPECT_TRUE(action->icon().isNull());
  }

  auto* bar = child<QMenuBar>(*form, "MainMenu1");
  if (*c.menu == '\0') {
    EXPECT_TRUE(bar->actions().contains(action));
    EXPECT_EQ(action->menu(), nullptr);
    return;
  }
  auto* menu = child<QMenu>(*form, c.menu);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->actions().contains(action));
  EXPECT_TRUE(bar->actions().contains(menu->menuAction()));
  EXPECT_EQ(menu->title(), utf8(c.menuCaption));
}

INSTANTIATE_TEST_SUITE_P(
    MainMenu1, MenuItemTest,
    ::testing::Values(MenuCase{"GuardarCopiadeSeguridaden1", "Archivo1", "&Archivo",
                               "&Guardar Copia de Seguridad en...", 0,
                               QKeySequence(Qt::CTRL | Qt::Key_A)},
                      MenuCase{"Salir1", "Archivo1", "&Archivo", "&Salir", 1, QKeySequence()},
                      MenuCase{"AadirCarpeta1", "Acciones1", "A&cciones", "Añadir Carpeta", 3,
                               QKeySequence(Qt::CTRL | Qt::Key_A)},
                      MenuCase{"BorrarCarpeta1", "Acciones1", "A&cciones", "Borrar Carpeta", 4,
                               QKeySequence(Qt::Key_Delete)},
                      MenuCase{"RealizarCopiaSeguridad1", "Acciones1", "A&cciones",
                               "Realizar Copia Seguridad", 2, QKeySequence(Qt::Key_F10)},
                      MenuCase{"Acercade1", "", "", "Acerca &de...", -1, QKeySequence()}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(LayoutTest, TheMenusStandInTheirOrder) {
  auto form = makeForm();
  QStringList shown;
  for (QAction* top : child<QMenuBar>(*form, "MainMenu1")->actions()) {
    shown << top->text();
    if (top->menu())
      for (QAction* item : top->menu()->actions()) shown << QStringLiteral("  ") + item->text();
  }
  EXPECT_EQ(shown.join(QLatin1Char('|')),
            utf8("&Archivo|  &Guardar Copia de Seguridad en...|  &Salir|A&cciones|  Añadir "
                 "Carpeta\t") +
                QKeySequence(Qt::CTRL | Qt::Key_A).toString(QKeySequence::NativeText) +
                utf8("|  Borrar Carpeta|  Realizar Copia Seguridad|Acerca &de..."));
}

struct ToolCase {
  const char* name;
  const char* hint;
  int image;
};

class ToolButtonTest : public LayoutTest, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(ToolButtonTest, IsAFlatPictureWithItsHint) {
  const ToolCase& c = GetParam();
  auto form = makeForm();
  auto* toolBar = child<QToolBar>(*form, "ToolBar1");
  auto* action = child<QAction>(*form, c.name);
  ASSERT_TRUE(toolBar && action);
  EXPECT_EQ(toolBar->orientation(), Qt::Vertical);
  EXPECT_TRUE(toolBar->actions().contains(action));
  EXPECT_EQ(action->toolTip(), utf8(c.hint));
  EXPECT_TRUE(samePicture(action->icon(), c.image));
  auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action));
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->autoRaise());
  EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
  showActive(*form);
  const WindowMetrics m(form->fontMetrics().height(), form->logicalDpiY());
  EXPECT_EQ(button->size(), QSize(m.scaled(31), m.scaled(29)));
  // Whole inside the etched edge.
  auto* edge = child<QFrame>(*form, "ToolBar1Edge");
  const QRect inEdge(button->mapTo(edge, QPoint(0, 0)), button->size());
  EXPECT_TRUE(edge->contentsRect().contains(inEdge));
}

INSTANTIATE_TEST_SUITE_P(ToolBar1, ToolButtonTest,
                         ::testing::Values(ToolCase{"AnyadirBt", "Añadir Carpeta", 3},
                                           ToolCase{"BorrarBt", "Eliminar Carpeta", 4},
                                           ToolCase{"ToolButton1", "Seleccionar Todos", 7},
                                           ToolCase{"ToolButton2", "Seleccionar Ninguno", 8}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(LayoutTest, TheToolBarHasAnEtchedEdgeOnTheRightOfTheList) {
  auto form = makeForm();
  showActive(*form);
  auto* edge = child<QFrame>(*form, "ToolBar1Edge");
  EXPECT_EQ(edge->frameShape(), QFrame::Box);
  EXPECT_EQ(edge->frameShadow(), QFrame::Sunken);
  auto* list = child<QListView>(*form, "Memo1");
  EXPECT_LE(list->geometry().right(), edge->geometry().left());
  auto* gauge = child<QProgressBar>(*form, "Gauge1");
  EXPECT_GE(gauge->geometry().top(), edge->geometry().bottom());
  EXPECT_EQ(gauge->width(), child<QWidget>(*form, "Panel3")->width());
}

// What a key pressed in the window ends in.
enum class Effect { ChoosesDestination, AsksToRemoveRow, StartsRun };

struct KeyCase {
  const char* name;
  const char* focus;
  int key;
  Qt::KeyboardModifiers modifiers;
  Effect effect;
};

class ShortcutTest : public LayoutTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ShortcutTest, ReachesItsCommandWhateverControlHasTheFocus) {
  const KeyCase& c = GetParam();
  tree.write("src/a.txt", "a", kOld);
  // Rows 0 to 4 are the protected system rows; row 5 is one the user may remove.
  std::string ini = "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") + "\n[TAREAS]\n0=1 " +
                    tree.path("src") + "\n";
  for (int row = 1; row <= 4; ++row)
    ini += std::to_string(row) + "=0 /sistema" + std::to_string(row) + "\n";
  tree.write("Resguarda.ini", ini + "5=0 " + tree.path("otra") + "\n");
  prompts.answer = false;
  auto form = makeForm();
  showActive(*form);
  auto* list = child<QListView>(*form, "Memo1");
  list->setCurrentIndex(list->model()->index(5, 0));
  auto* focus = child<QWidget>(*form, c.focus);
  focus->setFocus();
  ASSERT_TRUE(waitForEvents([&] { return QApplication::focusWidget() == focus; }));
  auto* log = qobject_cast<LogLines*>(child<QListView>(*form, "RichEdit1")->model());
  log->append({QStringLiteral("una línea")});

  QTest::keyClick(QApplication::focusWidget(), Qt::Key(c.key), c.modifiers);

  switch (c.effect) {
    case Effect::ChoosesDestination:
      ASSERT_EQ(prompts.picked.size(), 1u);
      EXPECT_EQ(prompts.picked[0],
                "Carpeta donde Guardar la Copia de Seguridad @" + tree.path("dest"));
      // The log did not take the key as its own select-all.
      EXPECT_FALSE(child<QListView>(*form, "RichEdit1")->selectionModel()->hasSelection());
      break;
    case Effect::AsksToRemoveRow:
      ASSERT_EQ(prompts.questions.size(), 1u);
      EXPECT_NE(prompts.questions[0].find("\r\notra?"), std::string::npos);
      EXPECT_EQ(list->model()->rowCount(), 6);  // the answer was no
      break;
    case Effect::StartsRun:
      ASSERT_TRUE(
          waitForEvents([&] { return form->lastResult().has_value() && !form->runInProgress(); }));
      EXPECT_EQ(TempTree::files(tree.path("dest")), std::vector<std::string>{"src/a.txt"});
      break;
  }
  if (c.effect != Effect::ChoosesDestination) {
    EXPECT_TRUE(prompts.picked.empty());
  }
  if (c.effect != Effect::AsksToRemoveRow) {
    EXPECT_TRUE(prompts.questions.empty());
  }
  EXPECT_TRUE(prompts.errors.empty());
  if (c.effect != Effect::StartsRun) {
    EXPECT_EQ(log->text(), QStringLiteral("una línea"));
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, ShortcutTest,
                         ::testing::Values(KeyCase{"CtrlAInTheLog", "RichEdit1", Qt::Key_A,
                                                   Qt::ControlModifier, Effect::ChoosesDestination},
                                           KeyCase{"CtrlAInTheList", "Memo1", Qt::Key_A,
                                                   Qt::ControlModifier, Effect::ChoosesDestination},
                                           KeyCase{"CtrlAOnTheButton", "CopiarBt", Qt::Key_A,
                                                   Qt::ControlModifier, Effect::ChoosesDestination},
                                           KeyCase{"DelInTheLog", "RichEdit1", Qt::Key_Delete,
                                                   Qt::NoModifier, Effect::AsksToRemoveRow},
                                           KeyCase{"DelInTheList", "Memo1", Qt::Key_Delete,
                                                   Qt::NoModifier, Effect::AsksToRemoveRow},
                                           KeyCase{"KeypadDelInTheLog", "RichEdit1", Qt::Key_Delete,
                                                   Qt::KeypadModifier, Effect::AsksToRemoveRow},
                                           KeyCase{"F10InTheLog", "RichEdit1", Qt::Key_F10,
                                                   Qt::NoModifier, Effect::StartsRun},
                                           KeyCase{"F10InTheList", "Memo1", Qt::Key_F10,
                                                   Qt::NoModifier, Effect::StartsRun}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(LayoutTest, ChoosingAddFolderFromTheMenuRunsTheAddCommand) {
  prompts.folders.push_back(tree.mkdir("nueva"));
  auto form = makeForm();
  child<QAction>(*form, "AadirCarpeta1")->trigger();
  ASSERT_EQ(prompts.picked.size(), 1u);
  EXPECT_EQ(prompts.picked[0], "Añadir Carpeta y subcarpetas @");
  EXPECT_EQ(form->tasks().rows().back().path, tree.path("nueva"));
}

// Dragging the splitter's handle as far as it goes one way or the other.
struct DragCase {
  const char* name;
  int by;  // pixels to the right
};

class SplitterTest : public LayoutTest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(SplitterTest, KeepsBothSidesAtLeast30Wide) {
  auto form = makeForm();
  showActive(*form);
  auto* splitter = child<QSplitter>(*form, "Splitter1");
  QSplitterHandle* handle = splitter->handle(1);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->cursor().shape(), Qt::SplitHCursor);
  const QPoint start(handle->width() / 2, handle->height() / 2);
  const QPoint end = start + QPoint(GetParam().by, 0);
  QMouseEvent press(QEvent::MouseButtonPress, start, handle->mapToGlobal(start), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent move(QEvent::MouseMove, end, handle->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, end, handle->mapToGlobal(end), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(handle, &press);
  QApplication::sendEvent(handle, &move);
  QApplication::sendEvent(handle, &release);
  QCoreApplication::processEvents();

  const WindowMetrics m(form->fontMetrics().height(), form->logicalDpiY());
  const QList<int> sizes = splitter->sizes();
  ASSERT_EQ(sizes.size(), 2);
  EXPECT_GE(sizes[0], m.scaled(30));
  EXPECT_GE(sizes[1], m.scaled(30));
  // It did move as far as it could.
  EXPECT_LE(std::min(sizes[0], sizes[1]), m.scaled(30) + 1);
  EXPECT_GT(child<QWidget>(*form, "Panel1")->width(), 0);
  EXPECT_GT(child<QWidget>(*form, "Panel3")->width(), 0);
}

INSTANTIATE_TEST_SUITE_P(Drags, SplitterTest,
                         ::testing::Values(DragCase{"FarLeft", -5000}, DragCase{"FarRight", 5000}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(LayoutTest, ResizingTheWindowGrowsOnlyTheLog) {
  auto form = makeForm();
  showActive(*form);
  auto* log = child<QWidget>(*form, "Panel1");
  auto* tasks = child<QWidget>(*form, "Panel3");
  const int logWidth = log->width(), taskWidth = tasks->width();
  form->resize(form->width() + 240, form->height() + 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(tasks->width(), taskWidth);
  EXPECT_EQ(log->width(), logWidth + 240);
  form->resize(form->width() - 240 - 120, form->height());
  QCoreApplication::processEvents();
  EXPECT_EQ(tasks->width(), taskWidth);
  EXPECT_EQ(log->width(), logWidth - 120);
}

// The whole window at one application font: every text whole and every control in place.
class FontSizeTest : public LayoutTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    saved_ = QApplication::font();
    QFont font = saved_;
    font.setPointSize(GetParam());
    QApplication::setFont(font);
  }
  void TearDown() override { QApplication::setFont(saved_); }

  QFont saved_;
};

bool holds(const QWidget* widget, const QString& text, const QFont& font) {
  const QFontMetrics metrics(font);
  return widget->contentsRect().width() >= metrics.horizontalAdvance(text) &&
         widget->contentsRect().height() >= metrics.height();
}

TEST_P(FontSizeTest, NoTextIsCutAtTheStartingSize) {
  auto form = makeForm();
  showActive(*form);
  const WindowMetrics m(form->fontMetrics().height(), form->logicalDpiY());
  EXPECT_GE(form->width(), m.scaled(670));
  auto* central = form->centralWidget();

  auto* button = child<QToolButton>(*form, "CopiarBt");
  EXPECT_GE(button->width(), button->sizeHint().width());
  EXPECT_GE(button->height(), button->sizeHint().height());
  EXPECT_GE(button->width(), m.scaled(91));
  EXPECT_EQ(button->iconSize(), QSize(m.scaled(32), m.scaled(32)));

  auto* estado = child<QLabel>(*form, "EstadoLb");
  EXPECT_TRUE(holds(estado, utf8("Deteniendo... por favor espere a que se copie este archivo."),
                    estado->font()));
  EXPECT_GT(estado->font().pointSizeF(), form->font().pointSizeF());
  auto* label1 = child<QLabel>(*form, "Label1");
  EXPECT_GE(label1->height(), label1->fontMetrics().height());
  auto* animation = child<QWidget>(*form, "Animate1");
  EXPECT_EQ(animation->size(), QSize(m.scaled(272), m.scaled(60)));

  // The band's controls do not overlap and all lie inside the window.
  const QWidget* band = child<QWidget>(*form, "Panel2");
  EXPECT_LT(button->geometry().right(), animation->geometry().left());
  EXPECT_LT(button->geometry().right(), estado->geometry().left());
  EXPECT_LE(button->geometry().bottom(), label1->geometry().top());
  EXPECT_LE(estado->geometry().bottom(), label1->geometry().top());
  for (const QWidget* w : {static_cast<QWidget*>(button), static_cast<QWidget*>(estado), animation,
                           static_cast<QWidget*>(label1)}) {
    EXPECT_TRUE(band->rect().contains(w->geometry())) << w->objectName().toStdString();
    EXPECT_LE(w->mapTo(central, QPoint(w->width(), 0)).x(), central->width())
        << w->objectName().toStdString();
  }

  for (int i = 0; i < 7; ++i) {
    auto* panel = child<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(i));
    EXPECT_TRUE(holds(panel, panel->text(), panel->font())) << i;
  }
  auto* counter = child<QLabel>(*form, "StatusPanel3");
  EXPECT_TRUE(holds(counter, QStringLiteral(" 1234567"), counter->font()));

  auto* gauge = child<QProgressBar>(*form, "Gauge1");
  EXPECT_GE(gauge->height(), gauge->fontMetrics().height());
  auto* list = child<QListView>(*form, "Memo1");
  EXPECT_GE(list->viewport()->width(),
            list->fontMetrics().horizontalAdvance(QString::fromStdString(kMail)));
  EXPECT_EQ(list->model()->rowCount(), 6);
}

INSTANTIATE_TEST_SUITE_P(PointSizes, FontSizeTest, ::testing::Values(8, 11, 18));

}  // namespace
