#include "app/StartupOptions.h"

#include "platform/Environment.h"
#include "platform/PathText.h"

namespace {

bool isSet(const char* name) {
  return !environmentValue(name).empty();
}

}  // namespace

StartupOptions StartupOptions::fromArguments(const std::vector<std::string>& arguments) {
  StartupOptions options;
  options.CerrarAlTerminar = arguments.size() == 1;
  options.Oculto = options.CerrarAlTerminar && asciiLower(arguments[0]) == "-hide";
  return options;
}

bool hasDisplay() {
  return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}
