// The audio-thread side of AUBase: the render, process and multi-bus process
// entries, render notifications, scheduled parameters and the slicing of a
// cycle at their boundaries.
//
// Nothing below an entry point allocates or locks once warm: notification
// nodes are recycled by TThreadSafeList, the scheduled-event vector keeps its
// capacity, and errors are only recorded and announced.
#include <aufw/AUBase.h>

#include <aufw/CAException.h>

#include <algorithm>
#include <atomic>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define AUFW_HAS_MXCSR 1
#endif

namespace {

constexpr OSStatus kParamErr = -50;
constexpr OSStatus kUnknownError = -1;

// The processor's flush-to-zero and denormals-are-zero modes for the length
// of one entry call: denormal arithmetic in filters and feedback paths can
// cost a hundred times the normal speed. The saved control word comes back
// on every way out.
//
// Writing the control word stalls the pipeline, and hosts commonly run their
// audio threads with both modes on already; then the word is left as it is
// on entry. On the way out it is read back and written only when it differs
// from the caller's: whatever ran inside may have changed it, and when
// nothing did, the caller's word is already in place.
class DenormalModeScope {
public:
#if defined(AUFW_HAS_MXCSR)
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    static constexpr unsigned kBothModes = kFlushToZero | kDenormalsAreZero;
    DenormalModeScope() noexcept : mSaved(_mm_getcsr()) {
        if ((mSaved & kBothModes) != kBothModes) {
            _mm_setcsr(mSaved | kBothModes);
        }
    }
    ~DenormalModeScope() {
        if (_mm_getcsr() != mSaved) {
            _mm_setcsr(mSaved);
        }
    }

private:
    unsigned mSaved;
#else
    DenormalModeScope() noexcept = default;
#endif
public:
    DenormalModeScope(const DenormalModeScope&) = delete;
    DenormalModeScope& operator=(const DenormalModeScope&) = delete;
};

// The status carried by the exception being handled: a bare 32- or 16-bit
// status or a CAXException; anything else is -1. Must be called from a
// handler.
OSStatus StatusOfCurrentException() noexcept {
    try {
        throw;
    } catch (OSStatus err) {
        return err;
    } catch (SInt16 err) {
        return err;
    } catch (const CAXException& e) {
        return e.GetOSStatus();
    } catch (...) {
        return kUnknownError;
    }
}

// The bytes nFrames take in one buffer of the format, saturated so that an
// absurd format cannot wrap into a small size.
UInt32 NeededBytes(UInt32 bytesPerFrame, UInt32 nFrames) {
    const UInt64 bytes = UInt64(nFrames) * bytesPerFrame;
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : UInt32(bytes);
}

// Checks a list that the unit writes into: it must hold one buffer per
// stream of the format (one per channel for non-interleaved linear PCM,
// else one). Buffers with data must hold the frames and are given exactly
// their size; buffers without data are the caller's request for the unit's
// own memory and are left alone.
OSStatus CheckOutputList(const AUBufferList::Layout& layout, AudioBufferList& ioData,
                         UInt32 nFrames) {
    if (ioData.mNumberBuffers != layout.streams) {
        return kParamErr;
    }
    const UInt32 needed = NeededBytes(layout.bytesPerFrame, nFrames);
    const auto fits = [needed](AudioBuffer& buffer) {
        if (buffer.mData != nullptr) {
            if (buffer.mDataByteSize < needed) {
                return false;
            }
            buffer.mDataByteSize = needed;
        }
        return true;
    };
    if (layout.streams == 2) {
        // Stereo, spelled out: this runs on every render.
        return fits(ioData.mBuffers[0]) && fits(ioData.mBuffers[1]) ? noErr : kParamErr;
    }
    for (UInt32 i = 0; i < ioData.mNumberBuffers; ++i) {
        if (!fits(ioData.mBuffers[i])) {
            return kParamErr;
        }
    }
    return noErr;
}

// Checks a list that the unit only reads: every buffer must have data and
// hold the frames. Sizes are not rewritten.
OSStatus CheckInputList(const AUBufferList::Layout& layout, const AudioBufferList& inData,
                        UInt32 nFrames) {
    if (inData.mNumberBuffers != layout.streams) {
        return kParamErr;
    }
    const UInt32 needed = NeededBytes(layout.bytesPerFrame, nFrames);
    for (UInt32 i = 0; i < inData.mNumberBuffers; ++i) {
        const AudioBuffer& buffer = inData.mBuffers[i];
        if (buffer.mData == nullptr || buffer.mDataByteSize < needed) {
            return kParamErr;
        }
    }
    return noErr;
}

// A cycle for this time stamp was rendered already. A sample time that is
// not a number never compares equal, so it always renders.
bool SameSampleTime(const AudioTimeStamp& a, const RelaxedTimeStamp& b) {
    return a.mSampleTime == b.sampleTime();
}

// The event's offset: the ramp's signed start and the immediate offset share
// these four bytes.
SInt32 EventOffset(const AudioUnitParameterEvent& event) {
    return event.eventValues.ramp.startBufferOffset;
}

// Offset plus duration in 32-bit arithmetic, wrapping as the event's fields
// do.
UInt32 EventEnd(const AudioUnitParameterEvent& event) {
    return UInt32(event.eventValues.ramp.startBufferOffset) +
           event.eventValues.ramp.durationInFrames;
}

} // namespace

// ---------------------------------------------------------------------------
// Recording errors

void AUBase::SetLastRenderError(OSStatus inErr) {
    // An error the host has not read yet is the one it wants to see.
    if (inErr != noErr && mLastRenderError == noErr) {
        mLastRenderError = inErr;
        PropertyChanged(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0);
    }
}

// ---------------------------------------------------------------------------
// Render

// Inlined into DoRender, its only caller: one call less on every cycle.
[[gnu::always_inline]] inline OSStatus
AUBase::DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                    UInt32 inBusNumber, AUOutputElement* theOutput, UInt32 inNumberFrames,
                    AudioBufferList& ioData) {
    const bool callerWantsOurMemory =
        ioData.mNumberBuffers == 0 || ioData.mBuffers[0].mData == nullptr;
    AUBufferList& ownBuffer = theOutput->IOBuffer();
    if (callerWantsOurMemory ||
        (theOutput->WillAllocateBuffer() && Outputs().GetNumberOfElements() > 1)) {
        // A host that said it supplies the memory must supply it.
        if (!theOutput->WillAllocateBuffer()) {
            throw OSStatus(kAudioUnitErr_InvalidPropertyValue);
        }
        theOutput->PrepareBuffer(inNumberFrames);
    } else {
        ownBuffer.SetBufferList(ioData);
    }

    const OSStatus result = RenderBus(ioActionFlags, inTimeStamp, inBusNumber, inNumberFrames);
    if (result != noErr) {
        return result;
    }
    if (callerWantsOurMemory) {
        ownBuffer.CopyBufferListTo(ioData);
    } else {
        ownBuffer.CopyBufferContentsTo(ioData);
        ownBuffer.InvalidateBufferList();
    }
    return noErr;
}

OSStatus AUBase::DoRender(AudioUnitRenderActionFlags& ioActionFlags,
                          const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                          UInt32 inNumberFrames, AudioBufferList& ioData) {
    const DenormalModeScope denormalMode;
    OSStatus theError = noErr;
    try {
        AUOutputElement* output = nullptr;
        if (!mInitialized.load(std::memory_order_acquire)) {
            theError = kAudioUnitErr_Uninitialized;
        } else if (inNumberFrames > mMaxFramesPerSlice) {
            theError = kAudioUnitErr_TooManyFramesToProcess;
        } else {
            // Output element 0 was found when the unit initialized.
            output = inBusNumber == 0 ? mRenderOutput.load(std::memory_order_relaxed) : nullptr;
            if (output == nullptr) {
                output = GetOutput(inBusNumber);
            }
            theError = output == nullptr
                           ? OSStatus(kAudioUnitErr_InvalidElement)
                           : CheckOutputList(output->GetBufferLayout(), ioData, inNumberFrames);
        }
        if (theError != noErr) {
            SetLastRenderError(theError);
            return theError;
        }

        // Read once: a notification posted during this call waits for the
        // next one, and the lists of this call stay as they are.
        const bool notify = RenderCallbacksTouched();
        if (!notify) {
            // The common case on its own: without notifications nothing but
            // the status is needed after the bus has rendered.
            theError = DoRenderBus(ioActionFlags, inTimeStamp, inBusNumber, output, inNumberFrames,
                                   ioData);
            if (theError != noErr) {
                SetLastRenderError(theError);
            }
            // Scheduled events belong to one cycle; most cycles have none.
            if (!mParamList.empty()) {
                mParamList.clear();
            }
            return theError;
        }

        mRenderCallbacks.update();
        AudioUnitRenderActionFlags preFlags = ioActionFlags | kAudioUnitRenderAction_PreRender;
        for (const RenderCallback& rc : mRenderCallbacks) {
            (*rc.mRenderNotify)(rc.mRenderNotifyRefCon, &preFlags, &inTimeStamp, inBusNumber,
                                inNumberFrames, &ioData);
        }

        theError =
            DoRenderBus(ioActionFlags, inTimeStamp, inBusNumber, output, inNumberFrames, ioData);

        AudioUnitRenderActionFlags postFlags = ioActionFlags | kAudioUnitRenderAction_PostRender;
        if (theError != noErr) {
            SetLastRenderError(theError);
            postFlags |= kAudioUnitRenderAction_PostRenderError;
        }
        for (const RenderCallback& rc : mRenderCallbacks) {
            (*rc.mRenderNotify)(rc.mRenderNotifyRefCon, &postFlags, &inTimeStamp, inBusNumber,
                                inNumberFrames, &ioData);
        }
        // Scheduled events belong to one cycle.
        mParamList.clear();
    } catch (...) {
        theError = StatusOfCurrentException();
        SetLastRenderError(theError);
    }
    return theError;
}

OSStatus AUBase::RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                           const AudioTimeStamp& inTimeStamp, UInt32 /*inBusNumber*/,
                           UInt32 inNumberFrames) {
    // Several outputs, or several callers of one output, may ask for the
    // same cycle; it is rendered once.
    if (SameSampleTime(inTimeStamp, mCurrentRenderTime)) {
        return noErr;
    }
    mCurrentRenderTime.store(inTimeStamp);
    return Render(ioActionFlags, inTimeStamp, inNumberFrames);
}

// ---------------------------------------------------------------------------
// Process

OSStatus AUBase::DoProcess(AudioUnitRenderActionFlags& ioActionFlags,
                           const AudioTimeStamp& inTimeStamp, UInt32 inFramesToProcess,
                           AudioBufferList& ioData) {
    const DenormalModeScope denormalMode;
    OSStatus theError = noErr;
    try {
        if ((ioActionFlags & kAudioUnitRenderAction_DoNotCheckRenderArgs) == 0) {
            if (!IsInitialized()) {
                theError = kAudioUnitErr_Uninitialized;
            } else if (inFramesToProcess > mMaxFramesPerSlice) {
                theError = kAudioUnitErr_TooManyFramesToProcess;
            } else {
                AUInputElement* input = GetInput(0);
                theError = input == nullptr ? OSStatus(kAudioUnitErr_InvalidElement)
                                            : CheckOutputList(input->GetBufferLayout(), ioData,
                                                              inFramesToProcess);
            }
        }
        if (theError == noErr && !SameSampleTime(inTimeStamp, mCurrentRenderTime)) {
            mCurrentRenderTime.store(inTimeStamp);
            theError = ProcessBufferLists(ioActionFlags, ioData, ioData, inFramesToProcess);
        }
    } catch (...) {
        theError = StatusOfCurrentException();
    }
    SetLastRenderError(theError);
    return theError;
}

OSStatus AUBase::DoProcessMultiple(AudioUnitRenderActionFlags& ioActionFlags,
                                   const AudioTimeStamp& inTimeStamp, UInt32 inFramesToProcess,
                                   UInt32 inNumberInputBufferLists,
                                   const AudioBufferList** inInputBufferLists,
                                   UInt32 inNumberOutputBufferLists,
                                   AudioBufferList** ioOutputBufferLists) {
    const DenormalModeScope denormalMode;
    OSStatus theError = noErr;
    try {
        // The arrays themselves are checked whatever the flags say: without
        // them there is nothing to hand on.
        if ((inNumberInputBufferLists > 0 && inInputBufferLists == nullptr) ||
            (inNumberOutputBufferLists > 0 && ioOutputBufferLists == nullptr)) {
            theError = kParamErr;
        } else if ((ioActionFlags & kAudioUnitRenderAction_DoNotCheckRenderArgs) == 0) {
            if (!IsInitialized()) {
                theError = kAudioUnitErr_Uninitialized;
            } else if (inFramesToProcess > mMaxFramesPerSlice) {
                theError = kAudioUnitErr_TooManyFramesToProcess;
            }
            for (UInt32 i = 0; theError == noErr && i < inNumberInputBufferLists; ++i) {
                if (inInputBufferLists[i] == nullptr) {
                    continue;
                }
                AUInputElement* input = GetInput(i);
                theError = input == nullptr
                               ? OSStatus(kAudioUnitErr_InvalidElement)
                               : CheckInputList(input->GetBufferLayout(), *inInputBufferLists[i],
                                                inFramesToProcess);
            }
            for (UInt32 i = 0; theError == noErr && i < inNumberOutputBufferLists; ++i) {
                if (ioOutputBufferLists[i] == nullptr) {
                    continue;
                }
                AUOutputElement* output = GetOutput(i);
                theError = output == nullptr
                               ? OSStatus(kAudioUnitErr_InvalidElement)
                               : CheckOutputList(output->GetBufferLayout(), *ioOutputBufferLists[i],
                                                 inFramesToProcess);
            }
        }
        if (theError == noErr && !SameSampleTime(inTimeStamp, mCurrentRenderTime)) {
            mCurrentRenderTime.store(inTimeStamp);
            if (inNumberInputBufferLists == 1 && inNumberOutputBufferLists == 1) {
                // An absent list on either side leaves nothing to process
                // in place of it.
                if (inInputBufferLists[0] == nullptr || ioOutputBufferLists[0] == nullptr) {
                    theError = kParamErr;
                } else {
                    theError = ProcessBufferLists(ioActionFlags, *inInputBufferLists[0],
                                                  *ioOutputBufferLists[0], inFramesToProcess);
                }
            } else {
                theError = ProcessMultipleBufferLists(
                    ioActionFlags, inFramesToProcess, inNumberInputBufferLists, inInputBufferLists,
                    inNumberOutputBufferLists, ioOutputBufferLists);
            }
        }
    } catch (...) {
        theError = StatusOfCurrentException();
    }
    SetLastRenderError(theError);
    return theError;
}

// ---------------------------------------------------------------------------
// Render notifications

OSStatus AUBase::SetRenderNotification(AURenderCallback inProc, void* inRefCon) {
    if (inProc == nullptr) {
        return kParamErr;
    }
    SetRenderCallbacksTouched();
    mRenderCallbacks.deferred_add(RenderCallback{inProc, inRefCon});
    return noErr;
}

OSStatus AUBase::RemoveRenderNotification(AURenderCallback inProc, void* inRefCon) {
    mRenderCallbacks.deferred_remove(RenderCallback{inProc, inRefCon});
    return noErr;
}

// ---------------------------------------------------------------------------
// Scheduled parameters

OSStatus AUBase::ScheduleParameter(const AudioUnitParameterEvent* inParameterEvent,
                                   UInt32 inNumEvents) {
    if (inNumEvents > 0 && inParameterEvent == nullptr) {
        return kParamErr;
    }
    for (UInt32 i = 0; i < inNumEvents; ++i) {
        const AudioUnitParameterEvent& event = inParameterEvent[i];
        if (event.eventType == kParameterEvent_Immediate) {
            SetParameter(event.parameter, event.scope, event.element,
                         event.eventValues.immediate.value,
                         event.eventValues.immediate.bufferOffset);
        }
    }
    mParamList.insert(mParamList.end(), inParameterEvent, inParameterEvent + inNumEvents);
    return noErr;
}

OSStatus AUBase::ProcessForScheduledParams(std::vector<AudioUnitParameterEvent>& inParamList,
                                           UInt32 inFramesToProcess, void* inUserData) {
    std::sort(inParamList.begin(), inParamList.end(),
              [](const AudioUnitParameterEvent& a, const AudioUnitParameterEvent& b) {
                  return EventOffset(a) < EventOffset(b);
              });

    const SInt32 totalFrames = SInt32(inFramesToProcess);
    SInt32 start = 0;
    SInt32 remaining = totalFrames;
    while (remaining > 0) {
        // The slice ends at the next event that starts after its start, or
        // at the next ramp that ends within it. Both lie beyond start, so
        // every slice is at least one frame long.
        SInt32 end = totalFrames;
        for (const AudioUnitParameterEvent& event : inParamList) {
            const SInt32 offset = EventOffset(event);
            if (offset > start && offset < end) {
                end = offset;
                break;
            }
            if (event.eventType == kParameterEvent_Ramped) {
                const SInt32 rampEnd = SInt32(EventEnd(event));
                if (rampEnd > start && rampEnd <= end) {
                    end = rampEnd;
                }
            }
        }
        const SInt32 sliceFrames = end - start;

        // Later events in the sorted list win for the same parameter.
        for (const AudioUnitParameterEvent& event : inParamList) {
            const SInt32 offset = EventOffset(event);
            const bool takesPart = event.eventType == kParameterEvent_Ramped
                                       ? (offset < end && EventEnd(event) > UInt32(start))
                                       : UInt32(offset) <= UInt32(start);
            if (!takesPart) {
                continue;
            }
            AUElement* element = GetScope(event.scope).GetElement(event.element);
            if (element != nullptr) {
                element->SetScheduledEvent(event.parameter, event, UInt32(start),
                                           UInt32(sliceFrames), false);
            }
        }

        const OSStatus status = ProcessScheduledSlice(inUserData, UInt32(start),
                                                      UInt32(sliceFrames), inFramesToProcess);
        if (status != noErr) {
            return status;
        }
        remaining -= sliceFrames;
        start = end;
    }
    return noErr;
}
