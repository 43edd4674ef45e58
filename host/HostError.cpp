#include "HostError.h"

#include <AudioUnit/AudioUnit.h>

#include <fmt/format.h>

namespace vxhost {

namespace {
const char* statusName(OSStatus status) {
    switch (status) {
    case kAudio_UnimplementedError:
        return "unimplemented";
    case kAudio_FileNotFoundError:
        return "file not found";
    case kAudio_ParamError:
        return "bad parameter";
    case kAudio_MemFullError:
        return "out of memory";
    case kAudioUnitErr_InvalidProperty:
        return "invalid property";
    case kAudioUnitErr_InvalidParameter:
        return "invalid parameter";
    case kAudioUnitErr_InvalidElement:
        return "invalid element";
    case kAudioUnitErr_NoConnection:
        return "no connection";
    case kAudioUnitErr_FailedInitialization:
        return "initialization failed";
    case kAudioUnitErr_TooManyFramesToProcess:
        return "too many frames to process";
    case kAudioUnitErr_FormatNotSupported:
        return "format not supported";
    case kAudioUnitErr_Uninitialized:
        return "uninitialized";
    case kAudioUnitErr_InvalidScope:
        return "invalid scope";
    case kAudioUnitErr_PropertyNotWritable:
        return "property not writable";
    case kAudioUnitErr_InvalidPropertyValue:
        return "invalid property value";
    case kAudioUnitErr_Initialized:
        return "initialized";
    case badComponentInstance:
        return "bad component instance";
    case badComponentSelector:
        return "unknown selector";
    default:
        return nullptr;
    }
}
} // namespace

std::string statusText(OSStatus status) {
    if (const char* name = statusName(status))
        return fmt::format("{} ({})", status, name);
    return fmt::format("{}", status);
}

void check(OSStatus status, const std::string& what) {
    if (status != 0)
        throw HostError(fmt::format("{}: status {}", what, statusText(status)));
}

} // namespace vxhost
