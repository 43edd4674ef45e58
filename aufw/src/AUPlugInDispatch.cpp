// The Audio Component factory path: open and close of the factory record,
// the methods the lookup tables hand out, and the tables themselves.
#include <aufw/AUPlugInDispatch.h>

#include <cstdlib>

namespace {

auto* RecordOf(void* self) {
    return static_cast<AudioComponentPlugInInstance*>(self);
}

AUBase* UnitOf(void* self) {
    return RecordOf(self)->Unit();
}

// Runs a method on the unit of the record, answering -50 for a missing
// record and a status for anything raised.
template <class Request> OSStatus OnUnit(void* self, Request&& inRequest) noexcept {
    if (self == nullptr) {
        return paramErr;
    }
    return ComponentEntryCall([&] { return inRequest(UnitOf(self)); });
}

// ---------------------------------------------------------------------------
// Methods every unit serves.

OSStatus AUMethodInitialize(void* self) {
    return OnUnit(self, [](AUBase* unit) { return unit->DoInitialize(); });
}

OSStatus AUMethodUninitialize(void* self) {
    return OnUnit(self, [](AUBase* unit) {
        unit->DoCleanup();
        return static_cast<OSStatus>(noErr);
    });
}

OSStatus AUMethodGetPropertyInfo(void* self, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, UInt32* outDataSize,
                                 Boolean* outWritable) {
    return OnUnit(self, [&](AUBase* unit) {
        return ComponentEntryGetPropertyInfo(unit, inID, inScope, inElement, outDataSize,
                                             outWritable);
    });
}

OSStatus AUMethodGetProperty(void* self, AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
    return OnUnit(self, [&](AUBase* unit) {
        return ComponentEntryGetProperty(unit, inID, inScope, inElement, outData, ioDataSize);
    });
}

OSStatus AUMethodSetProperty(void* self, AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
    return OnUnit(self, [&](AUBase* unit) {
        return ComponentEntrySetProperty(unit, inID, inScope, inElement, inData, inDataSize);
    });
}

OSStatus AUMethodGetParameter(void* self, AudioUnitParameterID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, AudioUnitParameterValue* outValue) {
    return OnUnit(self, [&](AUBase* unit) {
        if (outValue == nullptr) {
            return static_cast<OSStatus>(paramErr);
        }
        return unit->GetParameter(inID, inScope, inElement, *outValue);
    });
}

OSStatus AUMethodSetParameter(void* self, AudioUnitParameterID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, AudioUnitParameterValue inValue,
                              UInt32 inBufferOffsetInFrames) {
    return OnUnit(self, [&](AUBase* unit) {
        return unit->SetParameter(inID, inScope, inElement, inValue, inBufferOffsetInFrames);
    });
}

OSStatus AUMethodReset(void* self, AudioUnitScope inScope, AudioUnitElement inElement) {
    return OnUnit(self, [&](AUBase* unit) { return unit->Reset(inScope, inElement); });
}

OSStatus AUMethodAddPropertyListener(void* self, AudioUnitPropertyID inID,
                                     AudioUnitPropertyListenerProc inProc, void* inUserData) {
    return OnUnit(self, [&](AUBase* unit) {
        // A listener without a procedure would be called on the next change.
        if (inProc == nullptr) {
            return static_cast<OSStatus>(paramErr);
        }
        return unit->AddPropertyListener(inID, inProc, inUserData);
    });
}

OSStatus AUMethodRemovePropertyListener(void* self, AudioUnitPropertyID inID,
                                        AudioUnitPropertyListenerProc inProc) {
    return OnUnit(self, [&](AUBase* unit) {
        return unit->RemovePropertyListener(inID, inProc, nullptr, false);
    });
}

OSStatus AUMethodRemovePropertyListenerWithUserData(void* self, AudioUnitPropertyID inID,
                                                    AudioUnitPropertyListenerProc inProc,
                                                    void* inUserData) {
    return OnUnit(self, [&](AUBase* unit) {
        return unit->RemovePropertyListener(inID, inProc, inUserData, true);
    });
}

OSStatus AUMethodRender(void* self, AudioUnitRenderActionFlags* ioActionFlags,
                        const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                        UInt32 inNumberFrames, AudioBufferList* ioData) {
    return OnUnit(self, [&](AUBase* unit) {
        return ComponentEntryRender(unit, ioActionFlags, inTimeStamp, inOutputBusNumber,
                                    inNumberFrames, ioData);
    });
}

OSStatus AUMethodAddRenderNotify(void* self, AURenderCallback inProc, void* inUserData) {
    return OnUnit(self,
                  [&](AUBase* unit) { return unit->SetRenderNotification(inProc, inUserData); });
}

OSStatus AUMethodRemoveRenderNotify(void* self, AURenderCallback inProc, void* inUserData) {
    return OnUnit(self,
                  [&](AUBase* unit) { return unit->RemoveRenderNotification(inProc, inUserData); });
}

OSStatus AUMethodScheduleParameters(void* self, const AudioUnitParameterEvent* inEvents,
                                    UInt32 inNumEvents) {
    return OnUnit(self, [&](AUBase* unit) {
        if (inEvents == nullptr && inNumEvents != 0) {
            return static_cast<OSStatus>(paramErr);
        }
        return unit->ScheduleParameter(inEvents, inNumEvents);
    });
}

// ---------------------------------------------------------------------------
// Methods of the other kinds of unit.

OSStatus AUMethodStart(void* self) {
    return OnUnit(self, [](AUBase* unit) { return unit->Start(); });
}

OSStatus AUMethodStop(void* self) {
    return OnUnit(self, [](AUBase* unit) { return unit->Stop(); });
}

OSStatus AUMethodComplexRender(void* self, AudioUnitRenderActionFlags* ioActionFlags,
                               const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                               UInt32 inNumberOfPackets, UInt32* outNumberOfPackets,
                               AudioStreamPacketDescription* outPacketDescriptions,
                               AudioBufferList* ioData, void* outMetadata,
                               UInt32* outMetadataByteSize) {
    return OnUnit(self, [&](AUBase* unit) {
        if (inTimeStamp == nullptr || ioData == nullptr) {
            return static_cast<OSStatus>(paramErr);
        }
        AudioUnitRenderActionFlags localFlags = 0;
        return unit->ComplexRender(ioActionFlags != nullptr ? *ioActionFlags : localFlags,
                                   *inTimeStamp, inOutputBusNumber, inNumberOfPackets,
                                   outNumberOfPackets, outPacketDescriptions, *ioData, outMetadata,
                                   outMetadataByteSize);
    });
}

// The do-not-check flag lets a host skip the unit's own argument checks; a
// missing time stamp or buffer list is refused whatever the flags say, since
// nothing could be processed without them.
OSStatus AUMethodProcess(void* self, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inNumberFrames,
                         AudioBufferList* ioData) {
    return OnUnit(self, [&](AUBase* unit) {
        if (inTimeStamp == nullptr || ioData == nullptr) {
            return static_cast<OSStatus>(paramErr);
        }
        AudioUnitRenderActionFlags localFlags = 0;
        return unit->DoProcess(ioActionFlags != nullptr ? *ioActionFlags : localFlags, *inTimeStamp,
                               inNumberFrames, *ioData);
    });
}

OSStatus AUMethodProcessMultiple(void* self, AudioUnitRenderActionFlags* ioActionFlags,
                                 const AudioTimeStamp* inTimeStamp, UInt32 inNumberFrames,
                                 UInt32 inNumberInputBufferLists,
                                 const AudioBufferList** inInputBufferLists,
                                 UInt32 inNumberOutputBufferLists,
                                 AudioBufferList** ioOutputBufferLists) {
    return OnUnit(self, [&](AUBase* unit) {
        if (inTimeStamp == nullptr ||
            (inInputBufferLists == nullptr && inNumberInputBufferLists != 0) ||
            (ioOutputBufferLists == nullptr && inNumberOutputBufferLists != 0)) {
            return static_cast<OSStatus>(paramErr);
        }
        AudioUnitRenderActionFlags localFlags = 0;
        return unit->DoProcessMultiple(ioActionFlags != nullptr ? *ioActionFlags : localFlags,
                                       *inTimeStamp, inNumberFrames, inNumberInputBufferLists,
                                       inInputBufferLists, inNumberOutputBufferLists,
                                       ioOutputBufferLists);
    });
}

OSStatus AUMethodMIDIEvent(void* self, UInt32 inStatus, UInt32 inData1, UInt32 inData2,
                           UInt32 inOffsetSampleFrame) {
    return OnUnit(self, [&](AUBase* unit) {
        return unit->MIDIEvent(inStatus, inData1, inData2, inOffsetSampleFrame);
    });
}

OSStatus AUMethodSysEx(void* self, const UInt8* inData, UInt32 inLength) {
    return OnUnit(self, [&](AUBase* unit) {
        if (inData == nullptr && inLength != 0) {
            return static_cast<OSStatus>(paramErr);
        }
        return unit->SysEx(inData, inLength);
    });
}

OSStatus AUMethodPrepareInstrument(void* self, MusicDeviceInstrumentID inInstrument) {
    return OnUnit(self, [&](AUBase* unit) { return unit->PrepareInstrument(inInstrument); });
}

OSStatus AUMethodReleaseInstrument(void* self, MusicDeviceInstrumentID inInstrument) {
    return OnUnit(self, [&](AUBase* unit) { return unit->ReleaseInstrument(inInstrument); });
}

OSStatus AUMethodStartNote(void* self, MusicDeviceInstrumentID inInstrument,
                           MusicDeviceGroupID inGroupID, NoteInstanceID* outNoteInstanceID,
                           UInt32 inOffsetSampleFrame, const MusicDeviceNoteParams* inParams) {
    return OnUnit(self, [&](AUBase* unit) {
        if (outNoteInstanceID == nullptr || inParams == nullptr) {
            return static_cast<OSStatus>(paramErr);
        }
        return unit->StartNote(inInstrument, inGroupID, outNoteInstanceID, inOffsetSampleFrame,
                               *inParams);
    });
}

OSStatus AUMethodStopNote(void* self, MusicDeviceGroupID inGroupID, NoteInstanceID inNoteInstanceID,
                          UInt32 inOffsetSampleFrame) {
    return OnUnit(self, [&](AUBase* unit) {
        return unit->StopNote(inGroupID, inNoteInstanceID, inOffsetSampleFrame);
    });
}

template <class Method> AudioComponentMethod AsMethod(Method inMethod) {
    return reinterpret_cast<AudioComponentMethod>(inMethod);
}

} // namespace

// ---------------------------------------------------------------------------
// Open and close.

OSStatus AP_Open(void* self, AudioComponentInstance inInstance) {
    if (self == nullptr) {
        return paramErr;
    }
    AudioComponentPlugInInstance* record = RecordOf(self);
    ComponentBase* object = nullptr;
    OSStatus status = 0;
    bool opened = false;
    try {
        ComponentInitLocker lock;
        ComponentInstanceTypeScope type(ComponentBase::kAudioComponentInstance);
        object = record->mConstruct(record->Storage(), inInstance);
        object->PostConstructor();
        opened = true;
    } catch (...) {
        status = ComponentEntryStatusForCurrentException();
    }
    if (opened) {
        return 0;
    }
    // The host sends no close after a failed open, so the record goes now,
    // with whatever part of the unit was built.
    if (object != nullptr) {
        record->mDestruct(record->Storage());
    }
    std::free(record);
    return status != 0 ? status : static_cast<OSStatus>(kAudioUnitErr_FailedInitialization);
}

OSStatus AP_Close(void* self) {
    if (self == nullptr) {
        return paramErr;
    }
    AudioComponentPlugInInstance* record = RecordOf(self);
    OSStatus status = ComponentEntryCall([&] {
        record->Unit()->PreDestructor();
        return static_cast<OSStatus>(noErr);
    });
    // The host forgets the instance whatever the answer, so the unit and its
    // record go in every case.
    record->mDestruct(record->Storage());
    std::free(record);
    return status;
}

// ---------------------------------------------------------------------------
// The lookup tables.

AudioComponentMethod AUBaseLookup::Lookup(SInt16 selector) {
    switch (selector) {
    case kAudioUnitInitializeSelect:
        return AsMethod(AUMethodInitialize);
    case kAudioUnitUninitializeSelect:
        return AsMethod(AUMethodUninitialize);
    case kAudioUnitGetPropertyInfoSelect:
        return AsMethod(AUMethodGetPropertyInfo);
    case kAudioUnitGetPropertySelect:
        return AsMethod(AUMethodGetProperty);
    case kAudioUnitSetPropertySelect:
        return AsMethod(AUMethodSetProperty);
    case kAudioUnitGetParameterSelect:
        return AsMethod(AUMethodGetParameter);
    case kAudioUnitSetParameterSelect:
        return AsMethod(AUMethodSetParameter);
    case kAudioUnitResetSelect:
        return AsMethod(AUMethodReset);
    case kAudioUnitAddPropertyListenerSelect:
        return AsMethod(AUMethodAddPropertyListener);
    case kAudioUnitRemovePropertyListenerSelect:
        return AsMethod(AUMethodRemovePropertyListener);
    case kAudioUnitRenderSelect:
        return AsMethod(AUMethodRender);
    case kAudioUnitAddRenderNotifySelect:
        return AsMethod(AUMethodAddRenderNotify);
    case kAudioUnitRemoveRenderNotifySelect:
        return AsMethod(AUMethodRemoveRenderNotify);
    case kAudioUnitScheduleParametersSelect:
        return AsMethod(AUMethodScheduleParameters);
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        return AsMethod(AUMethodRemovePropertyListenerWithUserData);
    default:
        return nullptr;
    }
}

AudioComponentMethod AUOutputLookup::Lookup(SInt16 selector) {
    switch (selector) {
    case kAudioOutputUnitStartSelect:
        return AsMethod(AUMethodStart);
    case kAudioOutputUnitStopSelect:
        return AsMethod(AUMethodStop);
    default:
        return AUBaseLookup::Lookup(selector);
    }
}

AudioComponentMethod AUComplexOutputLookup::Lookup(SInt16 selector) {
    if (selector == kAudioUnitComplexRenderSelect) {
        return AsMethod(AUMethodComplexRender);
    }
    return AUOutputLookup::Lookup(selector);
}

AudioComponentMethod AUBaseProcessLookup::Lookup(SInt16 selector) {
    if (selector == kAudioUnitProcessSelect) {
        return AsMethod(AUMethodProcess);
    }
    return AUBaseLookup::Lookup(selector);
}

AudioComponentMethod AUBaseProcessMultipleLookup::Lookup(SInt16 selector) {
    if (selector == kAudioUnitProcessMultipleSelect) {
        return AsMethod(AUMethodProcessMultiple);
    }
    return AUBaseProcessLookup::Lookup(selector);
}

AudioComponentMethod AUMIDILookup::Lookup(SInt16 selector) {
    switch (selector) {
    case kMusicDeviceMIDIEventSelect:
        return AsMethod(AUMethodMIDIEvent);
    case kMusicDeviceSysExSelect:
        return AsMethod(AUMethodSysEx);
    default:
        return AUBaseLookup::Lookup(selector);
    }
}

AudioComponentMethod AUMIDIProcessLookup::Lookup(SInt16 selector) {
    if (selector == kAudioUnitProcessSelect) {
        return AsMethod(AUMethodProcess);
    }
    return AUMIDILookup::Lookup(selector);
}

AudioComponentMethod AUMusicLookup::Lookup(SInt16 selector) {
    switch (selector) {
    case kMusicDevicePrepareInstrumentSelect:
        return AsMethod(AUMethodPrepareInstrument);
    case kMusicDeviceReleaseInstrumentSelect:
        return AsMethod(AUMethodReleaseInstrument);
    case kMusicDeviceStartNoteSelect:
        return AsMethod(AUMethodStartNote);
    case kMusicDeviceStopNoteSelect:
        return AsMethod(AUMethodStopNote);
    default:
        return AUMIDILookup::Lookup(selector);
    }
}
