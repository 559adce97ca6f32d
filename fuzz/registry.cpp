// Arbitrary bytes as a user.reg hive: parse it, then look up keys and values the program
// reads, including the whole store folder lookup with expansion and path mapping.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/StoreFolder.h"
#include "platform/EnvironmentStrings.h"
#include "platform/Errors.h"
#include "platform/WineRegistry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const WineRegistry registry =
      WineRegistry::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
  static const Environment environment({{"HOME", "/home/ana"}, {"X", "%X%"}}, "ana");

  const char* keys[] = {"",
                        "\\",
                        "K",
                        "\\K\\",
                        "a\\b",
                        "\\Software\\Microsoft\\Outlook Express",
                        "\\Identities",
                        "Software\\\\x"};
  const char* names[] = {"", "@", "v", "Store Root", "Default User ID"};
  for (const char* key : keys) {
    registry.hasKey(key);
    for (const char* name : names) {
      try {
        registry.valueType(key, name);
        registry.readString(key, name);
      } catch (const ResguardaError&) {
      }
    }
  }
  try {
    oe5_StoreFolder(registry, "/nonexistent-prefix", environment);
  } catch (const ResguardaError&) {
  }
  return 0;
}
