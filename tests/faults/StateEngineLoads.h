// What the state-size test engines record of the ILoadState calls they get;
// the fault tests read it through the module's vxStateEngineLoads().
#pragma once

#include <atomic>

struct StateEngineLoads {
    std::atomic<int> count{0};
    std::atomic<int> lastSize{-12345};
    std::atomic<bool> lastDataNull{false};
};

using StateEngineLoadsFn = StateEngineLoads* (*)();
