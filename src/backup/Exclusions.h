#pragma once

#include <string>
#include <vector>

// The [EXCLUIR] patterns of the settings, ready to match. The walk builds one per run and
// asks, for every entry it lists, before it copies, enters or counts it:
//   if (exclusions.excludesFolder(name, below)) continue;   // or excludesFile
// `name` is the entry's name, `below` its path below the task folder ("a/b/name", no "/" at
// either end). `below` is only read by patterns that hold a "/", so when needsPath() is false
// the walk may pass "" and spare building it.
//
// A pattern without "/" matches the name of files and folders (fnmatch, case-sensitive, a
// leading "." matched like any character); one ending in "/" matches folders only; one with a
// "/" elsewhere matches the path below the task folder, "*" never crossing a "/"
// (FNM_PATHNAME). A leading "/" only anchors at the task folder, which a path pattern always
// is: "/build" and "build/x" match from the task folder down, never deeper. Blank patterns
// match nothing.
class Exclusions {
 public:
  Exclusions() = default;
  explicit Exclusions(const std::vector<std::string>& patterns);

  bool empty() const { return rules_.empty(); }
  bool needsPath() const { return needsPath_; }

  bool excludesFile(const char* name, const char* below) const {
    return matches(name, below, false);
  }
  bool excludesFolder(const char* name, const char* below) const {
    return matches(name, below, true);
  }
  bool excludesFile(const std::string& name, const std::string& below) const {
    return matches(name.c_str(), below.c_str(), false);
  }
  bool excludesFolder(const std::string& name, const std::string& below) const {
    return matches(name.c_str(), below.c_str(), true);
  }

 private:
  struct Rule {
    enum Kind {
      Exact,   // no wildcard: a plain comparison
      Prefix,  // no wildcard and then "*": the name's start ("~$*")
      Suffix,  // "*" and then no wildcard: the name's end ("*.tmp")
      Glob,    // fnmatch
    } kind;
    bool folderOnly;
    bool onPath;
    std::string text;   // the pattern; for Prefix and Suffix, what stands beside the "*"
    bool ascii = true;  // the pattern is ASCII
  };
  bool matches(const char* name, const char* below, bool folder) const;

  std::vector<Rule> rules_;
  bool needsPath_ = false;
};
