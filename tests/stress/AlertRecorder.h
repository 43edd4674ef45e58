// Records every alert while it exists instead of showing or echoing it; each
// alert is answered with `answer`, the first button unless a test says
// otherwise. Shared by the loader, plug-in and fault tests.
#pragma once

#include <AppKit/NSAlert.h>

#include <string>
#include <vector>

namespace unithost {

struct RecordedAlert {
    std::string message;
    std::string informative;
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
    AlertRecorder& operator=(const AlertRecorder&) = delete;

    std::vector<RecordedAlert> alerts;
    NSModalResponse answer = NSAlertFirstButtonReturn;

private:
    static NSModalResponse record(void* context, const VXAlertInfo* info) {
        auto* self = static_cast<AlertRecorder*>(context);
        RecordedAlert alert{info->messageText ? info->messageText : "",
                            info->informativeText ? info->informativeText : "",
                            {}};
        for (size_t i = 0; i < info->buttonCount; ++i)
            alert.buttons.emplace_back(info->buttonTitles[i]);
        self->alerts.push_back(std::move(alert));
        return self->answer;
    }
};

} // namespace unithost
