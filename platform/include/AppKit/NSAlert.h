// Modal alerts.
//
// This platform has no window server, so an alert is headless: running it
// writes the message and informative text to standard error and hands the
// alert to the handler a host may install (VXAlertSetHandler), which picks
// the button. Without a handler the default (first) button answers at once;
// an alert never blocks waiting for a user who cannot answer.
#pragma once

#include <VXExport.h>

#include <Foundation/NSObjCRuntime.h>

#include <stddef.h>

typedef NSInteger NSModalResponse;

enum {
    NSAlertFirstButtonReturn = 1000,
    NSAlertSecondButtonReturn = 1001,
    NSAlertThirdButtonReturn = 1002,
};

typedef enum {
    NSAlertStyleWarning = 0,
    NSAlertStyleInformational = 1,
    NSAlertStyleCritical = 2,
} NSAlertStyle;

#ifdef __cplusplus
extern "C" {
#endif

// What a handler is shown. Texts are UTF-8 and valid during the call only.
// buttonCount is at least 1: an alert without added buttons has its default
// "OK" button.
typedef struct VXAlertInfo {
    const char* messageText;
    const char* informativeText;
    const char* const* buttonTitles;
    size_t buttonCount;
    int style; // an NSAlertStyle
} VXAlertInfo;

// Answers with the response of the chosen button (NSAlertFirstButtonReturn +
// its index). Anything outside the alert's buttons counts as the first button.
typedef NSModalResponse (*VXAlertHandler)(void* context, const VXAlertInfo* alert);

// Installs the process-wide handler (null removes it). Alerts are
// serialised: the handler is never called twice at once.
VX_EXPORT void VXAlertSetHandler(VXAlertHandler handler, void* context);

// Turns the standard-error echo of alerts on (the default) or off.
VX_EXPORT void VXAlertSetEchoToStandardError(int echo);

#ifdef __cplusplus
}

#include <string>
#include <vector>

class VX_EXPORT NSAlert {
public:
    NSAlert() = default;

    void setMessageText(const char* text) { mMessage = text ? text : ""; }
    void setInformativeText(const char* text) { mInformative = text ? text : ""; }
    void setAlertStyle(NSAlertStyle style) { mStyle = style; }
    // Buttons answer NSAlertFirstButtonReturn, NSAlertSecondButtonReturn, ...
    // in the order they were added.
    void addButtonWithTitle(const char* title) { mButtons.emplace_back(title ? title : ""); }

    const std::string& messageText() const { return mMessage; }
    const std::string& informativeText() const { return mInformative; }
    NSAlertStyle alertStyle() const { return mStyle; }
    size_t buttonCount() const { return mButtons.size(); }

    // Shows the alert and answers the chosen button's response.
    NSModalResponse runModal();

private:
    std::string mMessage;
    std::string mInformative;
    std::vector<std::string> mButtons;
    NSAlertStyle mStyle = NSAlertStyleWarning;
};
#endif
