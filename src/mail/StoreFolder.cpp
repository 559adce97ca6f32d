#include "mail/StoreFolder.h"

#include <sys/stat.h>

#include <memory>
#include <mutex>

#include "platform/EnvironmentStrings.h"
#include "platform/WinePaths.h"
#include "platform/WineRegistry.h"

namespace {

std::string readValue(const WineRegistry& registry, const std::string& key,
                      const std::string& name) {
  return registry.readString(key, name).value_or(std::string());
}

// The hive as last read, kept while the file stays the same: the DBX reader asks for the
// store folder for every message it reads, and a hive can be megabytes long.
struct HiveCache {
  std::mutex mutex;
  std::string path;
  struct stat identity {};
  bool present = false;
  std::shared_ptr<const WineRegistry> registry;
};

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::shared_ptr<const WineRegistry> loadHive(const std::string& path) {
  static HiveCache cache;
  struct stat now {};
  const bool present = ::stat(path.c_str(), &now) == 0;
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.registry && cache.path == path && cache.present == present &&
      (!present || sameFile(cache.identity, now))) {
    return cache.registry;
  }
  cache.registry = std::make_shared<const WineRegistry>(WineRegistry::fromFile(path));
  cache.path = path;
  cache.present = present;
  cache.identity = now;
  return cache.registry;
}

}  // namespace

std::string oe5_StoreFolder(const WineRegistry& registry, const std::string& prefix,
                            const Environment& environment) {
  std::string result = readValue(registry, "\\Software\\Microsoft\\Outlook Express", "Store Root");
  if (result.empty() && registry.hasKey("\\Identities")) {
    const std::string identity = readValue(registry, "\\Identities", "Default User ID");
    const std::string key =
        "\\Identities\\" + identity + "\\Software\\Microsoft\\Outlook Express\\5.0";
    if (registry.hasKey(key)) result = readValue(registry, key, "Store Root");
  }
  if (result.empty()) return {};
  const std::string expanded = expandEnvironmentStrings(result, environment).value_or(result);
  return windowsToLinuxPath(expanded, prefix);
}

std::string oe5_StoreFolder() {
  const std::string prefix = winePrefix();
  if (prefix.empty()) return {};
  const std::shared_ptr<const WineRegistry> registry = loadHive(wineUserHive(prefix));
  return oe5_StoreFolder(*registry, prefix, Environment::fromProcess());
}
