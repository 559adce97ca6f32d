#include "backup/Exclusions.h"

#include <gtest/gtest.h>
#include <locale.h>

namespace {

struct ExclusionCase {
  const char* name;
  std::vector<std::string> patterns;
  const char* entry;  // its name
  const char* below;  // its path below the task folder
  bool folder;
  bool excluded;
};

class ExclusionTable : public testing::TestWithParam<ExclusionCase> {};

TEST_P(ExclusionTable, MatchesAsTheUserWroteIt) {
  // As a run started from cron often is.
  const locale_t plain = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  const locale_t previous = ::uselocale(plain);
  const ExclusionCase& c = GetParam();
  const Exclusions exclusions(c.patterns);
  const bool got = c.folder ? exclusions.excludesFolder(c.entry, c.below)
                            : exclusions.excludesFile(c.entry, c.below);
  ::uselocale(previous);
  ::freelocale(plain);
  EXPECT_EQ(got, c.excluded);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExclusionTable,
    testing::Values(
        ExclusionCase{"suffixFile", {"*.tmp"}, "a.tmp", "x/a.tmp", false, true},
        ExclusionCase{"suffixHidden", {"*.tmp"}, ".tmp", ".tmp", false, true},
        ExclusionCase{"caseKept", {"*.tmp"}, "A.TMP", "A.TMP", false, false},
        ExclusionCase{"exactName", {"Thumbs.db"}, "Thumbs.db", "a/b/Thumbs.db", false, true},
        ExclusionCase{"prefix", {"~$*"}, "~$nota.docx", "a/~$nota.docx", false, true},
        ExclusionCase{"glob", {"~$*.doc?"}, "~$nota.docx", "~$nota.docx", false, true},
        ExclusionCase{
            "utf8Character", {"informe-?.txt"}, "informe-ñ.txt", "informe-ñ.txt", false, true},
        ExclusionCase{
            "notUtf8", {"informe-*.txt"}, "informe-\xf1.txt", "informe-\xf1.txt", false, true},
        ExclusionCase{"folderOnlyFolder", {".cache/"}, ".cache", "a/.cache", true, true},
        ExclusionCase{"folderOnlyFile", {".cache/"}, ".cache", "a/.cache", false, false},
        ExclusionCase{"pathTop", {"build/*.o"}, "m.o", "build/m.o", false, true},
        ExclusionCase{"pathStarNoSlash", {"build/*.o"}, "m.o", "build/sub/m.o", false, false},
        ExclusionCase{"pathNotDeeper", {"build/*.o"}, "m.o", "src/build/m.o", false, false},
        ExclusionCase{"anchored", {"/build"}, "build", "build", true, true},
        ExclusionCase{"anchoredNotDeeper", {"/build/"}, "build", "src/build", true, false},
        ExclusionCase{"blankIgnored", {"", "/", "//"}, "x", "x", false, false},
        ExclusionCase{"secondOf", {"*.bak", "n_m/"}, "n_m", "web/n_m", true, true}),
    [](const testing::TestParamInfo<ExclusionCase>& p) { return std::string(p.param.name); });

TEST(Exclusions, AsksForThePathOnlyWhenAPatternNeedsIt) {
  EXPECT_FALSE(Exclusions({"*.tmp", ".cache/"}).needsPath());
  EXPECT_TRUE(Exclusions({"*.tmp", "/top"}).needsPath());
}

}  // namespace
