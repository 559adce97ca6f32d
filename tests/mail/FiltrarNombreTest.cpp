#include "mail/FiltrarNombre.h"

#include <gtest/gtest.h>

TEST(FiltrarNombre, KeepsLengthAndEndsInABlank) {
  EXPECT_EQ(FiltrarNombre(""), "");
  EXPECT_EQ(FiltrarNombre("x"), " ");
  EXPECT_EQ(FiltrarNombre("report.pdf\""), "report.pdf ");
  const std::string longText(300, 'a');
  const std::string filtered = FiltrarNombre(longText);
  ASSERT_EQ(filtered.size(), 220u);
  EXPECT_EQ(filtered, std::string(219, 'a') + " ");
}

TEST(FiltrarNombre, ReplacesForbiddenAndControlCharacters) {
  EXPECT_EQ(FiltrarNombre("a\"b*c/d:e<f>g?h\\i|j."), "a_b_c_d_e_f_g_h_i_j ");
  EXPECT_EQ(FiltrarNombre("a\tb\rc\x0e"
                          "d."),
            "a b c\x0e"
            "d ");
  // Dots and blanks survive: "." and ".." are kept out by the export, not here.
  EXPECT_EQ(FiltrarNombre("../x\""), ".._x ");
}
