// Run as root over a user's folder, the walk reads through that user's links only what the
// user could read; a link put in place of a file after the listing is never followed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#include "MirrorFixture.h"

namespace {

using namespace mirror_test;

TEST_F(Mirror, RootFollowsAUsersLinksOnlyToWhatTheUserCouldRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  constexpr uid_t kUser = 65534;  // nobody
  ::chmod(tree.root().c_str(), 0755);
  ::chown(tree.mkdir("ana/Mis").c_str(), kUser, kUser);
  tree.write("ana/Mis/propio.txt", "mine", T);
  ::chmod(tree.write("secret", "root only", T).c_str(), 0600);
  tree.write("shut/open/inner.txt", "behind a shut folder", T);
  ::chmod(tree.path("shut").c_str(), 0700);
  tree.write("etc/hosts", "for everyone", T);
  ::chmod(tree.write("etc/shadow", "hashes", T).c_str(), 0600);
  const std::pair<const char*, const char*> links[] = {
      {"secret", "notas.txt"}, {"shut/open", "carpeta"}, {"etc/hosts", "hosts"}, {"etc", "etc"}};
  for (const auto& [target, at] : links) {
    const std::string link = tree.path("ana/Mis/") + at;
    ASSERT_EQ(::symlink(tree.path(target).c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), kUser, kUser), 0);
  }
  // Root's own links are its own business.
  ASSERT_EQ(::symlink(tree.path("secret").c_str(), tree.path("ana/Mis/deroot.txt").c_str()), 0);

  mirror("ana/Mis");
  EXPECT_EQ(copied(), (Files{"Mis/deroot.txt", "Mis/etc/hosts", "Mis/hosts", "Mis/propio.txt"}));
  Files warned;
  for (const std::string& line : observer.lines)
    if (line.rfind("AVISO - ", 0) == 0) warned.push_back(line.substr(8, line.find(": ") - 8));
  std::sort(warned.begin(), warned.end());
  EXPECT_EQ(warned, (Files{tree.path("ana/Mis/carpeta"), tree.path("ana/Mis/etc/shadow"),
                           tree.path("ana/Mis/notas.txt")}));
  EXPECT_EQ(run.failures, 0);
}

TEST_F(Mirror, LinkSwappedInAfterTheListingIsNotFollowed) {
  ::chmod(tree.write("secret", "root only", T).c_str(), 0600);
  tree.write("Mis/a", "a", T);
  tree.write("Mis/b", "b", T);
  // Whichever file comes first, the other one becomes a link before its turn.
  observer.onLine = [this](const std::string& line) {
    if (observer.lines.size() != 1) return;
    const std::string other = tree.path(line == tree.path("Mis/a") ? "Mis/b" : "Mis/a");
    ::unlink(other.c_str());
    ::symlink(tree.path("secret").c_str(), other.c_str());
  };
  mirror("Mis");
  ASSERT_EQ(copied().size(), 1u);
  EXPECT_NE(TempTree::read(out(copied()[0])), "root only");
}

}  // namespace
