#include "mail/StoreFolder.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <gtest/gtest.h>
#include <cstdlib>

#include "platform/EnvironmentStrings.h"
#include "platform/Errors.h"
#include "platform/WineRegistry.h"
#include "support/ScopedVariable.h"
#include "support/TempTree.h"

namespace {

const std::string kHeader = "WINE REGISTRY Version 2\n";
const std::string kOutlook = "[Software\\\\Microsoft\\\\Outlook Express] 1\n";
const std::string kIdentities = "[Identities] 1\n";
const std::string kIdentityKey =
    "[Identities\\\\{ID-1}\\\\Software\\\\Microsoft\\\\Outlook Express\\\\5.0] 1\n";

std::string storeRoot(const std::string& value) {
  return "\"Store Root\"=" + value + "\n";
}

struct StoreCase {
  const char* name;
  std::string hive;      // after the header
  std::string expected;  // with "@" standing for the prefix's drive_c
};

void PrintTo(const StoreCase& c, std::ostream* os) {
  *os << c.name;
}

class StoreFolder : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreFolder, FollowsTheOrderAndFallbacks) {
  TempTree prefix;
  const Environment environment({{"CORREO", "Buzones"}}, "ana");
  const WineRegistry registry = WineRegistry::fromBytes(kHeader + GetParam().hive);
  std::string expected = GetParam().expected;
  if (expected.starts_with("@")) expected = prefix.root() + "/drive_c" + expected.substr(1);
  EXPECT_EQ(oe5_StoreFolder(registry, prefix.root(), environment), expected);
}

INSTANTIATE_TEST_SUITE_P(
    StoreFolder, StoreFolder,
    testing::Values(
        StoreCase{"MainValueWins",
                  kOutlook + storeRoot(R"("C:\\Main\\")") + kIdentities +
                      R"("Default User ID"="{ID-1}")"
                      "\n" +
                      kIdentityKey + storeRoot(R"("C:\\Identity\\")"),
                  "@/Main/"},
        StoreCase{"EmptyMainValueFallsBack",
                  kOutlook + storeRoot(R"("")") + kIdentities +
                      R"("Default User ID"="{ID-1}")"
                      "\n" +
                      kIdentityKey + storeRoot(R"("C:\\Identity\\")"),
                  "@/Identity/"},
        StoreCase{"NoMainKeyFallsBack",
                  kIdentities +
                      R"("Default User ID"="{id-1}")"
                      "\n" +
                      kIdentityKey + storeRoot(R"(str(2):"C:\\Identity")"),
                  "@/Identity"},
        StoreCase{"OnlyTheDefaultIdentity",
                  kIdentities +
                      R"("Default User ID"="{ID-2}")"
                      "\n" +
                      kIdentityKey + storeRoot(R"("C:\\Identity\\")"),
                  ""},
        StoreCase{"NoDefaultIdentity", kIdentities + kIdentityKey + storeRoot(R"("C:\\x\\")"), ""},
        StoreCase{"NoIdentities", "[Software\\\\Other] 1\n" + storeRoot(R"("C:\\x\\")"), ""},
        StoreCase{"EmptyHive", "", ""},
        StoreCase{"ProfileExpanded", kOutlook + storeRoot(R"(str(2):"%UserProfile%\\Correo\\")"),
                  "@/users/ana/Correo/"},
        StoreCase{"EnvironmentExpanded", kOutlook + storeRoot(R"(str(2):"C:\\%correo%\\%NOPE%")"),
                  "@/Buzones/%NOPE%"},
        StoreCase{"PlainStringExpandedToo", kOutlook + storeRoot(R"("%USERPROFILE%")"),
                  "@/users/ana"},
        StoreCase{"LinuxPathKept", kOutlook + storeRoot(R"("/home/ana/Correo")"),
                  "/home/ana/Correo"}),
    [](const testing::TestParamInfo<StoreCase>& param) { return param.param.name; });

struct ErrorCase {
  const char* name;
  std::string hive;
  std::string message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class StoreFolderErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(StoreFolderErrors, NonStringValuesRaise) {
  const WineRegistry registry = WineRegistry::fromBytes(kHeader + GetParam().hive);
  try {
    oe5_StoreFolder(registry, "/nonexistent", Environment({}, "ana"));
    FAIL() << "no error";
  } catch (const ResguardaError& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    StoreFolder, StoreFolderErrors,
    testing::Values(
        // The main value is read first, so it raises even when an identity has a store.
        ErrorCase{"MainStoreRoot",
                  kOutlook + storeRoot("dword:00000001") + kIdentities +
                      R"("Default User ID"="{ID-1}")"
                      "\n" +
                      kIdentityKey + storeRoot(R"("C:\\x\\")"),
                  "Invalid data type for 'Store Root'"},
        ErrorCase{"DefaultUserId", kIdentities + "\"Default User ID\"=hex:01,02\n",
                  "Invalid data type for 'Default User ID'"},
        ErrorCase{"IdentityStoreRoot",
                  kIdentities +
                      R"("Default User ID"="{ID-1}")"
                      "\n" +
                      kIdentityKey + storeRoot("hex(7):41,00,00,00,00,00"),
                  "Invalid data type for 'Store Root'"}),
    [](const testing::TestParamInfo<ErrorCase>& param) { return param.param.name; });

TEST(StoreFolder, TooLongAnExpansionKeepsTheValueAsStored) {
  std::string big(2000, 'x');
  const Environment environment({{"BIG", big}}, "ana");
  std::string value;
  for (int i = 0; i < 20; ++i) value += "%BIG%";
  const WineRegistry registry =
      WineRegistry::fromBytes(kHeader + kOutlook + storeRoot("\"/" + value + "\"") + "\n");
  EXPECT_EQ(oe5_StoreFolder(registry, "/p", environment), "/" + value);
}

// The form without arguments reads the prefix's hive and sees it change between calls.
TEST(StoreFolder, ReadsTheHiveOfWineprefix) {
  TempTree prefix;
  ScopedVariable wine("WINEPREFIX", prefix.root());

  EXPECT_EQ(oe5_StoreFolder(), "");
  const std::string hive =
      prefix.write("user.reg", kHeader + kOutlook + storeRoot(R"("C:\\Uno\\")"), 1600000000);
  EXPECT_EQ(oe5_StoreFolder(), prefix.root() + "/drive_c/Uno/");
  EXPECT_EQ(oe5_StoreFolder(), prefix.root() + "/drive_c/Uno/");
  // Same size, same modification time: still seen as changed.
  prefix.write("user.reg", kHeader + kOutlook + storeRoot(R"("C:\\Dos\\")"), 1600000000);
  EXPECT_EQ(oe5_StoreFolder(), prefix.root() + "/drive_c/Dos/");
  ::unlink(hive.c_str());
  EXPECT_EQ(oe5_StoreFolder(), "");
}

}  // namespace
