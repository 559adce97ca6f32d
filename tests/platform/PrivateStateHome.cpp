// No test of this layer writes into the real home folder: named temporaries are recorded in
// a state folder of the test run's own.
#include <gtest/gtest.h>

#include <memory>

#include "support/ScopedVariable.h"
#include "support/TempTree.h"

namespace {

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

[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new PrivateStateHome);

}  // namespace
