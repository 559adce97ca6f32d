#include "platform/EnvironmentStrings.h"

#include <gtest/gtest.h>

#include "support/ScopedVariable.h"

namespace {

const Environment kEnvironment({{"HOME", "/home/ana"}, {"Home", "/wrong"}, {"Correo", "Buzón"}},
                               "ana");

struct ExpandCase {
  const char* name;
  std::string text;
  std::string expected;
};

void PrintTo(const ExpandCase& c, std::ostream* os) {
  *os << c.name;
}

class Expands : public testing::TestWithParam<ExpandCase> {};

TEST_P(Expands, AsWindowsWould) {
  EXPECT_EQ(expandEnvironmentStrings(GetParam().text, kEnvironment), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EnvironmentStrings, Expands,
    testing::Values(
        ExpandCase{"NoPercent", "C:\\Correo\\", "C:\\Correo\\"}, ExpandCase{"Empty", "", ""},
        ExpandCase{"WineProfileAnyCase", "%UserProfile%\\Correo", "C:\\users\\ana\\Correo"},
        ExpandCase{"WineAppData", "%APPDATA%\\x", "C:\\users\\ana\\AppData\\Roaming\\x"},
        ExpandCase{"ExactCaseFirst", "%Home%|%HOME%|%home%", "/wrong|/home/ana|/home/ana"},
        ExpandCase{"FromEnvironmentAnyCase", "%correo%", "Buzón"},
        ExpandCase{"UnknownStays", "%NOPE%\\x", "%NOPE%\\x"},
        ExpandCase{"UnknownThenNameLikeText", "%NOPE%HOME%", "%NOPE%HOME%"},
        ExpandCase{"LonePercent", "100% %HOME%", "100% %HOME%"},
        ExpandCase{"TrailingPercent", "a%", "a%"}, ExpandCase{"DoublePercent", "a%%b", "a%%b"},
        ExpandCase{"Several", "%HOME%/%Correo%/%HOME%", "/home/ana/Buzón//home/ana"},
        ExpandCase{"EnvironmentBeatsWine", "%systemdrive%", "C:"}),
    [](const testing::TestParamInfo<ExpandCase>& param) { return param.param.name; });

TEST(EnvironmentStrings, ProcessValuesWinOverWineDefaults) {
  const Environment environment({{"USERPROFILE", "D:\\perfil"}}, "ana");
  EXPECT_EQ(expandEnvironmentStrings("%userprofile%", environment), "D:\\perfil");
  // Without a login name Wine's user folders are unknown.
  const Environment anonymous({}, "");
  EXPECT_EQ(expandEnvironmentStrings("%USERPROFILE%", anonymous), "%USERPROFILE%");
  EXPECT_EQ(expandEnvironmentStrings("%WINDIR%", anonymous), "C:\\windows");
}

TEST(EnvironmentStrings, TooLongAnExpansionFails) {
  const Environment environment({{"BIG", std::string(1000, 'x')}}, "ana");
  std::string text;
  for (int i = 0; i < 40; ++i) text += "%BIG%";
  EXPECT_EQ(expandEnvironmentStrings(text, environment), std::nullopt);
  EXPECT_EQ(expandEnvironmentStrings(std::string(kMaxExpandedLength + 1, 'a'), environment),
            std::nullopt);
  EXPECT_EQ(expandEnvironmentStrings("%BIG%", environment)->size(), 1000u);
}

TEST(EnvironmentStrings, FromProcessSeesTheProcessEnvironment) {
  ScopedVariable variable("RESGUARDA_TEST_VALUE", "visto");
  EXPECT_EQ(Environment::fromProcess().value("resguarda_test_value"), "visto");
}

}  // namespace
