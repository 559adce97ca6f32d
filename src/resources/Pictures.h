#pragma once

#include <QString>

class QIcon;

// The program's own pictures, drawn as SVG so they show the same on every desktop, whatever
// icon theme it has, and stay sharp at any scale. The resource paths are stable.
namespace Pictures {

// ImageList1: the nine 16 x 16 images of the menu and the toolbar, by index.
inline constexpr int kImageList1Count = 9;
// ":/resguarda/imagelist1/<index>-<name>.svg"; "" for an index out of range.
QString imageList1Path(int index);
QIcon imageList1(int index);

// The Copy button's 32 x 32 open yellow CD drive with a disc.
inline constexpr char kCopyButton[] = ":/resguarda/copy-button.svg";
// The About box's 259 x 202 landscape.
inline constexpr char kAboutLandscape[] = ":/resguarda/about-landscape.svg";
// The program's icon, also the desktop's.
inline constexpr char kApplicationIcon[] = ":/resguarda/resguarda.svg";

QIcon icon(const char* path);

}  // namespace Pictures
