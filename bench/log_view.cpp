// The window's log during a long run, side by side: the GUI thread's time to show 100,000
// copied-file lines arriving in batches, as a text document trimmed to its newest lines
// (what the log used to be) and as the list of rows it is now. Prints both and the ratio.
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <cstdio>
#include <string>
#include <vector>

#include "app/LogLines.h"

namespace {

constexpr int kLimit = 20000, kBatches = 200, kBatchLines = 500;

QStringList batch(int number) {
  QStringList lines;
  for (int i = 0; i < kBatchLines; ++i)
    lines.append(QStringLiteral("/home/ana/Documentos/carpeta%1/archivo%2.txt").arg(number).arg(i));
  return lines;
}

// The same lines as the bytes a run logs.
std::vector<std::string> byteBatch(int number) {
  std::vector<std::string> lines;
  for (const QString& line : batch(number)) lines.push_back(line.toStdString());
  return lines;
}

double asDocument(QApplication& app) {
  QPlainTextEdit log;
  log.setReadOnly(true);
  log.setLineWrapMode(QPlainTextEdit::NoWrap);
  log.setMaximumBlockCount(kLimit);
  log.resize(400, 300);
  log.show();
  QElapsedTimer timer;
  timer.start();
  for (int b = 0; b < kBatches; ++b) {
    log.appendPlainText(batch(b).join(QLatin1Char('\n')));
    app.processEvents();
  }
  return timer.elapsed() / 1000.0;
}

double asRows(QApplication& app) {
  QListView log;
  LogLines lines(kLimit);
  log.setModel(&lines);
  log.setUniformItemSizes(true);
  log.resize(400, 300);
  log.show();
  QElapsedTimer timer;
  timer.start();
  for (int b = 0; b < kBatches; ++b) {
    lines.append(byteBatch(b));
    log.scrollToBottom();
    app.processEvents();
  }
  return timer.elapsed() / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  double document = 1e9, rows = 1e9;
  for (int round = 0; round < 3; ++round) {  // interleaved, best of three
    document = std::min(document, asDocument(app));
    rows = std::min(rows, asRows(app));
  }
  std::printf("%d lines: text document %.3f s, rows %.3f s, document/rows %.1f\n",
              kBatches * kBatchLines, document, rows, document / rows);
}
