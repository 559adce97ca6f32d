#pragma once

// A folder tree with a destination folder bk/ inside it, and a run context that records its
// log, for the walk's tests.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/CopiarCarpeta.h"
#include "backup/RunContext.h"
#include "support/RecordingObserver.h"
#include "support/TempTree.h"

namespace mirror_test {

using Files = std::vector<std::string>;
constexpr time_t T = 1700000000;  // even: T and T + 1 share a two-second step

class Mirror : public testing::Test {
 protected:
  Mirror() {
    control.go = true;
    tree.mkdir("bk");
  }

  // Mirrors the task folder `relative` of the tree into bk/.
  void mirror(const std::string& relative) { mirrorPath(tree.path(relative)); }
  void mirrorPath(const std::string& root) {
    const MirrorTask task{root, FileIdentity::ofFolder(dest)};
    CopiarCarpeta(task, run);
  }
  std::string out(const std::string& relative) const { return dest + relative; }
  Files copied() const { return TempTree::files(dest); }
  void expectCounts(int copiados, int actualizados, int revisados) const {
    EXPECT_EQ(estado.Copiados, copiados);
    EXPECT_EQ(estado.Actualizados, actualizados);
    EXPECT_EQ(estado.Revisados, revisados);
  }

  TempTree tree;
  TEstad estado;
  RecordingObserver observer;
  RunControl control;
  std::string dest = tree.path("bk") + "/";
  RunContext run{estado, observer, control, dest};
};

}  // namespace mirror_test
