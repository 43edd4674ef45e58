// Alerts a component shows (a headless modal alert on this platform) are
// caught by the host and reported with the command's own output, instead of
// being echoed to standard error as they happen.
#pragma once

#include <string>
#include <vector>

namespace vxhost {

// Installs the host's alert handler; every alert answers its default button.
void watchAlerts();
// The alerts shown since the last call, as "message (informative text)".
std::vector<std::string> takeAlerts();

} // namespace vxhost
