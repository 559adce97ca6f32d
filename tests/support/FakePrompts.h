#pragma once

#include <deque>
#include <string>
#include <vector>

#include "tasks/Prompts.h"

// Answers the window's questions from a script and records what it was told.
class FakePrompts : public Prompts {
 public:
  std::deque<std::string> folders;  // answers of pickFolder; none left = cancel
  bool answer = true;               // answer of question
  std::vector<std::string> picked;  // the text of every folder chooser opened
  std::vector<std::string> warnings, questions, errors;

  bool pickFolder(std::string& folder, const std::string& text) override {
    picked.push_back(text + " @" + folder);
    if (folders.empty()) return false;
    folder = folders.front();
    folders.pop_front();
    return true;
  }
  void warning(const std::string& text) override { warnings.push_back(text); }
  bool question(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  void error(const std::string& text) override { errors.push_back(text); }
};
