// Names that differ only by case, copied to disks that do not tell them apart (FAT, exFAT):
// one is kept, the other fails visibly on every run, and neither replaces the other.
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

TEST_P(CaseFolding, FilesWhoseNamesDifferOnlyByCase) {
  const std::string first = tree.write("Mis/Informe.txt", "first", T);
  const std::string second = tree.write("Mis/INFORME.txt", "second", T + 100);
  tree.write("Mis/otro.txt", "other", T);
  ASSERT_EQ(runErrors().size(), 1u) << testing::PrintToString(observer.lines);
  Files names = TempTree::list(out("Mis"));
  ASSERT_EQ(names.size(), 2u) << testing::PrintToString(names);
  const std::string kept = names[0];
  const std::string content = TempTree::read(out("Mis/" + kept));
  EXPECT_EQ(content, kept == "Informe.txt" ? "first" : "second");
  // A disk that keeps no owners (FAT) is warned about once, not once per file.
  const auto warned = std::count_if(observer.lines.begin(), observer.lines.end(), [](auto& l) {
    return l.find("el disco de destino no guarda") != l.npos;
  });
  EXPECT_TRUE(GetParam() == DiskImage::Kind::Fat16 ? warned == 1 : warned <= 1) << warned;

  // Whatever the later dates, every run names the other file and keeps this one's copy.
  for (time_t later : {T + 1000, T + 2000}) {
    TempTree::setMtime(kept == "Informe.txt" ? second : first, later);
    EXPECT_EQ(runErrors(), Files{"ERROR - " + (kept == "Informe.txt" ? second : first) +
                                 ": no se puede guardar junto a «" + kept +
                                 "»: el disco de destino no distingue mayúsculas de minúsculas"});
    EXPECT_EQ(TempTree::read(out("Mis/" + kept)), content);
  }
  EXPECT_EQ(TempTree::read(out("Mis/otro.txt")), "other");
  EXPECT_EQ(run.failures, 3);
}

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
