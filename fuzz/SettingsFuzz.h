// The settings script reader, fed a file's bytes: once through loadMemFile
// and once through loadScriptFromMem followed by parseScript. Both must agree;
// a document that loads must save, and the saved file must load back into
// the same tree.
#pragma once

#include <cstddef>
#include <cstdint>

namespace settingsfuzz {

// `scrambled`: the bytes are a scrambled file (the document's path holds
// ".esf"), so the reader unscrambles them first and the save scrambles again.
int run(const uint8_t* data, size_t size, bool scrambled);

} // namespace settingsfuzz
