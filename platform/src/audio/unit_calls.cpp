// The Audio Unit calls a host makes, carried to the unit exactly as the
// platform carries them. The runtime itself only refuses what it could not
// hand on safely (a null unit, a handle that is no open instance, a missing
// pointer the call cannot do without); everything else is the unit's answer.

#include "unit_dispatch.h"

using namespace vxplatform;

#define VX_INSTANCE_OR_FAIL(var, unit)                                                             \
    HostInstance* var = liveInstance(unit);                                                        \
    if (!var)                                                                                      \
    return badInstanceStatus(unit)

extern "C" VX_EXPORT OSStatus AudioUnitInitialize(AudioUnit inUnit) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitInitializeSelect);
}

extern "C" VX_EXPORT OSStatus AudioUnitUninitialize(AudioUnit inUnit) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitUninitializeSelect);
}

extern "C" VX_EXPORT OSStatus AudioUnitGetPropertyInfo(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                       AudioUnitScope inScope,
                                                       AudioUnitElement inElement,
                                                       UInt32* outDataSize, Boolean* outWritable) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitGetPropertyInfoSelect, inID, inScope, inElement, outDataSize,
                        outWritable);
}

extern "C" VX_EXPORT OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                   AudioUnitScope inScope,
                                                   AudioUnitElement inElement, void* outData,
                                                   UInt32* ioDataSize) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    if (!ioDataSize)
        return paramErr;
    return dispatchCall(r, kAudioUnitGetPropertySelect, inID, inScope, inElement, outData,
                        ioDataSize);
}

extern "C" VX_EXPORT OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                   AudioUnitScope inScope,
                                                   AudioUnitElement inElement, const void* inData,
                                                   UInt32 inDataSize) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitSetPropertySelect, inID, inScope, inElement, inData,
                        inDataSize);
}

extern "C" VX_EXPORT OSStatus AudioUnitAddPropertyListener(AudioUnit inUnit,
                                                           AudioUnitPropertyID inID,
                                                           AudioUnitPropertyListenerProc inProc,
                                                           void* inProcUserData) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    if (!inProc)
        return paramErr; // a unit would call it on the next change
    return dispatchCall(r, kAudioUnitAddPropertyListenerSelect, inID, inProc, inProcUserData);
}

extern "C" VX_EXPORT OSStatus AudioUnitRemovePropertyListener(
    AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitPropertyListenerProc inProc) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitRemovePropertyListenerSelect, inID, inProc);
}

extern "C" VX_EXPORT OSStatus AudioUnitRemovePropertyListenerWithUserData(
    AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitPropertyListenerProc inProc,
    void* inProcUserData) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitRemovePropertyListenerWithUserDataSelect, inID, inProc,
                        inProcUserData);
}

extern "C" VX_EXPORT OSStatus AudioUnitAddRenderNotify(AudioUnit inUnit, AURenderCallback inProc,
                                                       void* inProcUserData) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitAddRenderNotifySelect, inProc, inProcUserData);
}

extern "C" VX_EXPORT OSStatus AudioUnitRemoveRenderNotify(AudioUnit inUnit, AURenderCallback inProc,
                                                          void* inProcUserData) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitRemoveRenderNotifySelect, inProc, inProcUserData);
}

extern "C" VX_EXPORT OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID,
                                                    AudioUnitScope inScope,
                                                    AudioUnitElement inElement,
                                                    AudioUnitParameterValue* outValue) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    if (!outValue)
        return paramErr;
    return dispatchCall(r, kAudioUnitGetParameterSelect, inID, inScope, inElement, outValue);
}

extern "C" VX_EXPORT OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID,
                                                    AudioUnitScope inScope,
                                                    AudioUnitElement inElement,
                                                    AudioUnitParameterValue inValue,
                                                    UInt32 inBufferOffsetInFrames) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitSetParameterSelect, inID, inScope, inElement, inValue,
                        inBufferOffsetInFrames);
}

extern "C" VX_EXPORT OSStatus AudioUnitScheduleParameters(AudioUnit inUnit,
                                                          const AudioUnitParameterEvent* inEvents,
                                                          UInt32 inNumParamEvents) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    if (!inEvents && inNumParamEvents > 0)
        return paramErr;
    return dispatchCall(r, kAudioUnitScheduleParametersSelect, inEvents, inNumParamEvents);
}

namespace {

// Render calls that have no method found at open: the Component Manager
// entry, or a plug-in without a render method (the dispatch answers for it).
// Out of line, so that the common render call needs no stack frame.
[[gnu::noinline]] OSStatus renderThroughDispatch(HostInstance* r,
                                                 AudioUnitRenderActionFlags* ioActionFlags,
                                                 const AudioTimeStamp* inTimeStamp,
                                                 UInt32 inOutputBusNumber, UInt32 inNumberFrames,
                                                 AudioBufferList* ioData) {
    return dispatchCall(r, kAudioUnitRenderSelect, ioActionFlags, inTimeStamp, inOutputBusNumber,
                        inNumberFrames, ioData);
}

} // namespace

extern "C" VX_EXPORT OSStatus AudioUnitRender(AudioUnit inUnit,
                                              AudioUnitRenderActionFlags* ioActionFlags,
                                              const AudioTimeStamp* inTimeStamp,
                                              UInt32 inOutputBusNumber, UInt32 inNumberFrames,
                                              AudioBufferList* ioData) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    if (!inTimeStamp || !ioData)
        return paramErr;
    if (AudioComponentMethod method = r->plugIn ? r->renderMethod : nullptr) {
        using RenderMethod = OSStatus (*)(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                          UInt32, UInt32, AudioBufferList*);
        return reinterpret_cast<RenderMethod>(method)(r->plugIn, ioActionFlags, inTimeStamp,
                                                      inOutputBusNumber, inNumberFrames, ioData);
    }
    return renderThroughDispatch(r, ioActionFlags, inTimeStamp, inOutputBusNumber, inNumberFrames,
                                 ioData);
}

extern "C" VX_EXPORT OSStatus AudioUnitProcess(AudioUnit inUnit,
                                               AudioUnitRenderActionFlags* ioActionFlags,
                                               const AudioTimeStamp* inTimeStamp,
                                               UInt32 inNumberFrames, AudioBufferList* ioData) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitProcessSelect, ioActionFlags, inTimeStamp, inNumberFrames,
                        ioData);
}

extern "C" VX_EXPORT OSStatus AudioUnitProcessMultiple(
    AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags, const AudioTimeStamp* inTimeStamp,
    UInt32 inNumberFrames, UInt32 inNumberInputBufferLists,
    const AudioBufferList** inInputBufferLists, UInt32 inNumberOutputBufferLists,
    AudioBufferList** ioOutputBufferLists) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitProcessMultipleSelect, ioActionFlags, inTimeStamp,
                        inNumberFrames, inNumberInputBufferLists, inInputBufferLists,
                        inNumberOutputBufferLists, ioOutputBufferLists);
}

extern "C" VX_EXPORT OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope,
                                             AudioUnitElement inElement) {
    VX_INSTANCE_OR_FAIL(r, inUnit);
    return dispatchCall(r, kAudioUnitResetSelect, inScope, inElement);
}
