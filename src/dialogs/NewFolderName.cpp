#include "dialogs/NewFolderName.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/SpanishTexts.h"

QString newFolderNameProblem(const QString& name) {
  const QString trimmed = name.trimmed();
  if (trimmed.isEmpty()) return QStringLiteral("Escriba el nombre de la carpeta.");
  if (trimmed.contains(QLatin1Char('/')) || trimmed.contains(QChar(0)))
    return QStringLiteral("El nombre de una carpeta no puede contener «/».");
  if (trimmed == QLatin1String(".") || trimmed == QLatin1String(".."))
    return QStringLiteral("«.» y «..» no son nombres de carpeta.");
  return {};
}

std::optional<QString> askNewFolderName(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Nueva carpeta"));
  auto* label = new QLabel(QStringLiteral("Nombre de la nueva carpeta:"), &dialog);
  auto* edit = new QLineEdit(QStringLiteral("Nueva carpeta"), &dialog);
  edit->setObjectName(QStringLiteral("NewFolderName"));
  edit->selectAll();
  label->setBuddy(edit);
  auto* problem = new QLabel(&dialog);
  problem->setObjectName(QStringLiteral("NewFolderProblem"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  setSpanishButtonTexts(buttons);

  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label);
  layout->addWidget(edit);
  layout->addWidget(problem);
  layout->addWidget(buttons);

  auto check = [edit, problem, buttons] {
    const QString why = newFolderNameProblem(edit->text());
    problem->setText(why);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(why.isEmpty());
  };
  QObject::connect(edit, &QLineEdit::textChanged, &dialog, check);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  check();
  // Wide enough for the longest reason, so none is cut short.
  int width = dialog.fontMetrics().averageCharWidth() * 40;
  for (const QString& name : {QString(), QStringLiteral("/"), QStringLiteral(".")})
    width = std::max(width, problem->fontMetrics().horizontalAdvance(newFolderNameProblem(name)));
  const QMargins margins = layout->contentsMargins();
  dialog.setMinimumWidth(width + margins.left() + margins.right());

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QString name = edit->text().trimmed();
  if (!newFolderNameProblem(name).isEmpty()) return std::nullopt;
  return name;
}
