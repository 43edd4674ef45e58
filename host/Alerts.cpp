#include "Alerts.h"

#include <AppKit/NSAlert.h>

#include <mutex>

namespace vxhost {

namespace {

std::mutex gMutex;
std::vector<std::string> gAlerts;

NSModalResponse onAlert(void*, const VXAlertInfo* alert) {
    std::string text = alert && alert->messageText ? alert->messageText : "";
    if (alert && alert->informativeText && alert->informativeText[0])
        text += std::string(" (") + alert->informativeText + ")";
    std::lock_guard<std::mutex> lock(gMutex);
    gAlerts.push_back(std::move(text));
    return NSAlertFirstButtonReturn;
}

} // namespace

void watchAlerts() {
    VXAlertSetHandler(&onAlert, nullptr);
    VXAlertSetEchoToStandardError(0);
}

std::vector<std::string> takeAlerts() {
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<std::string> taken;
    taken.swap(gAlerts);
    return taken;
}

} // namespace vxhost
