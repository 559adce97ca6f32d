#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backup/CopyFiles.h"
#include "backup/DestinationFolders.h"
#include "backup/OwnerAccess.h"
#include "platform/DirectoryListing.h"
#include "platform/PseudoFileSystems.h"
#include "platform/UniqueFd.h"

class Exclusions;
struct MirrorTask;
struct RunContext;

// Every folder on the path keeps its source and destination descriptors open, so no path is
// ever looked up again by name (no length limit, no link swapped in meanwhile). Deeper trees
// fail visibly.
inline constexpr int kMaxDepth = 1024;
inline constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

// The walk of one task folder: its subfolders first, depth first, then its files, each
// copied into the matching destination folder by the update rule.
class MirrorWalk {
 public:
  MirrorWalk(const MirrorTask& task, RunContext& run);

  // `root` is the task folder, open, and `source` its path (ending in "/"); `destination`
  // its destination folder, whose first `rootLength` characters name the run's destination
  // folder, open as `destinationRoot`.
  void start(UniqueFd root, std::string source, std::string destination, std::size_t rootLength,
             UniqueFd destinationRoot);

 private:
  // A folder on the current path, from the task folder (level 0) down.
  struct Level {
    UniqueFd src;
    struct stat st {};
    std::size_t srcLength = 0;  // src_ ends at this folder
    // Below a link of another user (as root): whose rights everything here is read with.
    std::shared_ptr<const OwnerRights> owner;
  };

  // A source entry ready to be read: its status, and how it is reached.
  struct SourceFile {
    struct stat st {};
    bool link = false;  // reached through a link, which is followed
    UniqueFd opened;    // opened already with another user's rights
  };

  // What becomes of a file entry.
  enum class Verdict { Copy, Update, Current, Clash };
  struct Decision {
    Verdict verdict;
    struct stat found;  // what stands where its copy goes (st_mode 0: nothing)
    std::string clash;  // why it cannot go there, for Clash
  };

  // Folders (MirrorWalk.cpp).
  void walk(std::size_t depth);
  void subfolderPass(std::size_t depth, const DirectoryListing& listing);
  void enterSubfolder(std::size_t depth, const char* name, unsigned char type);
  // Opens a subfolder with the rights it is read with; not open when it is not one to walk.
  UniqueFd openSubfolder(std::size_t depth, const char* name, unsigned char type,
                         std::shared_ptr<const OwnerRights>& owner);
  // False for a folder that must not be walked: a cycle, the destination, a system view.
  bool mayEnter(std::size_t depth, const char* name, unsigned char type, int fd,
                const struct stat& st);
  void trimTo(std::size_t depth);
  bool isDestination(const struct stat& st) const;
  bool insideDestination(int fd) const;
  bool onPath(const struct stat& st) const;
  DirectoryListing& listingAt(std::size_t depth);
  std::shared_ptr<const OwnerRights> rightsOf(const struct stat& link);
  void failFolder(const std::string& folder, int err);
  void warnUnreadable(const std::string& path, bool linkOfAnother);

  // Files (MirrorFiles.cpp).
  void filePass(std::size_t depth, const DirectoryListing& listing);
  void handleFile(std::size_t depth, const char* name, unsigned char type);
  // The file to copy, or nothing when there is none (the failure, if any, already told).
  std::optional<SourceFile> openSource(std::size_t depth, const char* name, unsigned char type);
  void warnFutureDate(const char* name, const struct stat& st, time_t now);
  // The one place a file entry is decided.
  Decision decide(std::size_t depth, const char* name, const struct stat& source, time_t now);
  // The one place a copy is written, new or in place of the existing one; `repairing` a
  // copy found damaged, which is logged as such and never kept as a version.
  void copyInto(std::size_t depth, const char* name, const Decision& decision,
                const SourceFile& source, bool repairing = false);
  // Compares a current copy with its source, and copies it again when it differs.
  void checkCopy(std::size_t depth, const char* name, const Decision& decision,
                 const SourceFile& source);
  void countExamined();
  // True when the task's exclusions leave the entry `name` of the current folder out.
  bool excludes(const char* name, bool folder);
  // The path of `name` below the task folder ("a/b/name").
  const std::string& below(const char* name);

  const MirrorTask& task_;
  RunContext& run_;
  FileCopier copier_;
  const bool root_;
  PseudoFileSystems pseudo_;
  std::map<std::pair<uid_t, gid_t>, std::shared_ptr<const OwnerRights>> owners_;
  std::optional<DestinationFolders> dest_;  // from start() on
  std::string src_;                         // the folder being walked, ending in "/"
  std::string line_;
  const Exclusions* excluded_;  // null when nothing is left out
  std::string taskName_;        // the task folder's name in the destination
  std::string below_;
  std::deque<Level> levels_;  // references stay valid while deeper levels come and go
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
};
