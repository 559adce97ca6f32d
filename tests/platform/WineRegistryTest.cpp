#include "platform/WineRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "support/TempTree.h"

namespace {

const std::string kHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1\n\n";

WineRegistry hiveWithValue(const std::string& valueLine) {
  return WineRegistry::fromBytes(kHeader + "[Software\\\\Test] 1600000000\n#time=1d6\n" +
                                 valueLine + "\n\"after\"=\"still read\"\n");
}

struct StringCase {
  const char* name;
  std::string line;
  std::string expected;
};

void PrintTo(const StringCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadsStrings : public testing::TestWithParam<StringCase> {};

TEST_P(ReadsStrings, DecodesTheStoredText) {
  const WineRegistry registry = hiveWithValue(GetParam().line);
  EXPECT_EQ(registry.readString("Software\\Test", "v"), GetParam().expected);
  EXPECT_EQ(registry.readString("Software\\Test", "after"), "still read");
}

INSTANTIATE_TEST_SUITE_P(
    WineRegistry, ReadsStrings,
    testing::Values(
        StringCase{"Backslashes", R"("v"="C:\\users\\ana\\")", "C:\\users\\ana\\"},
        StringCase{"Quotes", R"("v"="say \"hi\"")", "say \"hi\""},
        StringCase{"ControlEscapes", R"("v"="a\nb\tc\rd\ae")", "a\nb\tc\rd\ae"},
        StringCase{"HexUnit", R"("v"="Jos\xe9")", "Jos\xC3\xA9"},
        StringCase{"HexUnitFourDigits", R"("v"="\x20ac1")",
                   "\xE2\x82\xAC"
                   "1"},
        StringCase{"SurrogatePair", R"("v"="\xd83d\xde00")", "\xF0\x9F\x98\x80"},
        StringCase{"LoneSurrogate", R"("v"="\xd83dx")", "\xEF\xBF\xBDx"},
        StringCase{"HexWithoutDigits", R"("v"="\xq")", "xq"},
        StringCase{"Octal", R"("v"="\101\60")", "A0"},
        StringCase{"UpToFirstNul", R"("v"="abc\0def")", "abc"},
        StringCase{"RawUtf8Kept", "\"v\"=\"Mis im\xC3\xA1genes\"", "Mis im\xC3\xA1genes"},
        StringCase{"OtherEscapeIsTheCharacter", R"("v"="\q\]")", "q]"},
        StringCase{"Empty", R"("v"="")", ""},
        StringCase{"ExpandNotExpanded", R"("v"=str(2):"%USERPROFILE%\\Correo")",
                   "%USERPROFILE%\\Correo"},
        StringCase{"StrPrefix", R"("v"=str:"plain")", "plain"},
        StringCase{"BinaryExpand", R"("v"=hex(2):25,00,41,00,25,00,00,00)", "%A%"},
        StringCase{"BinaryStringOverLines", "\"v\"=hex(1):41,00,\\\n  42,00,\\\r\n  43,00", "ABC"},
        StringCase{"BinaryStringUpToNul", R"("v"=hex(1):41,00,00,00,42,00)", "A"},
        StringCase{"BinaryStringOddByte", R"("v"=hex(1):41,00,42)", "A"},
        StringCase{"ZeroSize", R"("v"=hex(2):)", ""},
        StringCase{"SpacesAroundEquals", "  \"v\" =  \"spaced\"", "spaced"},
        StringCase{"NameMatchedWithoutCase", R"("V"="upper")", "upper"},
        StringCase{"LaterDuplicateWins", "\"v\"=\"first\"\n\"v\"=\"second\"", "second"},
        StringCase{"CrLfLine", "\"v\"=\"crlf\"\r", "crlf"}),
    [](const testing::TestParamInfo<StringCase>& param) { return param.param.name; });

class OtherTypes : public testing::TestWithParam<std::string> {};

TEST_P(OtherTypes, ThrowInvalidDataTypeWithTheNameAsked) {
  const WineRegistry registry = hiveWithValue("\"Store Root\"=" + GetParam());
  try {
    registry.readString("Software\\Test", "Store Root");
    FAIL() << "no error for " << GetParam();
  } catch (const ResguardaError& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'Store Root'");
  }
  EXPECT_EQ(registry.readString("Software\\Test", "after"), "still read");
}

INSTANTIATE_TEST_SUITE_P(WineRegistry, OtherTypes,
                         testing::Values("dword:00000001", "hex:01,02",
                                         "hex:", "hex(7):41,00,00,00,00,00", "hex(4):01,00,00,00",
                                         "hex(0):", "str(7):\"a\\0b\\0\"",
                                         "hex(b):01,02,\\\n  03,04"));

class Malformed : public testing::TestWithParam<std::string> {};

// A value Wine would not load is absent, and the lines after it are read as usual.
TEST_P(Malformed, ValueIsAbsent) {
  const WineRegistry registry = hiveWithValue("\"v\"=" + GetParam());
  EXPECT_EQ(registry.readString("Software\\Test", "v"), std::nullopt);
  EXPECT_EQ(registry.readString("Software\\Test", "after"), "still read");
}

INSTANTIATE_TEST_SUITE_P(WineRegistry, Malformed,
                         testing::Values("\"unterminated", "dword:zz", "dword:", "dword:123456789",
                                         "hex:0g", "hex:123", "hex(:01", "hex(2:01",
                                         "hex(123456789):", "str(2)\"x\"", "unknown:1", "",
                                         "\"ends in escape\\"));

TEST(WineRegistry, KeysMatchWithoutCaseFromTheRoot) {
  const WineRegistry registry = WineRegistry::fromBytes(
      kHeader + "[Software\\\\Microsoft\\\\Outlook Express] 1600000000\n\"Store Root\"=\"x\"\n");
  for (const char* path :
       {"Software\\Microsoft\\Outlook Express", "\\Software\\MicroSoft\\OUTLOOK EXPRESS",
        "software\\microsoft\\"
        "outlook express\\"}) {
    EXPECT_TRUE(registry.hasKey(path)) << path;
    EXPECT_EQ(registry.readString(path, "store root"), "x") << path;
  }
  // Parents exist though the file lists only the child; siblings and prefixes do not.
  EXPECT_TRUE(registry.hasKey("\\Software"));
  EXPECT_TRUE(registry.hasKey("\\Software\\Microsoft"));
  EXPECT_TRUE(registry.hasKey("\\"));
  EXPECT_TRUE(registry.hasKey(""));
  EXPECT_FALSE(registry.hasKey("\\Software\\Micro"));
  EXPECT_FALSE(registry.hasKey("\\Software\\Microsoft\\Outlook Express\\5.0"));
  EXPECT_FALSE(registry.hasKey("\\Software\\Microsoft\\Outlook"));
  // An empty component names no key.
  EXPECT_FALSE(registry.hasKey("\\Software\\\\Microsoft"));
  EXPECT_EQ(registry.readString("\\Software\\\\Microsoft\\Outlook Express", "Store Root"),
            std::nullopt);
  // A parent holds no values of its child.
  EXPECT_EQ(registry.readString("\\Software\\Microsoft", "Store Root"), std::nullopt);
}

TEST(WineRegistry, SectionsKeepTheirOwnValues) {
  const WineRegistry registry =
      WineRegistry::fromBytes(kHeader +
                              "[A] 1\n\"v\"=\"in a\"\n@=\"default of a\"\n\"@\"=\"named @\"\n"
                              "[A\\\\B] 2\n; a comment \"v\"=\"no\"\n#time=1d6\n\"w\"=\"in b\"\n"
                              "[A B] 3\n\"v\"=\"in a b\"\n"
                              "[Blob] 4\n\"data\"=hex:01,02,\\\n  [Not A Key],03\n"
                              "[a] 5\n\"extra\"=\"second section of a\"\n");
  EXPECT_EQ(registry.readString("A", "v"), "in a");
  EXPECT_EQ(registry.readString("A", ""), "default of a");
  EXPECT_EQ(registry.readString("A", "@"), "named @");
  EXPECT_EQ(registry.readString("A", "extra"), "second section of a");
  EXPECT_EQ(registry.readString("A\\B", "v"), std::nullopt);
  EXPECT_EQ(registry.readString("A\\B", "w"), "in b");
  EXPECT_EQ(registry.readString("A B", "v"), "in a b");
  EXPECT_EQ(registry.readString("B", "w"), std::nullopt);
  // A continuation line is data even when it looks like a section header; here it is bad data.
  EXPECT_FALSE(registry.hasKey("Not A Key"));
  EXPECT_EQ(registry.valueType("Blob", "data"), std::nullopt);
  EXPECT_EQ(registry.valueType("A", "v"), 1u);
}

TEST(WineRegistry, EscapedKeyNames) {
  const WineRegistry registry =
      WineRegistry::fromBytes(kHeader + "[Software\\\\Weird\\]Name\\\\Caf\\xe9] 5\n\"v\"=\"ok\"\n");
  EXPECT_EQ(registry.readString("Software\\Weird]Name\\Caf\xC3\xA9", "v"), "ok");
  // Only ASCII letters are folded.
  EXPECT_EQ(registry.readString("SOFTWARE\\WEIRD]NAME\\CAF\xC3\xA9", "v"), "ok");
}

TEST(WineRegistry, GarbageReadsAsAbsent) {
  const std::string body = "[K] 1\n\"v\"=\"x\"\n";
  struct Case {
    const char* name;
    std::string bytes;
    bool loaded;
  };
  const Case cases[] = {
      {"Empty", "", false},
      {"NoHeader", body, false},
      {"OtherVersion", "WINE REGISTRY Version 1\n" + body, false},
      {"HeaderNotFirst", "\n" + kHeader + body, false},
      {"Binary", std::string("\0\xff\x01[K]\n", 7), false},
      {"HeaderOnly", "WINE REGISTRY Version 2", true},
      {"CrLfHeader", "WINE REGISTRY Version 2\r\n" + body, true},
      {"Bom", "\xEF\xBB\xBFWINE REGISTRY Version 2\n" + body, true},
  };
  for (const Case& c : cases) {
    const WineRegistry registry = WineRegistry::fromBytes(c.bytes);
    EXPECT_EQ(registry.hasKey(""), c.loaded) << c.name;
    if (!c.loaded) {
      EXPECT_EQ(registry.readString("K", "v"), std::nullopt) << c.name;
    }
  }
  EXPECT_EQ(WineRegistry::fromBytes("WINE REGISTRY Version 2\r\n" + body).readString("K", "v"),
            "x");

  // A header without its closing bracket starts no key: its values belong to none.
  const WineRegistry open =
      WineRegistry::fromBytes(kHeader + "[K] 1\n\"v\"=\"x\"\n[Broken\n\"w\"=\"y\"\n");
  EXPECT_EQ(open.readString("K", "v"), "x");
  EXPECT_EQ(open.readString("K", "w"), std::nullopt);
  EXPECT_FALSE(open.hasKey("Broken"));
  // Values before any section belong to no key.
  EXPECT_EQ(WineRegistry::fromBytes(kHeader + "\"v\"=\"x\"\n").readString("", "v"), std::nullopt);
}

TEST(WineRegistry, ReadsFromAFile) {
  TempTree tree;
  const std::string path = tree.write("user.reg", kHeader + "[K] 1\n\"v\"=\"from file\"\n");
  EXPECT_EQ(WineRegistry::fromFile(path).readString("K", "v"), "from file");

  // Neither a FIFO (opening it must not wait for a writer) nor an oversized file is read.
  const std::string fifo = tree.path("fifo.reg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = tree.write("big.reg", kHeader + "[K] 1\n\"v\"=\"x\"\n");
  ASSERT_EQ(::truncate(big.c_str(), WineRegistry::kMaxHiveBytes + 1), 0);

  for (const std::string& absent : {tree.path("missing.reg"), tree.root(), fifo, big}) {
    const WineRegistry registry = WineRegistry::fromFile(absent);
    EXPECT_FALSE(registry.hasKey("")) << absent;
    EXPECT_EQ(registry.readString("K", "v"), std::nullopt) << absent;
  }
}

TEST(WineRegistry, EmptyObjectHasNothing) {
  const WineRegistry registry;
  EXPECT_FALSE(registry.hasKey("\\"));
  EXPECT_EQ(registry.readString("\\Identities", "Default User ID"), std::nullopt);
}

}  // namespace
