#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A settings file with the rules of the classic private-profile functions: section and key
// names match without regard to (ASCII) case, values are read with the blanks around them
// removed (and without the double quotes that may enclose them), and updates change only the
// lines they must, keeping every other section, key, comment and line of the file as it
// was. A value written with blanks at its ends is quoted, so it reads back whole. The text
// is handled as bytes.
class IniFile {
 public:
  IniFile() = default;

  // Parses text (LF or CR LF line ends).
  static IniFile parse(std::string_view text);
  // Reads a file; a missing or unreadable file reads as empty.
  static IniFile load(const std::string& path);
  // Reads a file that is about to be replaced: a missing file reads as empty, but one that
  // is there and cannot be read throws "Unable to write to <path>", so that a save never
  // replaces what it could not see.
  static IniFile loadForUpdate(const std::string& path);

  // The value of key in section, trimmed; empty when either is missing.
  std::string value(std::string_view section, std::string_view key) const;
  // The entries of a section as (key, value) in file order; values trimmed.
  std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
  // The entries of every section of that name, one after another in file order.
  std::vector<std::pair<std::string, std::string>> allEntries(std::string_view section) const;

  // Replaces the value of an existing key in place, or adds the key at the end of its
  // section, or adds the section at the end of the file.
  void setValue(std::string_view section, std::string_view key, std::string_view value);
  // Removes a section with all its lines (every section of that name).
  void eraseSection(std::string_view section);
  // Puts one section with these entries where the first section of that name stood (at the
  // end when there was none), removing every other copy; no section when entries is empty.
  // Linear in the file's size, however many entries.
  void replaceSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries);

  std::string text() const;
  // Replaces the file as a whole: a new file is written beside it and renamed over it, so a
  // save that fails leaves the previous file intact. A file that may not be written (no
  // write permission for this user, or no write bit at all) is not replaced. Throws "Unable
  // to write to <path>".
  void save(const std::string& path) const;

 private:
  struct Line {
    std::string raw;
  };
  // The range of lines [header, end) of the first section with that name.
  bool findSection(std::string_view section, size_t& header, size_t& end) const;

  std::vector<Line> lines_;
  bool crlf_ = false;
  bool byteOrderMark_ = false;  // kept for the editor that wrote it
};
