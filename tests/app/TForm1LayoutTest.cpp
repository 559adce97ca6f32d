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
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) lines.push_back("/home/ana/" + std::to_string(i));
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

// Every command can be found: a caption in the menu, a picture and a hint on the toolbar.
TEST_F(LayoutTest, EveryCommandHasACaptionAndEveryToolAPictureAndAHint) {
  auto form = makeForm();
  showActive(*form);
  int items = 0;
  for (QAction* top : child<QMenuBar>(*form, "MainMenu1")->actions()) {
    EXPECT_FALSE(top->text().isEmpty());
    if (!top->menu()) continue;
    for (QAction* item : top->menu()->actions()) {
      if (item->isSeparator()) continue;
      ++items;
      EXPECT_FALSE(item->text().section(QLatin1Char('\t'), 0, 0).trimmed().isEmpty());
    }
  }
  EXPECT_GT(items, 0);
  auto* toolBar = child<QToolBar>(*form, "ToolBar1");
  ASSERT_FALSE(toolBar->actions().isEmpty());
  for (QAction* action : toolBar->actions()) {
    const std::string name = action->objectName().toStdString();
    EXPECT_FALSE(action->toolTip().isEmpty()) << name;
    EXPECT_FALSE(action->icon().pixmap(16, 16).isNull()) << name;
    auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action));
    ASSERT_NE(button, nullptr) << name;
    EXPECT_TRUE(button->isVisible()) << name;
  }
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
  log->append({"una línea"});

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

// The named controls the user sees; a row of them inside one parent must not overlap.
std::vector<QWidget*> shownControls(QWidget& form) {
  std::vector<QWidget*> shown;
  for (QWidget* w : form.findChildren<QWidget*>())
    if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")) &&
        w->isVisible() && !w->isWindow())
      shown.push_back(w);
  return shown;
}

// The status line runs along the animation's bottom edge, which the animation leaves blank.
bool overlapAllowed(const QWidget* a, const QWidget* b) {
  const QStringList pair{a->objectName(), b->objectName()};
  return pair.contains(QLatin1String("Animate1")) && pair.contains(QLatin1String("EstadoLb"));
}

TEST_P(FontSizeTest, EveryControlIsWholeInsideTheWindowAndNoneOverlaps) {
  auto form = makeForm();
  showActive(*form);
  const std::vector<QWidget*> shown = shownControls(*form);
  ASSERT_GT(shown.size(), 10u);
  for (QWidget* w : shown) {
    const std::string name = w->objectName().toStdString();
    EXPECT_FALSE(w->size().isEmpty()) << name;
    const QRect inWindow(w->mapTo(form.get(), QPoint(0, 0)), w->size());
    EXPECT_TRUE(form->rect().contains(inWindow)) << name;
    for (QWidget* other : shown) {
      if (other == w || other->parentWidget() != w->parentWidget() || overlapAllowed(w, other))
        continue;
      EXPECT_FALSE(w->geometry().intersects(other->geometry()))
          << name << " / " << other->objectName().toStdString();
    }
  }
  // The list and its toolbar stand side by side above the gauge.
  auto* edge = child<QFrame>(*form, "ToolBar1Edge");
  auto* list = child<QListView>(*form, "Memo1");
  auto* gauge = child<QProgressBar>(*form, "Gauge1");
  EXPECT_LE(list->geometry().right(), edge->geometry().left());
  EXPECT_GE(gauge->geometry().top(), edge->geometry().bottom());
  for (QAction* action : child<QToolBar>(*form, "ToolBar1")->actions()) {
    QWidget* button = child<QToolBar>(*form, "ToolBar1")->widgetForAction(action);
    EXPECT_TRUE(
        edge->contentsRect().contains(QRect(button->mapTo(edge, QPoint(0, 0)), button->size())))
        << action->objectName().toStdString();
  }
  // The status panels stand left to right in their order.
  for (int i = 1; i < 7; ++i)
    EXPECT_LT(child<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(i - 1))->geometry().right(),
              child<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(i))->geometry().left())
        << i;
}

TEST_P(FontSizeTest, NoTextIsCutAtTheStartingSize) {
  auto form = makeForm();
  showActive(*form);
  auto* button = child<QToolButton>(*form, "CopiarBt");
  EXPECT_GE(button->width(), button->sizeHint().width());
  EXPECT_GE(button->height(), button->sizeHint().height());

  auto* estado = child<QLabel>(*form, "EstadoLb");
  EXPECT_TRUE(holds(estado, utf8("Deteniendo... por favor espere a que se copie este archivo."),
                    estado->font()));
  auto* label1 = child<QLabel>(*form, "Label1");
  EXPECT_GE(label1->height(), label1->fontMetrics().height());

  for (int i = 0; i < 7; ++i) {
    auto* panel = child<QLabel>(*form, QStringLiteral("StatusPanel%1").arg(i));
    EXPECT_TRUE(holds(panel, panel->text(), panel->font())) << i;
  }
  auto* counter = child<QLabel>(*form, "StatusPanel3");
  EXPECT_TRUE(holds(counter, QStringLiteral(" 1234567"), counter->font()));

  auto* gauge = child<QProgressBar>(*form, "Gauge1");
  EXPECT_GE(gauge->height(), gauge->fontMetrics().height());
  EXPECT_EQ(gauge->text(), QStringLiteral("0%"));
  auto* list = child<QListView>(*form, "Memo1");
  EXPECT_GE(list->viewport()->width(),
            list->fontMetrics().horizontalAdvance(QString::fromStdString(kMail)));
  EXPECT_EQ(list->model()->rowCount(), 6);
}

INSTANTIATE_TEST_SUITE_P(PointSizes, FontSizeTest, ::testing::Values(8, 18));

}  // namespace
