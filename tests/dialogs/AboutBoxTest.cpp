#include "dialogs/TAboutBox.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QTest>
#include <QUrl>

#include "dialogs/SystemFacts.h"

namespace {

struct KernelCase {
  const char* release;
  const char* osRelease;
  const char* text;
};

class LinuxVersionTest : public ::testing::TestWithParam<KernelCase> {};

TEST_P(LinuxVersionTest, ReadsTheKernelReleaseAndTheDistribution) {
  EXPECT_EQ(platformText(linuxPlatformVersion(GetParam().release, GetParam().osRelease)),
            GetParam().text);
}

const char kDebian[] =
    "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n";

INSTANTIATE_TEST_SUITE_P(
    Releases, LinuxVersionTest,
    ::testing::Values(
        KernelCase{"6.1.0-18-amd64", kDebian,
                   "Linux 6.1 (Build 0: Debian GNU/Linux 12 (bookworm))"},
        KernelCase{"5.15.153.1-microsoft-standard-WSL2", "", "Linux 5.15 (Build 153)"},
        KernelCase{"6.8-rc3", "NAME=Arch\n", "Linux 6.8 (Build 0: Arch)"},
        KernelCase{"4.19.325", "NAME='Mi Linux'\r\n", "Linux 4.19 (Build 325: Mi Linux)"},
        KernelCase{"", kDebian, "Linux 0.0"}, KernelCase{"desconocido", kDebian, "Linux 0.0"},
        KernelCase{"6", kDebian, "Linux 0.0"},
        // A number past the integers' range is no version.
        KernelCase{"99999999999.1.2", kDebian, "Linux 0.0"},
        KernelCase{"6.1.99999999999", "", "Linux 6.1 (Build 0)"}));

struct OsReleaseCase {
  std::string text;
  std::string name;
};

class OsReleaseNameTest : public ::testing::TestWithParam<OsReleaseCase> {};

TEST_P(OsReleaseNameTest, TakesPrettyNameElseName) {
  EXPECT_EQ(osReleaseName(GetParam().text), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OsReleaseNameTest,
    ::testing::Values(
        OsReleaseCase{"NAME=\"Fedora Linux\"\nPRETTY_NAME=\"Fedora Linux 40\"\n",
                      "Fedora Linux 40"},
        OsReleaseCase{"NAME=\"Alpine\"\nPRETTY_NAME=\"\"\n", "Alpine"},
        OsReleaseCase{"ID=debian\n", ""},
        OsReleaseCase{"PRETTY_NAME=\"Con \\\"comillas\\\" y \\$\"", "Con \"comillas\" y $"},
        OsReleaseCase{"PRETTY_NAME=\"sin cierre\n", "sin cierre"},
        OsReleaseCase{"PRETTY_NAME=\"A\tB\x1b[31mC\"\n", "AB[31mC"},
        // Hand-edited and long: cut at 128 whole characters.
        OsReleaseCase{"PRETTY_NAME=\"" + std::string(200, 'x') + "\"", std::string(128, 'x')},
        OsReleaseCase{"NAME=\"" + std::string(127, 'x') + "\xc3\xb1\xc3\xb1\"",
                      std::string(127, 'x') + "\xc3\xb1"}));

struct MemoryCase {
  std::uint64_t bytes;
  const char* spanish;
  const char* english;
};

class MemoryTextTest : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryTextTest, GroupsWholeKilobytesInThrees) {
  EXPECT_EQ(memoryText(GetParam().bytes, QLocale(QLocale::Spanish, QLocale::Spain)).toStdString(),
            GetParam().spanish);
  EXPECT_EQ(
      memoryText(GetParam().bytes, QLocale(QLocale::English, QLocale::UnitedStates)).toStdString(),
      GetParam().english);
}

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kGiB = kKiB * kKiB * kKiB;

INSTANTIATE_TEST_SUITE_P(
    Sizes, MemoryTextTest,
    ::testing::Values(MemoryCase{0, "0 KB", "0 KB"}, MemoryCase{1023, "0 KB", "0 KB"},
                      MemoryCase{999 * kKiB, "999 KB", "999 KB"},
                      MemoryCase{1000 * kKiB + 1023, "1.000 KB", "1,000 KB"},
                      // Past what 32 bits could count.
                      MemoryCase{4 * kGiB + kKiB, "4.194.305 KB", "4,194,305 KB"},
                      MemoryCase{UINT64_MAX, "18.014.398.509.481.983 KB",
                                 "18,014,398,509,481,983 KB"}));

TEST(TotalPhysicalMemory, IsTheMachinesWholeMemory) {
  EXPECT_GT(totalPhysicalMemory(), 64 * kKiB * kKiB);
}

class AboutBoxTest : public ::testing::Test {
 protected:
  static QLabel* label(TAboutBox& box, const char* name) {
    auto* found = box.findChild<QLabel*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
};

struct AboutCase {
  PlatformVersion platform;
  std::uint64_t memory;
  std::string os;
  const char* physMem;
};

class AboutBoxTextsTest : public AboutBoxTest, public ::testing::WithParamInterface<AboutCase> {};

TEST_P(AboutBoxTextsTest, ShowsThePlatformAndTheMemoryWholeInsideTheBox) {
  TAboutBox box(
      nullptr, {GetParam().platform, GetParam().memory, QLocale(QLocale::Spanish, QLocale::Spain)});
  EXPECT_EQ(label(box, "OS")->toolTip().toStdString(), GetParam().os);
  EXPECT_EQ(label(box, "PhysMem")->text().toStdString(), GetParam().physMem);
  box.show();
  // However long the distribution's name, every text stays whole inside the box, apart from
  // the others.
  const QList<QLabel*> labels = box.findChildren<QLabel*>();
  for (const QLabel* shown : labels) {
    if (!shown->isVisible() || shown->text().isEmpty()) continue;
    const std::string name = shown->objectName().toStdString();
    const QRect inBox(shown->mapTo(&box, QPoint(0, 0)), shown->size());
    EXPECT_TRUE(box.rect().contains(inBox)) << name;
    EXPECT_GE(shown->height(), shown->fontMetrics().height()) << name;
    for (const QLabel* other : labels) {
      if (other == shown || !other->isVisible() || other->text().isEmpty() ||
          other->parentWidget() != shown->parentWidget())
        continue;
      EXPECT_FALSE(shown->geometry().intersects(other->geometry()))
          << name << " / " << other->objectName().toStdString();
    }
  }
  // The memory's figure ends where a short one ends, whatever its count of digits.
  TAboutBox shortOne(nullptr, {GetParam().platform, 0, QLocale(QLocale::Spanish, QLocale::Spain)});
  const QRect memory = label(box, "PhysMem")->geometry(),
              shortMemory = label(shortOne, "PhysMem")->geometry();
  EXPECT_EQ(memory.x() + memory.width(), shortMemory.x() + shortMemory.width());
  EXPECT_EQ(memory.y(), shortMemory.y());
}

INSTANTIATE_TEST_SUITE_P(
    Machines, AboutBoxTextsTest,
    ::testing::Values(AboutCase{{"Linux", 6, 1, 0, "Debian GNU/Linux 12 (bookworm)"},
                                16 * kGiB,
                                "Linux 6.1 (Build 0: Debian GNU/Linux 12 (bookworm))",
                                "16.777.216 KB"},
                      AboutCase{{"Linux", 0, 0, std::nullopt, ""}, 0, "Linux 0.0", "0 KB"},
                      AboutCase{{"Linux", 5, 4, 0, std::string(128, 'W')},
                                999 * kKiB,
                                "Linux 5.4 (Build 0: " + std::string(128, 'W') + ")",
                                "999 KB"}));

// Records the links the desktop was asked to open.
class LinkCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(AboutBoxTest, ClickingTheAddressOpensAMailLink) {
  LinkCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
  TAboutBox box(nullptr, {{"Linux", 6, 1, 0, ""}, kGiB, QLocale::c()});
  box.show();
  QTest::mouseClick(label(box, "Label2"), Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
  ASSERT_EQ(catcher.opened.size(), 1);
  EXPECT_EQ(catcher.opened[0].toString(),
            QStringLiteral("mailto:") + QString::fromLatin1(TAboutBox::kContactAddress));
}

}  // namespace

#include "AboutBoxTest.moc"
