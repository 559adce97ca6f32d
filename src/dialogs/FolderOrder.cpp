#include "dialogs/FolderOrder.h"

#include <QCollator>
#include <QString>
#include <algorithm>
#include <numeric>

#include "dialogs/ByteText.h"

namespace {

bool isDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

qsizetype runEnd(const QString& text, qsizetype from, bool digits) {
  while (from < text.size() && isDigit(text[from]) == digits) ++from;
  return from;
}

// Numbers compare by value (leading zeros aside), the text between them by the collator.
int compareNatural(const QString& a, const QString& b, const QCollator& collator) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitsA = isDigit(a[i]);
    if (digitsA != isDigit(b[j])) return digitsA ? -1 : 1;
    const qsizetype endA = runEnd(a, i, digitsA);
    const qsizetype endB = runEnd(b, j, digitsA);
    if (digitsA) {
      while (i < endA - 1 && a[i] == QLatin1Char('0')) ++i;
      while (j < endB - 1 && b[j] == QLatin1Char('0')) ++j;
      if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
      if (const int c =
              QStringView(a).sliced(i, endA - i).compare(QStringView(b).sliced(j, endB - j));
          c != 0)
        return c;
    } else if (const int c = collator.compare(QStringView(a).sliced(i, endA - i),
                                              QStringView(b).sliced(j, endB - j));
               c != 0) {
      return c;
    }
    i = endA;
    j = endB;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

void sortByDisplayName(std::vector<std::string>& names) {
  // Only the order shown: it follows the user's language, accents and all, where matching a
  // name stays byte-exact or ASCII-only (asciiLower).
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::vector<QString> shown;
  shown.reserve(names.size());
  for (const std::string& name : names) shown.push_back(fromBytes(name));
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    if (const int c = compareNatural(shown[x], shown[y], collator); c != 0) return c < 0;
    return names[x] < names[y];
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (std::size_t index : order) sorted.push_back(std::move(names[index]));
  names = std::move(sorted);
}
