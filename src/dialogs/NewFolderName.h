#pragma once

#include <QString>
#include <optional>

class QWidget;

// Why a name cannot be given to a new folder, or "" when it can. The name is taken without
// the spaces around it.
QString newFolderNameProblem(const QString& name);

// Asks for the name of a new folder; nullopt when the user cancels. The answer is trimmed
// and valid.
std::optional<QString> askNewFolderName(QWidget* parent);
