#include "loader/MsgBox.h"

#include <AppKit/NSAlert.h>

#include <cstring>

namespace NSVextra {

char g_szMsgBoxCaption[kMsgBoxCaptionSize] = {};

void SET_MSG_BOX_CAPTION(const char* text) {
    std::memset(g_szMsgBoxCaption, 0, sizeof g_szMsgBoxCaption);
    if (text)
        std::strncpy(g_szMsgBoxCaption, text, sizeof g_szMsgBoxCaption - 1);
}

int SHOW_MSG_BOX(const char* text, int type) {
    NSAlert alert;
    alert.setMessageText(text);
    alert.setInformativeText(g_szMsgBoxCaption);
    if (type == 1) {
        alert.addButtonWithTitle("No");
        alert.addButtonWithTitle("Yes");
        return alert.runModal() == NSAlertFirstButtonReturn ? 2 : 1;
    }
    alert.runModal();
    return 0;
}

} // namespace NSVextra
