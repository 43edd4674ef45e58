// A test engine that shows the tests what the plug-in hands it: the buffer
// pointers of each IProcess, the host facts it reads back through the host
// link during processing, the state blocks it is given, and the host link
// itself so a test can act as the engine. Its behaviour (information record,
// ICreate's answer, state block) is set through the same control record
// before the plug-in creates it.
//
// A test opens the module itself first (the plug-in's later open of the same
// file shares the loaded image) and reaches the record with
// vxProbeControl().
#pragma once

#include <engine_api/IAudioPlugin.h>

#include <cstdint>
#include <vector>

struct ProbeFacts {
    double tempo = 0.0;
    double position = 0.0;
    bool playing = false;
    int renderMode = -1;
    float sampleRate = 0.0f;
    int blockSize = -1;
};

struct ProbeControl {
    // Behaviour.
    AudioPluginInfo info{3, true, 512};
    std::vector<uint8_t> stateBlock{1, 2, 3, 0, 255, 7};
    bool sizeGiven = false; // IGetStateSize answers stateSize, not the block's size
    int stateSize = 0;
    float gain = 0.5f; // IProcess writes in * gain to the outputs

    // What the plug-in did.
    IAudioHostLink* link = nullptr;
    int creates = 0;
    int destroys = 0;
    int prepares = 0;
    int resets = 0;
    int suspends = 0;
    int processCalls = 0;
    float* lastIn[2] = {nullptr, nullptr};
    float* lastOut[2] = {nullptr, nullptr};
    int lastFrames = -1;
    int lastReserved = -1;
    ProbeFacts lastFacts; // read through the link inside the last IProcess
    int loadCalls = 0;
    std::vector<uint8_t> loadedBlock;
    float params[3] = {0.1f, 0.2f, 0.3f};
};

using VxProbeControlFn = ProbeControl* (*)();
