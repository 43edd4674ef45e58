#include "NSVextra/SettingsEx.h"

#include "NSVextra/DbgSysOutput.h"

namespace NSVextra {

SettingsEx::SettingsEx() : Settings(), TimerMap("Settings") {}

// The TimerMap base is destroyed first and takes this object's timers with it.
SettingsEx::~SettingsEx() = default;

bool SettingsEx::commit_delayed() {
    if (checkTimer(kCommitTimerId)) {
        removeTimer(kCommitTimerId);
    }
    addTimer(kCommitTimerId, kCommitDelayMs, "commit");
    return true;
}

void SettingsEx::timerProc(int id) {
    if (id != kCommitTimerId) {
        return;
    }
    m_bModified = false;
    if (m_pGrpHeadNode != nullptr) {
        composeToScript();
    } else {
        DBG_ERROR(0, "m_pGrpHeadNode = null");
    }
    removeTimer(kCommitTimerId);
}

} // namespace NSVextra
