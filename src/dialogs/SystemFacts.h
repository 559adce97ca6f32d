#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

class QLocale;

// What the About box tells of the machine: the platform and its version, and the memory.
struct PlatformVersion {
  std::string name;  // "Linux"
  int major = 0;
  int minor = 0;
  std::optional<int> build;  // the kernel's patch level; absent when unknown
  std::string servicePack;   // the distribution's name; may be empty
};

// "%s %d.%d" without a build; "%s %d.%d (Build %d)" with one; "%s %d.%d (Build %d: %s)"
// with a build and a service-pack text.
std::string platformText(const PlatformVersion& version);

// From the kernel's release ("6.1.0-18-amd64": 6.1, build 0) and the text of os-release
// (PRETTY_NAME, else NAME). A release that does not start with "major.minor" gives 0.0 and
// no build.
PlatformVersion linuxPlatformVersion(const std::string& kernelRelease,
                                     const std::string& osRelease);

// The distribution's name in an os-release text: PRETTY_NAME, else NAME, unquoted, without
// control characters and at most 128 characters long; "" when neither is there.
std::string osReleaseName(const std::string& osRelease);

// This machine's, read once per process (uname and /etc/os-release, else /usr/lib/os-release).
const PlatformVersion& currentPlatformVersion();

// The total physical memory in bytes; 0 when the system does not tell.
std::uint64_t totalPhysicalMemory();

// The memory as whole kilobytes in the pattern #,###" KB": the digits grouped in threes with
// the locale's thousands separator ("1.048.048 KB" under Spanish settings).
QString memoryText(std::uint64_t bytes, const QLocale& locale);
