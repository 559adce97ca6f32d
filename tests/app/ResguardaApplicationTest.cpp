#include "app/ResguardaApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <stdexcept>

#include "platform/Errors.h"
#include "support/FakePrompts.h"

namespace {

// What a slot throws, and what the error box then says.
struct ThrowCase {
  const char* name;
  void (*raise)();
  std::string shown;
};

class EscapedErrorTest : public ::testing::TestWithParam<ThrowCase> {
 protected:
  // A real click, delivered as the application object delivers every event.
  bool click(QPushButton& button, Prompts* prompts) {
    const QPointF inside(button.width() / 2.0, button.height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, inside, button.mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, button.mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication* app = QCoreApplication::instance();
    deliverReportingErrors([&] { return app->notify(&button, &press); }, prompts);
    return deliverReportingErrors([&] { return app->notify(&button, &release); }, prompts);
  }
};

TEST_P(EscapedErrorTest, AnErrorEscapingASlotReachesTheErrorBox) {
  const ThrowCase& c = GetParam();
  QPushButton button(QStringLiteral("x"));
  button.resize(80, 30);
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, &button, [&] {
    ++clicks;
    c.raise();
  });
  FakePrompts prompts;
  EXPECT_FALSE(click(button, &prompts));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(prompts.errors, std::vector<std::string>{c.shown});

  // The program goes on: the same button works again.
  EXPECT_FALSE(click(button, &prompts));
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(prompts.errors.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Throws, EscapedErrorTest,
    ::testing::Values(
        ThrowCase{"OwnError", [] { throw ResguardaError("Cannot open file /x/Resguarda.ini"); },
                  "Cannot open file /x/Resguarda.ini"},
        ThrowCase{"StandardError", [] { throw std::out_of_range("vector::at"); }, "vector::at"},
        ThrowCase{"NoMemory", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
        ThrowCase{"NotAnException", [] { throw 42; }, "error desconocido"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EscapedError, ADeliveryThatSucceedsIsLeftAlone) {
  FakePrompts prompts;
  EXPECT_TRUE(deliverReportingErrors([] { return true; }, &prompts));
  EXPECT_FALSE(deliverReportingErrors([] { return false; }, &prompts));
  EXPECT_TRUE(prompts.errors.empty());
}

TEST(EscapedError, WithoutPromptsTheErrorGoesToStandardError) {
  testing::internal::CaptureStderr();
  deliverReportingErrors([]() -> bool { throw ResguardaError("Unable to write to /d/a"); },
                         nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "resguarda: Unable to write to /d/a\n");
}

// A box that fails, or an error escaping while a box is up, still reaches standard error and
// never opens boxes without end.
class ThrowingPrompts : public FakePrompts {
 public:
  std::function<void()> onError;
  void error(const std::string& text) override {
    FakePrompts::error(text);
    if (onError) onError();
  }
};

TEST(EscapedError, ABoxThatFailsFallsBackToStandardError) {
  ThrowingPrompts prompts;
  prompts.onError = [] { throw std::runtime_error("no display"); };
  testing::internal::CaptureStderr();
  deliverReportingErrors([]() -> bool { throw std::runtime_error("first"); }, &prompts);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "resguarda: first\n");
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"first"});
}

TEST(EscapedError, AnErrorWhileTheBoxIsUpDoesNotOpenAnother) {
  ThrowingPrompts prompts;
  int nested = 0;
  prompts.onError = [&] {
    // The box's own event loop delivers an event whose handler fails, again and again.
    if (++nested > 3) return;
    deliverReportingErrors([]() -> bool { throw std::runtime_error("again"); }, &prompts);
  };
  testing::internal::CaptureStderr();
  deliverReportingErrors([]() -> bool { throw std::runtime_error("first"); }, &prompts);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "resguarda: again\n");
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"first"});
  // Once the box is closed, the next error gets a box of its own.
  prompts.onError = nullptr;
  deliverReportingErrors([]() -> bool { throw std::runtime_error("later"); }, &prompts);
  EXPECT_EQ(prompts.errors, (std::vector<std::string>{"first", "later"}));
}

}  // namespace
