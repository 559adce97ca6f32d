// Shared main of every test executable: Qt Core needs an application object for some of
// its classes, and GUI tests create their widgets on this thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#include "support/ScopedVariable.h"
#include "support/TempTree.h"

namespace {

// No test writes into the real home folder: named temporaries and run logs are recorded in
// a state folder of the test run's own.
class PrivateStateHome : public testing::Environment {
 public:
  void SetUp() override {
    tree_ = std::make_unique<TempTree>();
    variable_ = std::make_unique<ScopedVariable>("XDG_STATE_HOME", tree_->path("state"));
  }
  void TearDown() override {
    variable_.reset();
    tree_.reset();
  }

 private:
  std::unique_ptr<TempTree> tree_;
  std::unique_ptr<ScopedVariable> variable_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new PrivateStateHome);
  return RUN_ALL_TESTS();
}
