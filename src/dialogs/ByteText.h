#pragma once

#include <QFile>
#include <QString>
#include <string>

// Bytes and widget text, for every widget of the program.

// File names and log lines are bytes: shown decoded as the system decodes file names, so
// a name that is not valid UTF-8 still shows and round-trips.
inline QString fromBytes(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

// Back from what a widget shows (or the user typed) to the bytes of a file name.
inline std::string toBytes(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

// The program's own texts, written in UTF-8 in the source.
inline QString fromUtf8(const char* text) {
  return QString::fromUtf8(text);
}
inline QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.c_str());
}
