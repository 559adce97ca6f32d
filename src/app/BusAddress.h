#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <utility>
#include <vector>

// Where the desktop's session bus listens.

// The session bus to talk to: DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus when that
// is a socket; "" when there is none. Nothing is ever started to provide one.
std::string sessionBusAddress(const std::string& addressVariable, const std::string& runtimeDir);
std::string sessionBusAddressFromEnvironment();

// The sockets of an address's "unix:path=" and "unix:abstract=" entries, in its order.
std::vector<std::pair<sockaddr_un, socklen_t>> busSockets(const std::string& address);
