#include "dialogs/TAboutBox.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrl>
#include <functional>

#include "dialogs/ByteText.h"
#include "dialogs/FileUtil.h"
#include "resources/Pictures.h"

namespace {

constexpr int kClientWidth = 338;
constexpr int kClientHeight = 251;
constexpr int kPhysMemRight = 299;

// The picture stretched over the whole client area, drawn from its SVG at the screen's
// resolution.
class StretchedPicture : public QWidget {
 public:
  StretchedPicture(const QString& path, QWidget* parent) : QWidget(parent), renderer_(path) {
    renderer_.setAspectRatioMode(Qt::IgnoreAspectRatio);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    renderer_.render(&painter, QRectF(rect()));
  }

 private:
  QSvgRenderer renderer_;
};

class LinkLabel : public QLabel {
 public:
  LinkLabel(const QString& text, QWidget* parent, std::function<void()> clicked)
      : QLabel(text, parent), clicked_(std::move(clicked)) {
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
      clicked_();
    QLabel::mouseReleaseEvent(event);
  }

 private:
  std::function<void()> clicked_;
};

QFont arial(int pixelSize, bool bold = false, bool underline = false) {
  QFont font(QStringLiteral("Arial"));
  // Where Arial is missing, a sans-serif of the same build stands in.
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setUnderline(underline);
  return font;
}

void setTextColor(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
}

// A label at its place, sized to its text.
QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                 const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

AboutFacts AboutFacts::current() {
  return {currentPlatformVersion(), totalPhysicalMemory(), QLocale()};
}

TAboutBox::TAboutBox(QWidget* parent, const AboutFacts& facts)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("Acerca de Resguarda"));
  setFixedSize(kClientWidth, kClientHeight);
  QFont dialogFont = font();
  dialogFont.setPointSize(8);

  // In creation order: later ones are drawn over earlier ones.
  auto* image = new StretchedPicture(QString::fromLatin1(Pictures::kAboutLandscape), this);
  image->setObjectName(QStringLiteral("Image1"));
  image->setGeometry(0, 0, kClientWidth, kClientHeight);

  addLabel(this, "Copyright", QStringLiteral("© Equipo de Resguarda"), 72, 66, arial(16));

  auto* bevel = new QFrame(this);
  bevel->setObjectName(QStringLiteral("Bevel1"));
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(86, 158, 251, 2);

  QLabel* name = addLabel(this, "SKUName", QStringLiteral("Resguarda"), 67, 12, arial(37, true));
  setTextColor(name, Qt::black);

  addLabel(this, "Label3", QStringLiteral("Memoria disponible:"), 86, 189, dialogFont);
  PhysMem_ = addLabel(this, "PhysMem", QStringLiteral("0"), 293, 189, dialogFont);
  OS_ = addLabel(this, "OS", QStringLiteral("OS"), 86, 172, dialogFont);
  addLabel(this, "Label1", QStringLiteral("Enero 2004 - Junio 2016"), 75, 95, arial(16));

  auto* link = new LinkLabel(QString::fromLatin1(kContactAddress), this, [this] { Label2Click(); });
  link->setObjectName(QStringLiteral("Label2"));
  link->setFont(arial(13, true, true));
  setTextColor(link, QColor(0, 0, 255));
  link->move(95, 120);
  link->adjustSize();

  FormCreate(facts);
}

void TAboutBox::FormCreate(const AboutFacts& facts) {
  // A long distribution name would run off the box: it is cut short there and shown whole
  // as the tooltip.
  const QString os = fromUtf8(platformText(facts.platform));
  const int room = kClientWidth - OS_->x() - 2;
  OS_->setText(OS_->fontMetrics().elidedText(os, Qt::ElideRight, room));
  OS_->setToolTip(os);
  OS_->adjustSize();
  // Right-aligned: the right edge stays put while the label fits its text.
  PhysMem_->setText(memoryText(facts.totalMemory, facts.locale));
  PhysMem_->adjustSize();
  PhysMem_->move(kPhysMemRight - PhysMem_->width(), PhysMem_->y());
}

void TAboutBox::Label2Click() {
  QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kContactAddress)));
}

void ShowAboutBox(QWidget* parent) {
  TAboutBox box(parent);
  CenterOnScreen(&box);
  box.exec();
}
