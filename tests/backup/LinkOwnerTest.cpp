// Run as root over a user's folder, the walk reads through that user's links only what the
// user could read; a link put in place of a file after the listing is never followed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "MirrorFixture.h"
#include "support/TempTree.h"

namespace {

using namespace mirror_test;

constexpr uid_t kUser = 65534;  // nobody

class LinkOwner : public Mirror {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    ::chmod(tree.root().c_str(), 0755);
  }
  // A link in the user's folder, owned by the user.
  void plant(const std::string& target, const std::string& at) {
    ASSERT_EQ(::symlink(target.c_str(), tree.path(at).c_str()), 0);
    ASSERT_EQ(::lchown(tree.path(at).c_str(), kUser, kUser), 0);
  }
  int warnings() const {
    int n = 0;
    for (const std::string& line : observer.lines) n += line.rfind("AVISO - ", 0) == 0;
    return n;
  }
};

TEST_F(LinkOwner, FollowsOnlyToWhatTheLinksOwnerCouldRead) {
  tree.write("ana/Mis/propio.txt", "mine", T);
  ASSERT_EQ(::chown(tree.path("ana").c_str(), kUser, kUser), 0);
  ASSERT_EQ(::chown(tree.path("ana/Mis").c_str(), kUser, kUser), 0);
  ::chmod(tree.write("secret", "root only", T).c_str(), 0600);
  tree.write("shut/open/inner.txt", "behind a shut folder", T);
  ::chmod(tree.path("shut").c_str(), 0700);
  tree.write("public.txt", "for everyone", T);
  plant(tree.path("secret"), "ana/Mis/notas.txt");
  plant(tree.path("shut/open"), "ana/Mis/carpeta");
  plant(tree.path("public.txt"), "ana/Mis/publico.txt");
  // Root's own links are its own business.
  ASSERT_EQ(::symlink(tree.path("secret").c_str(), tree.path("ana/Mis/deroot.txt").c_str()), 0);

  mirror("ana/Mis");
  EXPECT_EQ(copied(), (Files{"Mis/deroot.txt", "Mis/propio.txt", "Mis/publico.txt"}));
  EXPECT_EQ(warnings(), 2) << testing::PrintToString(observer.lines);
  for (const char* link : {"ana/Mis/notas.txt", "ana/Mis/carpeta"}) {
    const std::string prefix = "AVISO - " + tree.path(link) + ": ";
    EXPECT_TRUE(std::any_of(observer.lines.begin(), observer.lines.end(),
                            [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }))
        << link;
  }
  EXPECT_EQ(run.failures, 0);
}

TEST_F(LinkOwner, BelowALinkedFolderOnlyWhatItsOwnerCouldRead) {
  tree.mkdir("ana/Mis");
  ASSERT_EQ(::chown(tree.path("ana/Mis").c_str(), kUser, kUser), 0);
  tree.write("etc/hosts", "public", T);
  ::chmod(tree.write("etc/shadow", "hashes", T).c_str(), 0600);
  plant(tree.path("etc"), "ana/Mis/etc");
  mirror("ana/Mis");
  EXPECT_EQ(copied(), Files{"Mis/etc/hosts"});
  EXPECT_EQ(warnings(), 1) << testing::PrintToString(observer.lines);
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
  for (const std::string& file : copied()) EXPECT_NE(TempTree::read(out(file)), "root only");
  EXPECT_EQ(copied().size(), 1u);
}

}  // namespace
