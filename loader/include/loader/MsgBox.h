// User-facing alerts of the plug-in.
//
// Every alert shows the text it is given as its message and the caption store
// as its informative text. The caption is set once per instance construction
// (from the product name), before any alert of that construction.
#pragma once

#include <cstddef>

namespace NSVextra {

constexpr std::size_t kMsgBoxCaptionSize = 200;

// The caption of every later alert. Longer captions are cut to the first
// kMsgBoxCaptionSize - 1 characters so the terminator always fits.
extern char g_szMsgBoxCaption[kMsgBoxCaptionSize];

void SET_MSG_BOX_CAPTION(const char* text);

// Runs one modal alert. Type 1 asks with the buttons "No" and "Yes" and
// answers 2 for "No" and 1 otherwise; any other type shows only the default
// button and answers 0.
int SHOW_MSG_BOX(const char* text, int type);

} // namespace NSVextra
