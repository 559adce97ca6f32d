#include "resources/Pictures.h"

#include <QIcon>
#include <array>

namespace {

constexpr std::array<const char*, Pictures::kImageList1Count> kImageList1 = {
    ":/resguarda/imagelist1/0-open-folder.svg", ":/resguarda/imagelist1/1-exit.svg",
    ":/resguarda/imagelist1/2-cd-drive.svg",    ":/resguarda/imagelist1/3-add.svg",
    ":/resguarda/imagelist1/4-recycle-bin.svg", ":/resguarda/imagelist1/5-light-bulb.svg",
    ":/resguarda/imagelist1/6-rocket.svg",      ":/resguarda/imagelist1/7-check-all.svg",
    ":/resguarda/imagelist1/8-check-none.svg"};

}  // namespace

namespace Pictures {

QString imageList1Path(int index) {
  if (index < 0 || index >= kImageList1Count) return {};
  return QString::fromLatin1(kImageList1[static_cast<std::size_t>(index)]);
}

QIcon imageList1(int index) {
  return QIcon(imageList1Path(index));
}

QIcon icon(const char* path) {
  return QIcon(QString::fromLatin1(path));
}

}  // namespace Pictures
