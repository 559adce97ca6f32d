#include "dialogs/VersionsDialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "dialogs/FileUtil.h"
#include "dialogs/SpanishTexts.h"
#include "platform/Errors.h"
#include "platform/PathText.h"
#include "tasks/Prompts.h"

namespace {

// Larger than anyone keeps, so a value read from the settings file is shown as it is and
// never cut down by a change of the check box.
constexpr int kMostDays = 99999;

QString fromBytes(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

void setDaysSuffix(QSpinBox* days) {
  days->setSuffix(QString::fromUtf8(days->value() == 1 ? " día" : " días"));
}

}  // namespace

std::string VersionsDialog::versionsFolder(const std::string& destination) {
  if (destination.empty()) return {};
  return withTrailingSlash(destination) + "versiones/";
}

VersionsDialog::VersionsDialog(const std::string& destination, bool keep, int days,
                               SaveVersions saver, Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      folder_(versionsFolder(destination)),
      save_(std::move(saver)),
      prompts_(prompts),
      savedKeep_(keep),
      savedDays_(std::clamp(days, 0, kMostDays)) {
  setObjectName(QStringLiteral("VersionsDialog"));
  setWindowTitle(QStringLiteral("Versiones anteriores"));

  keep_ = new QCheckBox(
      QString::fromUtf8("&Guardar las versiones anteriores de los archivos que se actualizan"),
      this);
  keep_->setObjectName(QStringLiteral("Keep"));

  auto* explanation = new QLabel(
      QString::fromUtf8("Cuando una copia se actualiza, la anterior no se pierde: se mueve a la "
                        "carpeta «versiones», dentro de una carpeta con la fecha y la hora de "
                        "la copia."),
      this);
  explanation->setWordWrap(true);

  days_ = new QSpinBox(this);
  days_->setObjectName(QStringLiteral("Days"));
  days_->setRange(0, kMostDays);
  days_->setSpecialValueText(QStringLiteral("siempre"));
  days_->setAccelerated(true);
  auto* daysLabel = new QLabel(QString::fromUtf8("&Conservarlas durante:"), this);
  daysLabel->setBuddy(days_);
  auto* daysHint =
      new QLabel(QString::fromUtf8("Al empezar cada copia se borran las que tienen más "
                                   "días; con 0 (siempre) no se borra ninguna."),
                 this);
  daysHint->setWordWrap(true);

  // Indented under the check box it depends on.
  auto* daysRow = new QHBoxLayout;
  daysRow->addWidget(daysLabel);
  daysRow->addWidget(days_);
  daysRow->addStretch();
  auto* daysArea = new QVBoxLayout;
  daysArea->setContentsMargins(20, 0, 0, 0);
  daysArea->addLayout(daysRow);
  daysArea->addWidget(daysHint);

  open_ = new QPushButton(QString::fromUtf8("&Abrir la carpeta de versiones"), this);
  open_->setObjectName(QStringLiteral("OpenFolder"));
  open_->setAutoDefault(false);

  auto* openRow = new QHBoxLayout;
  openRow->addWidget(open_);
  openRow->addStretch();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  setSpanishButtonTexts(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(keep_);
  layout->addWidget(explanation);
  layout->addLayout(daysArea);
  layout->addSpacing(6);
  layout->addLayout(openRow);
  layout->addStretch();
  layout->addWidget(buttons);
  setMinimumWidth(480);

  showSaved();
  refreshOpenButton();

  connect(keep_, &QCheckBox::toggled, this, [this] { saveChange(); });
  connect(days_, &QSpinBox::valueChanged, this, [this] { saveChange(); });
  connect(open_, &QPushButton::clicked, this, &VersionsDialog::openFolder);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void VersionsDialog::saveChange() {
  const bool keep = keep_->isChecked();
  const int days = days_->value();
  days_->setEnabled(keep);
  setDaysSuffix(days_);
  if (keep == savedKeep_ && days == savedDays_) return;
  try {
    save_(keep, days);
    savedKeep_ = keep;
    savedDays_ = days;
  } catch (...) {
    showSaved();
    prompts_.error(describeFailure(std::current_exception()).message);
  }
}

void VersionsDialog::showSaved() {
  const QSignalBlocker keepBlocker(keep_);
  const QSignalBlocker daysBlocker(days_);
  keep_->setChecked(savedKeep_);
  days_->setValue(savedDays_);
  days_->setEnabled(savedKeep_);
  setDaysSuffix(days_);
}

void VersionsDialog::refreshOpenButton() {
  const bool exists = !folder_.empty() && IsExistingFolder(folder_);
  open_->setEnabled(exists);
  if (folder_.empty())
    open_->setToolTip(QString::fromUtf8("Todavía no se ha elegido la carpeta de destino."));
  else if (!exists)
    open_->setToolTip(QString::fromUtf8("Todavía no se ha guardado ninguna versión en ") +
                      fromBytes(folder_));
  else
    open_->setToolTip(fromBytes(folder_));
}

void VersionsDialog::changeEvent(QEvent* event) {
  // A run going on behind the dialog may create the folder meanwhile.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) refreshOpenButton();
  QDialog::changeEvent(event);
}

void VersionsDialog::openFolder() {
  refreshOpenButton();
  if (!open_->isEnabled()) return;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(fromBytes(folder_))))
    prompts_.error("No se puede abrir la carpeta " + folder_ + " en el gestor de archivos");
}
