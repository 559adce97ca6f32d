#pragma once

// What copyExtendedAttributes could not carry over.
struct CopiedAttributes {
  // Every attribute a copy keeps reached the destination.
  bool allKept = true;
  // The source's access list could not be kept: the permission bits (0-7) of its owning
  // group's own entry, which the copy's group bits (the list's mask) must not exceed; -1
  // otherwise.
  int ownGroupBits = -1;
};

// Copies, from the open file or folder `from` to `to`, the extended attributes a copy keeps,
// as a careful archiver does: the user's own (user.*) and the POSIX access lists. Never
// security.* or trusted.*, which carry powers and labels that belong to the source file. Call it
// after the destination's mode is set: an access list then sets the group bits to its mask.
// `ownerWrites`: the copy's owner entry gets write permission, as the copy's mode does. One
// listing call for a file without attributes; nothing here fails the copy (a destination that
// cannot store attributes shows in the result).
CopiedAttributes copyExtendedAttributes(int from, int to, bool ownerWrites);
