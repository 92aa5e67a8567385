#pragma once

// Who this machine is: its name and the stable identifier the interface keys its data on.

#include <string>
#include <string_view>

#include "platform/machine/machine_sources.h"

namespace nimbra {

// PRETTY_HOSTNAME from the text of /etc/machine-info (an environment-style file), with its
// shell quoting removed; "" when the key is absent. The last assignment wins, as when the
// file is sourced by a shell.
std::string prettyHostname(std::string_view machineInfo);

// The computer name: PRETTY_HOSTNAME of /etc/machine-info when set, else the host name; ""
// when both are empty.
std::string computerName(MachineSources& sources);

// The machine's UUID text: /etc/machine-id without surrounding white space, else that of
// /var/lib/dbus/machine-id; "" when both are missing or empty.
std::string hardwareUuid(MachineSources& sources);

// "mac-" and the first 40 lower-case hex digits of SHA-256("vexolan:" + uuidText). The format
// is shared with the interface's stored data: changing any part of it changes every
// machine's identifier.
std::string deviceIdentifierFor(const std::string& uuidText);

}  // namespace nimbra
