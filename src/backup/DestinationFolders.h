#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_set>

#include "platform/DirectoryListing.h"
#include "platform/UniqueFd.h"

class ResguardaError;

// The destination side of one task's walk: for each folder on the walk's current path, the
// folder its files go to. Each is opened once, and made only when a file first goes into it,
// so an empty source folder leaves nothing behind. On a disk that does not tell names apart
// by case, a name that would land on another one's copy or folder is refused here, so that
// two sources never share one copy.
class DestinationFolders {
 public:
  // `root` is the run's destination folder, open (or not, when it could not be opened);
  // `taskFolder` the task folder's destination folder (ending in "/"), whose first
  // `rootLength` characters name `root`; `source` the task folder, whose permissions the
  // made folder takes.
  DestinationFolders(UniqueFd root, std::string taskFolder, std::size_t rootLength,
                     const struct stat& source);

  // The deepest level's destination folder, ending in "/".
  const std::string& path() const { return path_; }

  // One level down, for the source subfolder `name` (whose permissions its copy takes).
  void enter(const char* name, const struct stat& source);
  // Back up to level `depth` (0 = the task folder).
  void leaveTo(std::size_t depth);

  // What stands where the copy of `name` goes in level `depth`'s folder (st_mode 0: nothing,
  // or the folder itself is not there yet).
  struct stat existing(std::size_t depth, const char* name);
  // The reason an entry existing() found cannot be taken for `name`'s copy: on a disk that
  // folds case it may be another name's. Nothing when it is `name`'s own.
  std::optional<std::string> clashOf(std::size_t depth, const char* name);

  // The folder the copy of `name` goes into, made if need be. Throws "Unable to write to"
  // naming the copy (logged under the source, in `sourceFolder`, when a name clashes).
  int folderFor(std::size_t depth, const char* name, const std::string& sourceFolder);
  // A copy of `name` has just been placed in level `depth`'s folder.
  void placed(std::size_t depth, const char* name);

 private:
  enum class State { Unknown, Missing, Made, Present, Failed };
  // Whether names in a folder may differ from what the folder lists (a disk that folds case
  // finds Informe.txt under INFORME.txt).
  enum class Case { Unknown, Exact, Folded };

  struct Level {
    std::size_t length = 0;  // path_ ends at this folder
    struct stat source {};
    UniqueFd fd;  // once opened or made
    State state = State::Unknown;
    int error = 0;  // why the folder cannot be had
    const char* reason = nullptr;
    std::string clash;  // or: its name folds onto another one's, or is refused (the reason)
    Case names = Case::Unknown;
    bool listed = false;
    std::unordered_set<std::string> present;  // exact names in the folder, when Folded
  };

  // Level `depth`'s folder: -1 when it is missing (and not `create`) or cannot be had (the
  // level says why).
  int open(std::size_t depth, bool create);
  // The folder level `depth`'s components start from, -1 when it is not there.
  int parentOf(std::size_t depth, bool create);
  // Opens (or makes) level `depth`'s components one by one below `parent`.
  int openComponents(std::size_t depth, int parent, bool create);
  // False, with the level failed, when a made or found subfolder's name folds onto another.
  bool keepsOwnName(std::size_t depth, bool made);
  Case caseOf(Level& level);
  bool hasExactName(Level& level, const std::string& name);
  static std::string foldedName(const Level& level, const std::string& name);
  static int failLevel(Level& level, int err);

  UniqueFd root_;
  std::size_t rootLength_;
  std::string path_;
  std::string name_;
  std::deque<Level> levels_;  // references stay valid while deeper levels come and go
  DirectoryListing names_;    // a folder's names, when its disk folds case
};
