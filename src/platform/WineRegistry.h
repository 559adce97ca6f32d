#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Read-only view of one Wine registry hive file (user.reg holds HKEY_CURRENT_USER).
//
// The file is a text file that starts with "WINE REGISTRY Version 2", then sections:
//   [Software\\Microsoft\\Outlook Express] 1600000000
//   #time=1d6f...
//   "Store Root"="C:\\users\\ana\\Correo\\"
//   "Mode"=dword:00000001
//   "Blob"=hex:01,02,03   (long data goes on over lines ending in a backslash)
//   @="the default value"
// Key paths and value names are matched without regard to (ASCII) case. The file is
// untrusted: anything that does not parse is skipped, and a file that is missing, has no
// header or is larger than kMaxHiveBytes reads as a hive without any key.
class WineRegistry {
 public:
  static constexpr std::size_t kMaxHiveBytes = 64u * 1024 * 1024;

  // An empty hive: every key and value is absent.
  WineRegistry() = default;

  static WineRegistry fromFile(const std::string& path);
  static WineRegistry fromBytes(std::string bytes);

  // True when the key is in the file, or is the parent of one that is. A leading "\" means
  // the root; "" and "\" are the root itself, present whenever a hive was read.
  bool hasKey(std::string_view keyPath) const;

  // A REG_SZ or REG_EXPAND_SZ value, up to its first NUL; no expansion of %NAME%. Absent when
  // the key or the value is missing. Any other type throws invalidDataType(valueName).
  // valueName "" is the key's default value (written @ in the file).
  std::optional<std::string> readString(std::string_view keyPath, std::string_view valueName) const;

  // Registry value types as Wine writes them (1 = REG_SZ, 2 = REG_EXPAND_SZ, 3 = REG_BINARY,
  // 4 = REG_DWORD, 7 = REG_MULTI_SZ...).
  std::optional<std::uint32_t> valueType(std::string_view keyPath,
                                         std::string_view valueName) const;

 private:
  // One section: its folded key path (no leading "\") and where its lines lie in bytes_.
  struct Section {
    std::string foldedPath;
    std::size_t begin;
    std::size_t end;
  };
  enum class Form { quoted, hex, dword };
  struct Found {
    std::uint32_t type;
    Form form;
    std::string_view data;  // the text between the quotes, the hex bytes or the dword digits
  };

  void index();
  std::optional<Found> find(std::string_view keyPath, std::string_view valueName) const;

  std::string bytes_;
  bool loaded_ = false;
  // Sorted by path, then by position; values are parsed only when asked for, so memory
  // stays a small multiple of the number of keys.
  std::vector<Section> sections_;
};
