// Names that differ only by case, copied to disks that do not tell them apart (FAT, exFAT):
// one file is kept, the other fails visibly on every run, and neither replaces the other.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "MirrorFixture.h"
#include "RemovableDisk.h"
#include "backup/CopyFiles.h"
#include "support/TempTree.h"

namespace {

using namespace mirror_test;

class CaseFolding : public Mirror, public testing::WithParamInterface<DiskKind> {
 protected:
  void SetUp() override {
    if (!disk.mounted()) GTEST_SKIP() << "no case-folding disk here: " << disk.why();
    dest = disk.mountPoint() + "/bk/";
    run.dirDestino = dest;
    ASSERT_EQ(::mkdir(dest.c_str(), 0755), 0);
    // The copier has to place a plain file there first.
    tree.write("probe", "p", T);
    try {
      CopyFiles(tree.path("probe"), disk.mountPoint() + "/probe", control.abandon);
    } catch (const std::exception& error) {
      GTEST_SKIP() << "the copier places no file on this disk yet: " << error.what();
    }
  }
  // Runs the walk again as a later run would.
  void again() {
    observer.lines.clear();
    run.failures = 0;
    run.futureWarned.clear();
    run.metadataWarned = false;
    mirror("Mis");
  }
  // The content of the one copy the disk finds under `name`, any case.
  std::string copyOf(const std::string& name) const { return TempTree::read(out("Mis/" + name)); }
  std::vector<std::string> errors() const {
    std::vector<std::string> found;
    for (const std::string& line : observer.lines)
      if (line.rfind("ERROR - ", 0) == 0) found.push_back(line);
    return found;
  }
  // FAT keeps no owners or modes (exFAT takes them without a word): one warning, whatever the
  // number of files.
  void expectOwnersWarnedOnce() const {
    const auto warnings =
        std::count_if(observer.lines.begin(), observer.lines.end(), [](const std::string& line) {
          return line.find("no guarda los propietarios") != std::string::npos;
        });
    if (GetParam() == DiskKind::Fat16)
      EXPECT_EQ(warnings, 1);
    else
      EXPECT_LE(warnings, 1);
  }

  RemovableDisk disk{GetParam(), tree};
};

TEST_P(CaseFolding, FilesWhoseNamesDifferOnlyByCase) {
  const std::string lower = tree.write("Mis/Informe.txt", "first", T);
  const std::string upper = tree.write("Mis/INFORME.txt", "second", T + 100);
  tree.write("Mis/otro.txt", "other", T);
  mirror("Mis");
  const std::vector<std::string> names = TempTree::list(out("Mis"));
  ASSERT_EQ(names.size(), 2u) << testing::PrintToString(names);
  const std::string kept = names[0] == "otro.txt" ? names[1] : names[0];
  const std::string lost = kept == "Informe.txt" ? upper : lower;
  const std::string keptContent = kept == "Informe.txt" ? "first" : "second";
  EXPECT_EQ(copyOf(kept), keptContent);
  EXPECT_EQ(copyOf("otro.txt"), "other");
  ASSERT_EQ(errors().size(), 1u) << testing::PrintToString(observer.lines);
  EXPECT_EQ(errors()[0], "ERROR - " + lost + ": no se puede guardar junto a «" + kept +
                             "»: el disco de destino no distingue mayúsculas de minúsculas");
  EXPECT_EQ(run.failures, 1);
  expectOwnersWarnedOnce();

  // Every later run says so again, and the kept copy stays as it is, whatever the order.
  for (int i = 0; i < 2; ++i) {
    TempTree::setMtime(lost, T + 1000 + i * 10);
    again();
    EXPECT_EQ(copyOf(kept), keptContent);
    EXPECT_EQ(errors().size(), 1u) << testing::PrintToString(observer.lines);
    EXPECT_EQ(run.failures, 1);
  }
  expectCounts(2, 0, 9);
}

TEST_P(CaseFolding, SubfoldersWhoseNamesDifferOnlyByCase) {
  tree.write("Mis/Fotos/a.jpg", "upper a", T);
  tree.write("Mis/fotos/a.jpg", "lower a", T + 100);
  tree.write("Mis/fotos/b.jpg", "lower b", T);
  mirror("Mis");
  const std::vector<std::string> folders = TempTree::list(out("Mis"));
  ASSERT_EQ(folders.size(), 1u) << testing::PrintToString(folders);
  const bool upperKept = folders[0] == "Fotos";
  const Files keptFiles = upperKept ? Files{"a.jpg"} : Files{"a.jpg", "b.jpg"};
  EXPECT_EQ(TempTree::list(out("Mis/" + folders[0])), keptFiles);
  EXPECT_EQ(copyOf(folders[0] + "/a.jpg"), upperKept ? "upper a" : "lower a");
  // Each file of the other folder is named.
  EXPECT_EQ(errors().size(), upperKept ? 2u : 1u) << testing::PrintToString(observer.lines);

  again();
  EXPECT_EQ(copyOf(folders[0] + "/a.jpg"), upperKept ? "upper a" : "lower a");
  EXPECT_EQ(TempTree::list(out("Mis/" + folders[0])), keptFiles);
  EXPECT_EQ(errors().size(), upperKept ? 2u : 1u) << testing::PrintToString(observer.lines);
}

INSTANTIATE_TEST_SUITE_P(Disks, CaseFolding, testing::Values(DiskKind::Fat16, DiskKind::Exfat),
                         [](const testing::TestParamInfo<DiskKind>& p) {
                           return p.param == DiskKind::Fat16 ? "Fat16" : "Exfat";
                         });

}  // namespace
