// Watches the dynamic loader's close calls of the whole test program. At
// each close of a recording engine's module the engine's call log is read
// through the still-open handle, so a test sees everything the engine was
// asked up to the moment its module was closed.
#pragma once

#include <string>
#include <vector>

namespace plugtest {

struct ModuleClose {
    void* handle = nullptr;
    bool recordingEngine = false;
    std::string recordingLog; // one call per line, as of the close
};

// Every close since the last clear, in order.
std::vector<ModuleClose>& moduleCloses();

} // namespace plugtest
