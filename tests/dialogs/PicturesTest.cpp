#include "resources/Pictures.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

#include "dialogs/SpanishTexts.h"

namespace {

struct PictureCase {
  QString path;
  QSize size;
};

class PicturesTest : public ::testing::TestWithParam<PictureCase> {};

// Enough of the picture is drawn to be seen: not a blank or a broken file.
double coverage(const QImage& image) {
  int drawn = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
  return static_cast<double>(drawn) / (image.width() * image.height());
}

TEST_P(PicturesTest, IsBuiltInAtItsSizeAndDrawsAtAnyScale) {
  QSvgRenderer renderer(GetParam().path);
  ASSERT_TRUE(renderer.isValid()) << GetParam().path.toStdString();
  EXPECT_EQ(renderer.defaultSize(), GetParam().size);
  const QIcon icon(GetParam().path);
  for (const int scale : {1, 2}) {
    const QImage image = icon.pixmap(GetParam().size * scale).toImage();
    ASSERT_EQ(image.size(), GetParam().size * scale);
    EXPECT_GT(coverage(image), 0.15) << GetParam().path.toStdString() << " x" << scale;
  }
}

std::vector<PictureCase> allPictures() {
  std::vector<PictureCase> cases;
  for (int i = 0; i < Pictures::kImageList1Count; ++i)
    cases.push_back({Pictures::imageList1Path(i), QSize(16, 16)});
  cases.push_back({QString::fromLatin1(Pictures::kCopyButton), QSize(32, 32)});
  cases.push_back({QString::fromLatin1(Pictures::kAboutLandscape), QSize(259, 202)});
  cases.push_back({QString::fromLatin1(Pictures::kApplicationIcon), QSize(48, 48)});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Resources, PicturesTest, ::testing::ValuesIn(allPictures()));

TEST(SpanishTexts, ButtonsAreSpanishWithOrWithoutQtsTranslation) {
  QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  setSpanishButtonTexts(&buttons);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("Aceptar"));
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancelar"));

  if (!installSpanishTranslations(*qApp)) GTEST_SKIP() << "qtbase_es.qm is not installed";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancelar"));
}

}  // namespace
