// The real program backing up to USB-stick file systems, as a user runs it at night: FAT16
// through fusefat and exFAT through exfat-fuse, on disk images of their own.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "app/UnattendedFixture.h"
#include "support/DiskImage.h"
#include "support/TestData.h"

namespace {

using Kind = DiskImage::Kind;

constexpr time_t kOld = 1600000000;
constexpr time_t k2031 = 1924992000;  // 2031-01-01

std::vector<std::string> linesStarting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : linesOf(text))
    if (line.starts_with(prefix)) found.push_back(line);
  return found;
}

// The reason of the "ERROR - " line about docs/<name>, whether it names the source or the copy;
// "" when there is none.
std::string failureReason(const std::string& text, const std::string& name) {
  const std::string tail = "/docs/" + name + ": ";
  for (const std::string& line : linesStarting(text, "ERROR - "))
    if (const size_t at = line.find(tail); at != std::string::npos)
      return line.substr(at + tail.size());
  return {};
}

// A reason that is only the system's English text for an errno value, which the user here
// cannot read.
bool isSystemEnglish(const std::string& reason) {
  for (int err = 1; err < 134; ++err)
    if (reason == std::strerror(err)) return true;
  return false;
}

// Waits for the start of an even second (a two-second step of the stored times begins there),
// so that what is written then and copied at once lies in one step.
time_t startOfAStep() {
  const time_t first = time(nullptr);
  time_t now = first;
  while (now == first || now % 2 != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    now = time(nullptr);
  }
  return now;
}

class RemovableRun : public UnattendedProgram, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    disk_ = std::make_unique<DiskImage>(GetParam(), 64);
    if (!disk_->missing().empty()) GTEST_SKIP() << "no removable disk: " << disk_->missing();
    UnattendedProgram::SetUp();
  }

  std::string copy(const std::string& relative) const {
    return disk_->mountPoint() + "/copias/" + relative;
  }
  Outcome backUp(const std::function<void(pid_t)>& whileRunning = {}) {
    writeSettings(disk_->mountPoint() + "/copias", {tree.path("docs")});
    return run({"-hide"}, whileRunning);
  }
  std::string log() const { return TempTree::read(stateFolder() + "/ultima-copia.log"); }

  std::unique_ptr<DiskImage> disk_;
};

}  // namespace

// The test names CTest shows end in the file system's name.
void PrintTo(Kind kind, std::ostream* out) {
  *out << DiskImage::name(kind);
}

TEST_P(RemovableRun, ATreeIsCopiedWholeAndThenLooksCurrent) {
  const std::vector<std::pair<std::string, std::string>> files{
      {"docs/a.txt", "a"},
      {"docs/sub/datos.bin", randomBytes(300000)},
      {"docs/sub/dos palabras.txt", ""}};
  for (const auto& [name, bytes] : files) tree.write(name, bytes, kOld);
  const Outcome first = backUp();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "Finalizado. Actualizados: 0 Copiados: 3 Revisados: 3\n");
  for (const auto& [name, bytes] : files) EXPECT_TRUE(TempTree::read(copy(name)) == bytes) << name;

  const Outcome second = backUp();
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "Finalizado. Actualizados: 0 Copiados: 0 Revisados: 3\n");
}

TEST_P(RemovableRun, AnEditRightAfterTheCopyIsTaken) {
  // Written and copied within one two-second step: an edit one second later falls in that
  // same step, so the next run sees it only if the copy was dated older.
  const time_t written = startOfAStep();
  tree.write("docs/a.txt", "uno", written);
  const Outcome first = backUp();
  EXPECT_EQ(first.status, 0) << first.err;
  tree.write("docs/a.txt", "dos", written + 1);
  const Outcome second = backUp();
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "Finalizado. Actualizados: 1 Copiados: 0 Revisados: 1\n");
  EXPECT_EQ(TempTree::read(copy("docs/a.txt")), "dos");
}

TEST_P(RemovableRun, NamesThatDifferOnlyByCaseKeepOneAndReportTheOther) {
  const std::string lowerSource = tree.write("docs/Informe.txt", "primero", kOld);
  const std::string upperSource = tree.write("docs/INFORME.txt", "el segundo", kOld);
  tree.write("docs/Fotos/a.jpg", "upper", kOld);
  tree.write("docs/fotos/a.jpg", "lower", kOld);
  tree.write("docs/fotos/b.jpg", "lower b", kOld);
  std::string keptFirst;
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    // Whatever the later dates, the other file never replaces the kept one.
    if (round > 1)
      TempTree::setMtime(keptFirst == "Informe.txt" ? upperSource : lowerSource,
                         kOld + 1000 * round);
    const Outcome outcome = backUp();
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    const std::string lower = failureReason(outcome.err, "Informe.txt");
    const std::string upper = failureReason(outcome.err, "INFORME.txt");
    ASSERT_NE(lower.empty(), upper.empty()) << outcome.err;
    EXPECT_FALSE(isSystemEnglish(lower + upper)) << outcome.err;
    // The one kept is there under its own name, with its own bytes.
    const bool lowerFailed = !lower.empty();
    const std::string kept = lowerFailed ? "INFORME.txt" : "Informe.txt";
    EXPECT_EQ(TempTree::read(copy("docs/" + kept)), lowerFailed ? "el segundo" : "primero");
    // So is one of the two folders; each file of the other one is named, none lands in it.
    const std::vector<std::string> names = TempTree::list(copy("docs"));
    ASSERT_EQ(names.size(), 2u) << outcome.err;
    const std::string folder = names[0] == kept ? names[1] : names[0];
    const bool upperFolder = folder == "Fotos";
    EXPECT_EQ(linesStarting(outcome.err, "ERROR - ").size(), upperFolder ? 3u : 2u) << outcome.err;
    EXPECT_EQ(TempTree::read(copy("docs/" + folder + "/a.jpg")), upperFolder ? "upper" : "lower");
    EXPECT_EQ(TempTree::list(copy("docs/" + folder)).size(), upperFolder ? 1u : 2u);
    if (round == 1) keptFirst = kept;
    EXPECT_EQ(kept, keptFirst);
  }
}

TEST_P(RemovableRun, OwnersAndModesTheDiskCannotKeepCostOneWarning) {
  const std::string secret = tree.write("docs/secreto.txt", "s", kOld);
  const std::string script = tree.write("docs/guion.sh", "#!/bin/sh\n", kOld);
  const std::string theirs = tree.write("docs/ajeno.txt", "de otro", kOld);
  ::chmod(secret.c_str(), 0600);
  ::chmod(script.c_str(), 0755);
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  const Outcome outcome = backUp();
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 3 Revisados: 3\n");
  EXPECT_EQ(TempTree::read(copy("docs/secreto.txt")), "s");
  EXPECT_EQ(TempTree::read(copy("docs/guion.sh")), "#!/bin/sh\n");
  EXPECT_EQ(TempTree::read(copy("docs/ajeno.txt")), "de otro");
  EXPECT_LE(linesStarting(log(), "AVISO - ").size(), 1u) << log();
}

TEST_P(RemovableRun, NamesTheDiskRefusesAreReportedInSpanish) {
  // As the drivers answer when tried by hand: both refuse a colon or a question mark, fusefat
  // every name beyond ASCII too. A trailing dot or blank both store as given, where a kernel
  // driver would drop it: the program may refuse those itself.
  std::vector<std::string> refused{"a:b", "x?"}, stored{"bien.txt"}, either{"punto.", "blanco "};
  (GetParam() == Kind::Fat16 ? refused : stored).push_back("año.txt");
  // A folder the disk cannot name fails the same way, for each file in it.
  for (const std::string name : {"c:d", "y?"}) refused.push_back(name + "/f.txt");
  if (GetParam() == Kind::Fat16) refused.push_back("niño/f.txt");
  for (const auto* names : {&refused, &stored, &either})
    for (const auto& name : *names) tree.write("docs/" + name, name, kOld);
  const Outcome outcome = backUp();
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  const auto reportedInSpanish = [&](const std::string& name) {
    const std::string reason = failureReason(outcome.err, name);
    EXPECT_FALSE(reason.empty()) << name << "\n" << outcome.err;
    EXPECT_FALSE(isSystemEnglish(reason)) << name << ": " << reason;
    EXPECT_EQ(reason.find("No such file"), std::string::npos) << name << ": " << reason;
  };
  for (const auto& name : refused) reportedInSpanish(name);
  for (const auto& name : stored) EXPECT_EQ(TempTree::read(copy("docs/" + name)), name);
  // Never lost without a word.
  for (const auto& name : either) {
    if (failureReason(outcome.err, name).empty())
      EXPECT_EQ(TempTree::read(copy("docs/" + name)), name) << outcome.err;
    else
      reportedInSpanish(name);
  }
  // The destination folder's own name too: the run cannot start, and says why.
  writeSettings(disk_->mountPoint() + "/copias?", {tree.path("docs")});
  const Outcome refusedDestination = run({"-hide"});
  EXPECT_EQ(refusedDestination.status, 2);
  EXPECT_NE(refusedDestination.err.find("no admite el nombre"), std::string::npos)
      << refusedDestination.err;
}

TEST_P(RemovableRun, ALeftoverOfAStoppedCopyGoesAfterTheDiskComesBack) {
  // Big enough that the copy runs for a while on either driver.
  const std::string big = randomBytes(24 << 20);
  tree.write("docs/grande.bin", big, kOld);
  std::filesystem::create_directories(copy("docs"));
  {
    std::ofstream own(copy("docs/.resguarda-abc123"));
    own << "mío";
  }
  const auto leftovers = [&] {
    std::vector<std::string> names = TempTree::list(copy("docs"));
    std::erase_if(names, [](const std::string& n) {
      return !n.starts_with(".resguarda-") || n == ".resguarda-abc123";
    });
    return names;
  };
  const Outcome killed = backUp([&](pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    // Stopped once part of the copy is written, as a crash would leave it.
    const auto written = [&] {
      const std::vector<std::string> names = leftovers();
      struct stat st {};
      return !names.empty() && ::stat(copy("docs/" + names[0]).c_str(), &st) == 0 && st.st_size > 0;
    };
    while (!written() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGKILL);
  });
  ASSERT_EQ(killed.status, 128 + SIGKILL) << "the copy ended before it could be stopped";
  ASSERT_EQ(leftovers().size(), 1u);
  struct stat part {};
  ASSERT_EQ(::stat(copy("docs/" + leftovers()[0]).c_str(), &part), 0);
  EXPECT_LT(part.st_size, static_cast<off_t>(big.size()));

  ASSERT_TRUE(disk_->replug()) << disk_->missing();
  const Outcome again = backUp();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(leftovers(), std::vector<std::string>{});
  EXPECT_EQ(TempTree::read(copy("docs/.resguarda-abc123")), "mío");
  EXPECT_TRUE(TempTree::read(copy("docs/grande.bin")) == big);
}

TEST_P(RemovableRun, AFutureDateIsWarnedOnceAndALaterEditIsTaken) {
  tree.write("docs/futuro.txt", "2031", k2031);
  tree.write("docs/hoy.txt", "hoy", kOld);
  const Outcome first = backUp();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "Finalizado. Actualizados: 0 Copiados: 2 Revisados: 2\n");
  // Other warnings may come (owners on FAT); one names the file.
  std::vector<std::string> warnings = linesStarting(first.err, "AVISO - ");
  std::erase_if(warnings, [&](const std::string& line) {
    return line.find("futuro.txt") == std::string::npos;
  });
  EXPECT_EQ(warnings.size(), 1u) << first.err;
  EXPECT_EQ(TempTree::read(copy("docs/futuro.txt")), "2031");

  tree.write("docs/futuro.txt", "corregido", time(nullptr));
  const Outcome second = backUp();
  EXPECT_EQ(second.out, "Finalizado. Actualizados: 1 Copiados: 0 Revisados: 2\n") << second.err;
  EXPECT_EQ(TempTree::read(copy("docs/futuro.txt")), "corregido");
}

// The nightly run with versions and the check on, on the stick itself: an edit keeps the old
// copy under versiones/ (moved by rename on a disk with no owners), and bytes the disk changed
// under a copy that looks current are found and copied again.
TEST_P(RemovableRun, VersionsAreKeptAndADamagedCopyIsRepaired) {
  tree.write("docs/a.txt", "primera", kOld);
  tree.write("docs/b.txt", "intacto", kOld);
  const auto nightly = [&] {
    writeSettings(disk_->mountPoint() + "/copias", {tree.path("docs")});
    std::string text = TempTree::read(tree.path("app/Resguarda.ini"));
    text.insert(text.find("[TAREAS]"), "VERSIONES=1\nCOMPROBAR_DIAS=1\n");
    tree.write("app/Resguarda.ini", text);
    return run({"-hide"});
  };
  EXPECT_EQ(nightly().status, 0);

  const std::string damaged = copy("docs/b.txt");
  struct stat before {};
  ASSERT_EQ(::stat(damaged.c_str(), &before), 0);
  std::ofstream(damaged, std::ios::in | std::ios::out) << "intXcto";
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, damaged.c_str(), times, 0), 0);
  tree.write("docs/a.txt", "segunda", kOld + 1000);
  ::unlink((stateFolder() + "/ultima-comprobacion").c_str());  // due again at once

  const Outcome second = nightly();
  EXPECT_EQ(second.status, 1) << second.err;
  EXPECT_EQ(second.out,
            "Finalizado. Actualizados: 1 Copiados: 0 Revisados: 2\nComprobados: 1 Dañados: 1\n");
  EXPECT_EQ(failureReason(second.err, "b.txt"),
            "la copia no coincidía con el original; copiada de nuevo");
  EXPECT_EQ(TempTree::read(copy("docs/b.txt")), "intacto");
  EXPECT_EQ(TempTree::read(copy("docs/a.txt")), "segunda");
  const std::vector<std::string> runs = TempTree::list(copy("versiones"));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(TempTree::read(copy("versiones/" + runs[0] + "/docs/a.txt")), "primera");
}

INSTANTIATE_TEST_SUITE_P(Stick, RemovableRun, ::testing::Values(Kind::Fat16, Kind::Exfat));
