#include <AppKit/NSAlert.h>

#include <cstdio>
#include <mutex>

namespace {

struct AlertState {
    std::mutex lock;
    VXAlertHandler handler = nullptr;
    void* context = nullptr;
    bool echo = true;
};

AlertState& state() {
    static AlertState s;
    return s;
}

} // namespace

extern "C" void VXAlertSetHandler(VXAlertHandler handler, void* context) {
    AlertState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.handler = handler;
    s.context = context;
}

extern "C" void VXAlertSetEchoToStandardError(int echo) {
    AlertState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.echo = echo != 0;
}

NSModalResponse NSAlert::runModal() {
    std::vector<const char*> titles;
    for (const std::string& b : mButtons)
        titles.push_back(b.c_str());
    if (titles.empty())
        titles.push_back("OK");

    VXAlertInfo info{mMessage.c_str(), mInformative.c_str(), titles.data(), titles.size(),
                     static_cast<int>(mStyle)};

    // One alert at a time, like a modal session; the handler runs under the
    // lock, so it must not raise an alert itself.
    AlertState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.echo) {
        std::fprintf(stderr, "ALERT: %s\n", info.messageText);
        if (!mInformative.empty())
            std::fprintf(stderr, "       %s\n", info.informativeText);
        std::fflush(stderr);
    }
    NSModalResponse response = NSAlertFirstButtonReturn;
    if (s.handler) {
        const NSModalResponse chosen = s.handler(s.context, &info);
        if (chosen >= NSAlertFirstButtonReturn &&
            chosen < NSAlertFirstButtonReturn + static_cast<NSModalResponse>(titles.size()))
            response = chosen;
    }
    return response;
}
