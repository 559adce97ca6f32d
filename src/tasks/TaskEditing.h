#pragma once

#include <string>

class Prompts;
class TaskList;

// The commands that edit the task list and the destination. Each returns true when it
// changed what the settings file holds, and the caller then saves it; checking rows does not
// count, as it is saved with the next save.

// Adds a folder the user picks as a new last row, checked, shown by its whole path.
bool addFolder(TaskList& tasks, Prompts& prompts);

// Removes the selected row (`selected`, -1 for none) after asking. With no selection the
// last row is selected first, and `selected` says so; the system rows are refused.
bool removeSelectedFolder(TaskList& tasks, int& selected, Prompts& prompts);

void checkAll(TaskList& tasks, bool checked);

// Lets the user pick the destination, the current one preselected (and made again first if
// it was deleted). `dirDestino` receives the folder as the picker gives it.
bool chooseDestination(std::string& dirDestino, Prompts& prompts);
