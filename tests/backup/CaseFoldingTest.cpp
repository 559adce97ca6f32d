// Folders whose names differ only by case, copied to disks that do not tell them apart (FAT,
// exFAT): one is kept, the other's files fail visibly on every run, and none replaces another.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "MirrorFixture.h"
#include "backup/CopyFiles.h"
#include "support/DiskImage.h"

namespace {

using namespace mirror_test;

class CaseFolding : public Mirror, public testing::WithParamInterface<DiskImage::Kind> {
 protected:
  void SetUp() override {
    if (!disk.missing().empty()) GTEST_SKIP() << "no case-folding disk here: " << disk.missing();
    dest = disk.mountPoint() + "/bk/";
    ::mkdir(dest.c_str(), 0755);
    run.dirDestino = dest;
    try {
      CopyFiles(tree.write("probe", "p"), dest + "probe", control.abandon);
    } catch (const std::exception& error) {
      GTEST_SKIP() << "the copier places no file on this disk yet: " << error.what();
    }
  }
  // Mirrors Mis as a run would, and gives its ERROR lines.
  Files runErrors() {
    observer.lines.clear();
    mirror("Mis");
    Files errors;
    for (const std::string& line : observer.lines)
      if (line.rfind("ERROR - ", 0) == 0) errors.push_back(line);
    return errors;
  }

  DiskImage disk{GetParam()};
};

TEST_P(CaseFolding, SubfoldersWhoseNamesDifferOnlyByCase) {
  tree.write("Mis/Fotos/a.jpg", "upper", T);
  tree.write("Mis/fotos/a.jpg", "lower", T + 100);
  tree.write("Mis/fotos/b.jpg", "lower b", T);
  for (int i = 0; i < 2; ++i) {
    const Files errors = runErrors();
    const Files folders = TempTree::list(out("Mis"));
    ASSERT_EQ(folders.size(), 1u);
    const bool upperKept = folders[0] == "Fotos";
    // Each file of the other folder is named; none lands in the kept one.
    EXPECT_EQ(errors.size(), upperKept ? 2u : 1u) << testing::PrintToString(observer.lines);
    EXPECT_EQ(TempTree::read(out("Mis/" + folders[0] + "/a.jpg")), upperKept ? "upper" : "lower");
    EXPECT_EQ(TempTree::list(out("Mis/" + folders[0])).size(), upperKept ? 1u : 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, CaseFolding,
                         testing::Values(DiskImage::Kind::Fat16, DiskImage::Kind::Exfat),
                         [](const auto& p) { return DiskImage::name(p.param); });

}  // namespace
