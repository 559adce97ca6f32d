#include "dialogs/SpanishTexts.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <utility>

#include "dialogs/ByteText.h"

namespace {

const std::pair<QDialogButtonBox::StandardButton, const char*> kButtonTexts[] = {
    {QDialogButtonBox::Ok, "Aceptar"},
    {QDialogButtonBox::Cancel, "Cancelar"},
    {QDialogButtonBox::Yes, "Sí"},
    {QDialogButtonBox::No, "No"},
    {QDialogButtonBox::Close, "Cerrar"}};

}  // namespace

bool installSpanishTranslations(QCoreApplication& app) {
  // Owned by the application, so it lives as long as the texts are used.
  auto* translator = new QTranslator(&app);
  if (!translator->load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

void setSpanishButtonTexts(QDialogButtonBox* buttons) {
  for (const auto& [which, text] : kButtonTexts)
    if (QPushButton* button = buttons->button(which)) button->setText(fromUtf8(text));
}

void setSpanishButtonTexts(QMessageBox& box) {
  for (const auto& [which, text] : kButtonTexts)
    if (QAbstractButton* button = box.button(static_cast<QMessageBox::StandardButton>(which)))
      button->setText(fromUtf8(text));
}
