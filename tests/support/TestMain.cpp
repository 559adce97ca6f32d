// Shared main of every test executable: Qt Core needs an application object for some of
// its classes, and GUI tests create their widgets on this thread.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
