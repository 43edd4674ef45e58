// Records every alert while it exists instead of showing or echoing it, and
// answers each with `answer`. Shared by the loader, plug-in and fault tests.
#pragma once

#include <AppKit/NSAlert.h>

#include <string>
#include <vector>

namespace unithost {

struct RecordedAlert {
    std::string message, informative;
    std::vector<std::string> buttons;
};

class AlertRecorder {
public:
    AlertRecorder() {
        VXAlertSetEchoToStandardError(0);
        VXAlertSetHandler(record, this);
    }
    ~AlertRecorder() {
        VXAlertSetHandler(nullptr, nullptr);
        VXAlertSetEchoToStandardError(1);
    }
    AlertRecorder(const AlertRecorder&) = delete;

    std::vector<RecordedAlert> alerts;
    NSModalResponse answer = NSAlertFirstButtonReturn;

private:
    static NSModalResponse record(void* context, const VXAlertInfo* info) {
        auto* self = static_cast<AlertRecorder*>(context);
        RecordedAlert& alert = self->alerts.emplace_back();
        alert.message = info->messageText ? info->messageText : "";
        alert.informative = info->informativeText ? info->informativeText : "";
        alert.buttons.assign(info->buttonTitles, info->buttonTitles + info->buttonCount);
        return self->answer;
    }
};

} // namespace unithost
