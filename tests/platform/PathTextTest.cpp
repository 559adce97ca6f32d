#include "platform/PathText.h"

#include <gtest/gtest.h>

namespace {

struct SlashCase {
  const char* name;
  std::string path;
  std::string expected;
};

class WithoutTrailingSlash : public testing::TestWithParam<SlashCase> {};

TEST_P(WithoutTrailingSlash, KeepsTheRoot) {
  EXPECT_EQ(withoutTrailingSlash(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    PathText, WithoutTrailingSlash,
    testing::Values(SlashCase{"Empty", "", ""}, SlashCase{"Root", "/", "/"},
                    SlashCase{"RootRepeated", "///", "/"},
                    SlashCase{"One", "/home/ana/", "/home/ana"},
                    SlashCase{"Several", "/srv/datos///", "/srv/datos"},
                    SlashCase{"None", "/srv/datos", "/srv/datos"},
                    SlashCase{"InnerSlashesStay", "/srv//datos/", "/srv//datos"},
                    SlashCase{"Relative", "datos/", "datos"},
                    SlashCase{"BackslashIsAName", "/a\\", "/a\\"},
                    SlashCase{"Utf8LastCharacter", "/m\xc3\xbasica/", "/m\xc3\xbasica"}),
    [](const testing::TestParamInfo<SlashCase>& param) { return param.param.name; });

struct CaseCase {
  const char* name;
  std::string a;
  std::string b;
  bool equal;
};

class IgnoringAsciiCase : public testing::TestWithParam<CaseCase> {};

TEST_P(IgnoringAsciiCase, FoldsOnlyAsciiLetters) {
  const CaseCase& c = GetParam();
  EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.equal);
  EXPECT_EQ(equalsIgnoringAsciiCase(c.b, c.a), c.equal);
  EXPECT_EQ(asciiLower(c.a) == asciiLower(c.b), c.equal);
}

// Pairs that differ only in bit 0x20 but are not ASCII letters must stay apart.
INSTANTIATE_TEST_SUITE_P(
    PathText, IgnoringAsciiCase,
    testing::Values(CaseCase{"Same", "Folders.dbx", "Folders.dbx", true},
                    CaseCase{"Mixed", "FOLDERS.DBX", "folders.Dbx", true},
                    CaseCase{"Empty", "", "", true},
                    CaseCase{"Longer", "Folders.dbx", "Folders.dbx ", false},
                    CaseCase{"AtAndBacktick", "@", "`", false},
                    CaseCase{"Brackets", "[x]", "{x}", false},
                    CaseCase{"Latin1Accent", "\xc1", "\xe1", false},
                    CaseCase{"Utf8Accent", "Buz\xc3\x93n", "buz\xc3\xb3n", false},
                    CaseCase{"Utf8SameBytes", "Buz\xc3\xb3n", "BUZ\xc3\xb3N", true},
                    CaseCase{"ByteFF", "\xff", "\xdf", false}),
    [](const testing::TestParamInfo<CaseCase>& param) { return param.param.name; });

TEST(PathText, LowersAsciiLettersOnly) {
  EXPECT_EQ(asciiLower("-HiDe \xc3\x89Z@[`{"), "-hide \xc3\x89z@[`{");
}

}  // namespace

TEST(PathText, JoinsAndNormalisesByTextAlone) {
  EXPECT_EQ(joinPath("/", "a"), "/a");
  EXPECT_EQ(joinPath("/srv/", "a"), "/srv/a");
  EXPECT_EQ(joinPath("/srv", "a"), "/srv/a");
  EXPECT_EQ(withTrailingSlash(""), "");
  EXPECT_EQ(lexicallyNormal("/a/./b/../../../c//d"), "/c/d");
  EXPECT_EQ(lexicallyNormal("../a/.."), "..");
  EXPECT_EQ(lexicallyNormal("a/.."), ".");
}
