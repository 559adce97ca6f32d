#include "app/StartupOptions.h"

#include <gtest/gtest.h>

namespace {

struct Flags {
  std::vector<std::string> arguments;
  bool cerrarAlTerminar;
  bool oculto;
};

class StartupFlags : public testing::TestWithParam<Flags> {};

TEST_P(StartupFlags, OneArgumentRunsUnattendedAndOnlyHideHides) {
  const StartupOptions options = StartupOptions::fromArguments(GetParam().arguments);
  EXPECT_EQ(options.CerrarAlTerminar, GetParam().cerrarAlTerminar);
  EXPECT_EQ(options.Oculto, GetParam().oculto);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, StartupFlags,
    testing::Values(Flags{{}, false, false}, Flags{{"/x"}, true, false},
                    Flags{{"-hide"}, true, true}, Flags{{"-HiDE"}, true, true},
                    Flags{{""}, true, false}, Flags{{"hide"}, true, false},
                    Flags{{"-hide "}, true, false}, Flags{{"--hide"}, true, false},
                    // Only ASCII letters fold: a dotless or accented look-alike is not "-hide".
                    Flags{{"-h\xc4\xb1"
                           "de"},
                          true,
                          false},
                    Flags{{"-hide", "x"}, false, false}, Flags{{"x", "-hide"}, false, false},
                    Flags{{"x", "y", "z"}, false, false}));

}  // namespace
