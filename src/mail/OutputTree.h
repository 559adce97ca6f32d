#pragma once

#include <string>

#include "platform/UniqueFd.h"

// The export's two trees under the destination folder, "mensajes/" and "adjuntos/", each
// with one subfolder per mail folder. Folders are opened one level at a time relative to
// the one above and made when missing, so no link below the destination is ever followed:
// a link (or a file) standing where one of them belongs fails that folder. The destination
// itself may be reached through links, as the user chose it.
class OutputTree {
 public:
  // destination: the destination folder, with or without its trailing "/".
  explicit OutputTree(std::string destination);

  struct Folders {
    int messages;     // mensajes/<component>/
    int attachments;  // adjuntos/<component>/
  };

  // The two subfolders of a mail folder (component: its name made a path component), made
  // when missing; kept open until another component is asked for or closeFolder(). Throws
  // ResguardaError naming the folder that could not be opened or made.
  Folders open(const std::string& component);
  void closeFolder();

 private:
  // The folder `name` inside the open folder parent (whose path is parentPath, ending in
  // "/"), made when missing.
  UniqueFd openChild(int parent, const std::string& parentPath, const std::string& name);

  std::string destination_;
  std::string resolved_;  // the destination's real place, for the removable-disk guard
  UniqueFd destinationFd_;
  UniqueFd messagesFd_;
  UniqueFd attachmentsFd_;
  std::string component_;
  UniqueFd folderMessages_;
  UniqueFd folderAttachments_;
};
