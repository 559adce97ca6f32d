#pragma once

#include <string>

class QPoint;
class QRect;
class QWidget;

// The modal folder chooser: `folder` is the folder to preselect on entry (may be empty) and,
// when the user confirms, the chosen folder's full path on return, without a trailing "/"
// (except for the root). A cancelled choice leaves `folder` exactly as it was.
// `helpContext` is kept for the callers' sake; no help is offered.
bool PickFolder(std::string& folder, const std::string& text, int helpContext = 0,
                QWidget* parent = nullptr);

// One trailing "/" removed, except from the root "/" itself.
std::string StripTrailingBackslash(const std::string& path);

// True when the path names a folder, or a link to one, that this process can see.
bool IsExistingFolder(const std::string& path);

// Where a window of the given frame goes to be centred on the screen: halfway, then pulled
// back onto the screen, right and bottom edges first, so a window larger than the screen
// keeps its top-left corner at the screen's.
QPoint CenterOnScreen(const QRect& window, const QRect& screen);
// Moves the window there, on its parent's screen (else the primary one), without resizing it.
void CenterOnScreen(QWidget* window);
