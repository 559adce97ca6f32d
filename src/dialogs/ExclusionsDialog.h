#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Prompts;
class QPlainTextEdit;

// "Excluir": the patterns of what the runs leave out, one a line, with a short explanation.
// Edits are saved through the callback a moment after typing stops and when the dialog
// closes; a text that cleans to the patterns last saved is not saved again, so opening and
// closing the dialog writes nothing.
class ExclusionsDialog : public QDialog {
  Q_OBJECT

 public:
  using SavePatterns = std::function<void(const std::vector<std::string>& patterns)>;

  // How long typing must pause before the patterns are saved.
  static constexpr int kSaveDelayMs = 400;

  // `patterns` are bytes, as the settings file holds them.
  ExclusionsDialog(const std::vector<std::string>& patterns, SavePatterns saver, Prompts& prompts,
                   QWidget* parent = nullptr);

  // The patterns of an edited text: one a line, trailing blanks and carriage returns cut,
  // empty lines dropped. A line that still reads as one of `original` keeps its bytes, so a
  // pattern that is not valid in the system's encoding survives edits of the other lines.
  static std::vector<std::string> patternLines(const QString& text,
                                               const std::vector<std::string>& original = {});

  // Saves the text now if it differs from what was last saved; false when the save failed
  // (the error box has been shown then).
  bool saveNow();

  void done(int result) override;

 private:
  bool save(bool reportFailure);

  SavePatterns save_;
  Prompts& prompts_;
  const std::vector<std::string> original_;
  std::vector<std::string> saved_;
  QPlainTextEdit* editor_;
  QTimer saveTimer_;
  // Set while saves keep failing, so typing does not raise one error box after another.
  bool failureShown_ = false;
  // The text whose save failed when closing: closing again with it closes (the user has been
  // told), any other text is tried again first.
  std::optional<QString> refusedClose_;
};
