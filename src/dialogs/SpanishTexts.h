#pragma once

class QCoreApplication;
class QDialogButtonBox;
class QMessageBox;

// Installs Qt's own Spanish texts (qtbase_es.qm from Qt's translations folder) into the
// application, whatever the user's locale. False when the file is missing or unreadable;
// the program's dialogs still name their buttons in Spanish through the functions below.
bool installSpanishTranslations(QCoreApplication& app);

// "Aceptar", "Cancelar", "Sí", "No", "Cerrar" on the standard buttons present.
void setSpanishButtonTexts(QDialogButtonBox* buttons);
void setSpanishButtonTexts(QMessageBox& box);
