#pragma once

#include <string>

// Every question and message the program puts to the user goes through here, so commands
// can be exercised without modal dialogs.
class Prompts {
 public:
  virtual ~Prompts() = default;

  // A folder chooser; `folder` is the preselection in and the chosen folder out.
  virtual bool pickFolder(std::string& folder, const std::string& text) = 0;
  // An "AVISO" box with an OK button.
  virtual void warning(const std::string& text) = 0;
  // An "AVISO" box with OK (default) and Cancel; true for OK.
  virtual bool question(const std::string& text) = 0;
  // The standard error box, titled "Resguarda".
  virtual void error(const std::string& text) = 0;
};
