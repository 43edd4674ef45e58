// A settings document that can save itself a moment after the last change:
// commit_delayed (re)arms a 50 ms run-loop timer, so a burst of edits is
// written once. The save runs on the run loop of the thread that called
// commit_delayed; that thread must run its loop for it to happen.
#pragma once

#include "NSVextra/Settings.h"
#include "NSVextra/TimerMap.h"

namespace NSVextra {

class SettingsEx : public Settings, public TimerMap {
public:
    static constexpr int kCommitTimerId = 0;
    static constexpr int kCommitDelayMs = 50;

    SettingsEx();
    // Cancels a pending delayed save: it is dropped, not written.
    ~SettingsEx() override;

    // Pushes the save to 50 ms after this call. Always true.
    bool commit_delayed();

    // Writes the document once per arming (the registry's timers repeat, so
    // the timer is removed here).
    void timerProc(int id) override;
};

} // namespace NSVextra
