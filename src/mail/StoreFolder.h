#pragma once

#include <string>

class Environment;
class WineRegistry;

// The current user's mail store folder, or "" when none is configured: "Store Root" under
// \Software\Microsoft\Outlook Express, else under the default identity's
// \Identities\<id>\Software\Microsoft\Outlook Express\5.0; %NAME% references expanded, then
// turned into a Linux path through the Wine prefix. A trailing separator is kept or left out
// as stored. A "Store Root" or "Default User ID" of a non-string type throws
// invalidDataType.
std::string oe5_StoreFolder(const WineRegistry& registry, const std::string& prefix,
                            const Environment& environment);

// The same, from the hive of the prefix the environment names ($WINEPREFIX, ~/.wine).
std::string oe5_StoreFolder();
