#include "dialogs/SystemFacts.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <QLocale>
#include <charconv>
#include <string_view>

#include "platform/ReadWholeFile.h"

namespace {

constexpr std::size_t kMaxOsReleaseBytes = 64 * 1024;
constexpr std::size_t kMaxNameCharacters = 128;

// Reads a decimal number at the front of `text`; the text moves past it.
std::optional<int> takeNumber(std::string_view& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || value < 0) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

// A value as the shell would read it: in double quotes "\" escapes $ " \ and `; in single
// quotes nothing is special; bare, it ends at the first blank.
std::string unquote(std::string_view value) {
  std::string out;
  if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
    const char quote = value.front();
    for (std::size_t i = 1; i < value.size() && value[i] != quote; ++i) {
      if (quote == '"' && value[i] == '\\' && i + 1 < value.size() &&
          std::string_view("$\"\\`").find(value[i + 1]) != std::string_view::npos)
        ++i;
      out += value[i];
    }
    return out;
  }
  const std::size_t blank = value.find_first_of(" \t");
  return std::string(value.substr(0, blank));
}

// Control characters out, and no more than the limit of whole UTF-8 characters.
std::string displayable(const std::string& text) {
  std::string out;
  std::size_t characters = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) continue;
    if ((byte & 0xc0) != 0x80 && ++characters > kMaxNameCharacters) break;
    out += c;
  }
  return out;
}

}  // namespace

std::string platformText(const PlatformVersion& version) {
  std::string text =
      version.name + " " + std::to_string(version.major) + "." + std::to_string(version.minor);
  if (!version.build) return text;
  text += " (Build " + std::to_string(*version.build);
  if (!version.servicePack.empty()) text += ": " + version.servicePack;
  return text + ")";
}

PlatformVersion linuxPlatformVersion(const std::string& kernelRelease,
                                     const std::string& osRelease) {
  PlatformVersion version;
  version.name = "Linux";
  std::string_view text = kernelRelease;
  const std::optional<int> major = takeNumber(text);
  if (!major || !text.starts_with('.')) return version;
  text.remove_prefix(1);
  const std::optional<int> minor = takeNumber(text);
  if (!minor) return version;
  version.major = *major;
  version.minor = *minor;
  // "6.8" and "6.8-rc1" are patch level 0.
  int patch = 0;
  if (text.starts_with('.')) {
    text.remove_prefix(1);
    patch = takeNumber(text).value_or(0);
  }
  version.build = patch;
  version.servicePack = osReleaseName(osRelease);
  return version;
}

std::string osReleaseName(const std::string& osRelease) {
  std::optional<std::string> pretty;
  std::optional<std::string> name;
  std::size_t begin = 0;
  while (begin < osRelease.size()) {
    std::size_t end = osRelease.find('\n', begin);
    if (end == std::string::npos) end = osRelease.size();
    std::string_view line(osRelease.data() + begin, end - begin);
    begin = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with("PRETTY_NAME="))
      pretty = unquote(line.substr(12));
    else if (line.starts_with("NAME="))
      name = unquote(line.substr(5));
  }
  if (pretty && !displayable(*pretty).empty()) return displayable(*pretty);
  return name ? displayable(*name) : std::string();
}

const PlatformVersion& currentPlatformVersion() {
  static const PlatformVersion version = [] {
    utsname system{};
    const std::string release = ::uname(&system) == 0 ? system.release : "";
    std::optional<std::string> osRelease =
        readWholeFileIfReadable("/etc/os-release", kMaxOsReleaseBytes);
    if (!osRelease) osRelease = readWholeFileIfReadable("/usr/lib/os-release", kMaxOsReleaseBytes);
    return linuxPlatformVersion(release, osRelease.value_or(""));
  }();
  return version;
}

std::uint64_t totalPhysicalMemory() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return 0;
  const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
  const std::uint64_t total = info.totalram;
  // Saturate rather than wrap on a value no machine has.
  if (total > UINT64_MAX / unit) return UINT64_MAX;
  return total * unit;
}

QString memoryText(std::uint64_t bytes, const QLocale& locale) {
  const QString digits = QString::number(bytes >> 10);
  // Grouped by hand: the locale's own rules may leave four-digit numbers ungrouped.
  const QString separator = locale.groupSeparator();
  QString grouped;
  for (qsizetype i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += separator;
    grouped += digits[i];
  }
  return grouped + QStringLiteral(" KB");
}
