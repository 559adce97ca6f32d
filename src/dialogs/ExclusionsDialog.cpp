#include "dialogs/ExclusionsDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <exception>

#include "dialogs/SpanishTexts.h"
#include "platform/Errors.h"
#include "tasks/Prompts.h"

namespace {

// The examples have a column of their own: a pattern cut in two would read as two patterns.
constexpr const char* kExplanation =
    "Lo que coincide con un patrón no se copia, y en una carpeta excluida no se entra. "
    "<b>*</b> vale por cualquier texto y <b>?</b> por un carácter; se distinguen mayúsculas "
    "y minúsculas."
    "<table cellspacing='4' style='margin-top: 6px'>"
    "<tr><td nowrap><tt>*.tmp</tt></td>"
    "<td>Sin «/»: el nombre de cada archivo y carpeta.</td></tr>"
    "<tr><td nowrap><tt>.cache/<br>node_modules/</tt></td>"
    "<td>Terminado en «/»: solo el nombre de las carpetas.</td></tr>"
    "<tr><td nowrap><tt>fotos/borradores</tt></td>"
    "<td>Con «/» en otro sitio: la ruta bajo la carpeta de la tarea.</td></tr>"
    "</table>";

QString joinedLines(const std::vector<std::string>& patterns) {
  QStringList lines;
  for (const std::string& pattern : patterns)
    lines.push_back(QFile::decodeName(QByteArray::fromStdString(pattern)));
  return lines.join(QLatin1Char('\n'));
}

QString withoutTrailingBlanks(const QString& line) {
  qsizetype end = line.size();
  while (end > 0 && line.at(end - 1).isSpace()) --end;
  return line.left(end);
}

}  // namespace

std::vector<std::string> ExclusionsDialog::patternLines(const QString& text,
                                                        const std::vector<std::string>& original) {
  std::vector<std::string> patterns;
  for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
    const QString line = withoutTrailingBlanks(rawLine);
    if (line.isEmpty()) continue;
    std::string bytes = QFile::encodeName(line).toStdString();
    for (const std::string& known : original)
      if (QFile::decodeName(QByteArray::fromStdString(known)) == line) {
        bytes = known;
        break;
      }
    patterns.push_back(std::move(bytes));
  }
  return patterns;
}

ExclusionsDialog::ExclusionsDialog(const std::vector<std::string>& patterns, SavePatterns saver,
                                   Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      save_(std::move(saver)),
      prompts_(prompts),
      original_(patterns),
      saved_(patterns) {
  setObjectName(QStringLiteral("ExclusionsDialog"));
  setWindowTitle(QStringLiteral("Excluir"));

  auto* explanation = new QLabel(QString::fromUtf8(kExplanation), this);
  explanation->setWordWrap(true);
  explanation->setTextFormat(Qt::RichText);

  editor_ = new QPlainTextEdit(this);
  editor_->setObjectName(QStringLiteral("Patterns"));
  editor_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setTabChangesFocus(true);
  editor_->setPlaceholderText(QStringLiteral("*.tmp\n.cache/\nnode_modules/"));
  editor_->setPlainText(joinedLines(patterns));
  auto* editorLabel = new QLabel(QString::fromUtf8("&Patrones, uno por línea:"), this);
  editorLabel->setBuddy(editor_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  setSpanishButtonTexts(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(explanation);
  layout->addWidget(editorLabel);
  layout->addWidget(editor_, 1);
  layout->addWidget(buttons);
  resize(560, 460);

  saveTimer_.setSingleShot(true);
  saveTimer_.setInterval(kSaveDelayMs);
  connect(&saveTimer_, &QTimer::timeout, this, [this] { save(!failureShown_); });
  connect(editor_, &QPlainTextEdit::textChanged, this, [this] { saveTimer_.start(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool ExclusionsDialog::save(bool reportFailure) {
  saveTimer_.stop();
  const std::vector<std::string> patterns = patternLines(editor_->toPlainText(), original_);
  if (patterns == saved_) return true;
  try {
    save_(patterns);
    saved_ = patterns;
    failureShown_ = false;
    return true;
  } catch (...) {
    if (reportFailure) prompts_.error(describeFailure(std::current_exception()).message);
    failureShown_ = true;
    return false;
  }
}

bool ExclusionsDialog::saveNow() {
  return save(true);
}

void ExclusionsDialog::done(int result) {
  const QString text = editor_->toPlainText();
  if (!saveNow() && refusedClose_ != text) {
    // The edits stay on screen, where the user can try again or copy them.
    refusedClose_ = text;
    return;
  }
  refusedClose_.reset();
  QDialog::done(result);
}
