// AUBase: construction, life cycle, elements, formats, layouts, connections,
// listeners and the default answers of the virtual hooks.
#include <aufw/AUBase.h>

#include <aufw/CAAudioChannelLayout.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <typeinfo>

namespace {

[[noreturn]] void Raise(OSStatus err) {
    throw err;
}

CFStringRef MakeKey(const char* text) {
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
}

} // namespace

CFStringRef AUBase::kUntitledString = nullptr;
CFStringRef AUBase::kVersionString = nullptr;
CFStringRef AUBase::kTypeString = nullptr;
CFStringRef AUBase::kSubtypeString = nullptr;
CFStringRef AUBase::kManufacturerString = nullptr;
CFStringRef AUBase::kDataString = nullptr;
CFStringRef AUBase::kNameString = nullptr;
CFStringRef AUBase::kRenderQualityString = nullptr;
CFStringRef AUBase::kCPULoadString = nullptr;
CFStringRef AUBase::kElementNameString = nullptr;
CFStringRef AUBase::kPartString = nullptr;

void AUBase::InitializeClassStrings() {
    // The keys live as long as the process: every unit and every saved
    // document may still refer to them.
    static std::once_flag once;
    std::call_once(once, [] {
        kUntitledString = MakeKey("Untitled");
        kVersionString = MakeKey("version");
        kTypeString = MakeKey("type");
        kSubtypeString = MakeKey("subtype");
        kManufacturerString = MakeKey("manufacturer");
        kDataString = MakeKey("data");
        kNameString = MakeKey("name");
        kRenderQualityString = MakeKey("render-quality");
        kCPULoadString = MakeKey("cpu-load");
        kElementNameString = MakeKey("element-name");
        kPartString = MakeKey("part");
    });
}

AUBase::AUBase(AudioComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements,
               UInt32 numGroupElements)
    : ComponentBase(inInstance), mInitNumInputEls(numInputElements),
      mInitNumOutputEls(numOutputElements), mInitNumGroupEls(numGroupElements) {
    InitializeClassStrings();
    mCurrentPreset.presetNumber = -1;
    mCurrentPreset.presetName = static_cast<CFStringRef>(CFRetain(kUntitledString));
    ResetRenderTime();
    // Called while the object is still an AUBase, so the global element is
    // always a plain AUElement whatever a subclass creates elsewhere.
    mScopes[kAudioUnitScope_Global].Initialize(this, kAudioUnitScope_Global, 1);
    SetMaxFramesPerSlice(kAUDefaultMaxFramesPerSlice);
    mParamList.reserve(24);
}

AUBase::~AUBase() {
    if (mCurrentPreset.presetName != nullptr) {
        CFRelease(mCurrentPreset.presetName);
    }
    if (mContextName != nullptr) {
        CFRelease(mContextName);
    }
}

void AUBase::PostConstructor() {
    CreateElements();
}

void AUBase::PreDestructor() {
    DoCleanup();
}

void AUBase::CreateElements() {
    if (mElementsCreated) {
        return;
    }
    mScopes[kAudioUnitScope_Input].Initialize(this, kAudioUnitScope_Input, mInitNumInputEls);
    mScopes[kAudioUnitScope_Output].Initialize(this, kAudioUnitScope_Output, mInitNumOutputEls);
    mScopes[kAudioUnitScope_Group].Initialize(this, kAudioUnitScope_Group, mInitNumGroupEls);
    CreateExtendedElements();
    mElementsCreated = true;
}

OSStatus AUBase::DoInitialize() {
    if (IsInitialized()) {
        return 0;
    }
    const OSStatus result = Initialize();
    if (result != 0) {
        return result;
    }
    mHasBegunInitializing = true;
    ReallocateBuffers();
    mRenderOutput.store(GetOutput(0), std::memory_order_relaxed);
    // The render thread takes the flag as permission to use the buffers just
    // made, so everything before must be visible first.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    mInitialized.store(true, std::memory_order_release);
    return 0;
}

void AUBase::DoCleanup() {
    if (IsInitialized()) {
        Cleanup();
    }
    ResetRenderTime();
    mInitialized.store(false, std::memory_order_release);
    mHasBegunInitializing = false;
}

OSStatus AUBase::ReallocateBuffers() {
    CreateElements();
    AUScope& outputs = Outputs();
    for (UInt32 i = 0, n = outputs.GetNumberOfElements(); i < n; ++i) {
        outputs.GetIOElement(i)->AllocateBuffer(0);
    }
    AUScope& inputs = Inputs();
    for (UInt32 i = 0, n = inputs.GetNumberOfElements(); i < n; ++i) {
        inputs.GetIOElement(i)->AllocateBuffer(0);
    }
    mBuffersAllocated = true;
    return 0;
}

void AUBase::SetMaxFramesPerSlice(UInt32 nFrames) {
    mMaxFramesPerSlice = nFrames;
    if (mBuffersAllocated) {
        ReallocateBuffers();
    }
    PropertyChanged(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0);
}

OSStatus AUBase::CanSetMaxFrames() const {
    return IsInitialized() ? static_cast<OSStatus>(kAudioUnitErr_Initialized) : 0;
}

void AUBase::ResetRenderTime() noexcept {
    AudioTimeStamp cleared{};
    cleared.mSampleTime = -1.0;
    mCurrentRenderTime.store(cleared);
}

OSStatus AUBase::Reset(AudioUnitScope /*inScope*/, AudioUnitElement /*inElement*/) {
    ResetRenderTime();
    return 0;
}

// ---------------------------------------------------------------------------
// Default hooks

OSStatus AUBase::GetPropertyInfo(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, UInt32&,
                                 Boolean&) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, void*) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::SetProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, const void*,
                             UInt32) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::RemovePropertyValue(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    return kAudioUnitErr_InvalidPropertyValue;
}

OSStatus AUBase::GetParameterInfo(AudioUnitScope, AudioUnitParameterID, AudioUnitParameterInfo&) {
    return kAudioUnitErr_InvalidParameter;
}

OSStatus AUBase::GetParameterHistoryInfo(AudioUnitScope, AudioUnitParameterID, Float32&, Float32&) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetParameterValueStrings(AudioUnitScope, AudioUnitParameterID, CFArrayRef*) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::CopyClumpName(AudioUnitScope, UInt32, UInt32, CFStringRef*) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetPresets(CFArrayRef*) const {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::NewFactoryPresetSet(const AUPreset&) {
    return kAudioUnitErr_InvalidProperty;
}

UInt32 AUBase::SupportedNumChannels(const AUChannelInfo** outInfo) {
    if (outInfo != nullptr) {
        *outInfo = nullptr;
    }
    return 0;
}

bool AUBase::ValidFormat(AudioUnitScope, AudioUnitElement,
                         const CAStreamBasicDescription& inNewFormat) {
    return FormatIsCanonical(inNewFormat);
}

// ---------------------------------------------------------------------------
// Listeners

OSStatus AUBase::AddPropertyListener(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc inProc,
                                     void* inProcRefCon) {
    mPropertyListeners.Add(PropertyListenerList::Record{inID, inProc, inProcRefCon});
    return 0;
}

OSStatus AUBase::RemovePropertyListener(AudioUnitPropertyID inID,
                                        AudioUnitPropertyListenerProc inProc, void* inProcRefCon,
                                        bool refConSpecified) {
    mPropertyListeners.Remove(inID, inProc, inProcRefCon, refConSpecified);
    return 0;
}

void AUBase::PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement) {
    // The walk reads a snapshot, so a listener that adds or removes
    // listeners changes what the next announcement sees, not this one.
    mPropertyListeners.ForEach([&](const PropertyListenerList::Record& l) {
        if (l.propertyID == inID && l.listenerProc != nullptr) {
            l.listenerProc(l.listenerRefCon, GetComponentInstance(), inID, inScope, inElement);
        }
    });
}

// ---------------------------------------------------------------------------
// Scopes and elements

AUScope& AUBase::GetScope(AudioUnitScope inScope) {
    if (inScope <= kAudioUnitScope_Group) {
        return mScopes[inScope];
    }
    AUScope* scope = GetScopeExtended(inScope);
    if (scope == nullptr) {
        Raise(kAudioUnitErr_InvalidScope);
    }
    return *scope;
}

namespace {

// The element as the I/O class of its scope. The render path asks for these
// on every cycle, so the element that is exactly that class (the one
// CreateElement makes) is taken after a comparison of its type alone; only an
// element of some other class pays for the full hierarchy walk.
template <class IOElement> IOElement* AsScopeElement(AUElement* element) {
    if (element == nullptr) {
        return nullptr;
    }
    if (typeid(*element) == typeid(IOElement)) {
        return static_cast<IOElement*>(element);
    }
    return dynamic_cast<IOElement*>(element);
}

} // namespace

AUInputElement* AUBase::GetInput(AudioUnitElement inElement) {
    return AsScopeElement<AUInputElement>(Inputs().GetElement(inElement));
}

AUOutputElement* AUBase::GetOutput(AudioUnitElement inElement) {
    return AsScopeElement<AUOutputElement>(Outputs().GetElement(inElement));
}

void AUBase::SetNumberOfElements(AudioUnitScope inScope, UInt32 numElements) {
    if (inScope == kAudioUnitScope_Global && numElements != 1) {
        Raise(kAudioUnitErr_InvalidScope);
    }
    GetScope(inScope).SetNumberOfElements(numElements);
}

AUElement* AUBase::CreateElement(AudioUnitScope inScope, AudioUnitElement /*inElement*/) {
    switch (inScope) {
    case kAudioUnitScope_Global:
    case kAudioUnitScope_Group:
    case kAudioUnitScope_Part:
        return new AUElement(this);
    case kAudioUnitScope_Input:
        return new AUInputElement(this);
    case kAudioUnitScope_Output:
        return new AUOutputElement(this);
    default:
        Raise(kAudioUnitErr_InvalidScope);
    }
}

void AUBase::ValidateScopeAndElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    GetScope(inScope).SafeGetElement(inElement);
}

OSStatus AUBase::SetBusCount(AudioUnitScope inScope, UInt32 inCount) {
    if (IsInitialized()) {
        return kAudioUnitErr_Initialized;
    }
    SetNumberOfElements(inScope, inCount);
    return 0;
}

// ---------------------------------------------------------------------------
// Parameters

OSStatus AUBase::GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, AudioUnitParameterValue& outValue) {
    outValue = SafeGetElement(inScope, inElement)->GetParameter(inID);
    return 0;
}

OSStatus AUBase::SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, AudioUnitParameterValue inValue,
                              UInt32 /*inBufferOffsetInFrames*/) {
    SafeGetElement(inScope, inElement)->SetParameter(inID, inValue, false);
    return 0;
}

OSStatus AUBase::GetParameterList(AudioUnitScope inScope, AudioUnitParameterID* outParameterList,
                                  UInt32& outNumParameters) {
    AUScope& scope = GetScope(inScope);
    AUElement* widest = nullptr;
    UInt32 largest = 0;
    for (UInt32 i = 0, n = scope.GetNumberOfElements(); i < n; ++i) {
        AUElement* element = scope.GetElement(i);
        const UInt32 count = element->GetNumberOfParameters();
        if (count > largest) {
            largest = count;
            widest = element;
        }
    }
    if (outParameterList != nullptr && widest != nullptr) {
        widest->GetParameterList(outParameterList);
    }
    outNumParameters = largest;
    return 0;
}

// ---------------------------------------------------------------------------
// Formats

bool AUBase::FormatIsCanonical(const CAStreamBasicDescription& f) {
    if (f.mFormatID != kAudioFormatLinearPCM || f.mFramesPerPacket != 1 ||
        f.mBytesPerPacket != f.mBytesPerFrame || f.mBitsPerChannel != 32) {
        return false;
    }
    if ((f.mFormatFlags & kAudioFormatFlagIsFloat) == 0 ||
        (f.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0) {
        return false;
    }
    const bool nonInterleaved = (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    if (!nonInterleaved && f.mChannelsPerFrame != 1) {
        return false;
    }
    const UInt64 expectedBytes = 4ULL * (nonInterleaved ? 1ULL : f.mChannelsPerFrame);
    return f.mBytesPerFrame == expectedBytes;
}

bool AUBase::IsStreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) {
    switch (inScope) {
    case kAudioUnitScope_Global:
        return StreamFormatWritable(kAudioUnitScope_Output, 0);
    case kAudioUnitScope_Input: {
        AUInputElement* input = GetInput(inElement);
        if (input != nullptr && input->HasConnection()) {
            return false;
        }
        return StreamFormatWritable(kAudioUnitScope_Input, inElement);
    }
    case kAudioUnitScope_Output:
        return StreamFormatWritable(kAudioUnitScope_Output, inElement);
    default:
        return false;
    }
}

const CAStreamBasicDescription& AUBase::GetStreamFormat(AudioUnitScope inScope,
                                                        AudioUnitElement inElement) {
    switch (inScope) {
    case kAudioUnitScope_Global:
        return Outputs().GetIOElement(0)->GetStreamFormat();
    case kAudioUnitScope_Input:
    case kAudioUnitScope_Output:
        return mScopes[inScope].GetIOElement(inElement)->GetStreamFormat();
    default:
        Raise(kAudioUnitErr_InvalidScope);
    }
}

OSStatus AUBase::ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                    const CAStreamBasicDescription& /*inPrevFormat*/,
                                    const CAStreamBasicDescription& inNewFormat) {
    AUIOElement* element = nullptr;
    switch (inScope) {
    case kAudioUnitScope_Global:
        element = Outputs().GetIOElement(0);
        break;
    case kAudioUnitScope_Input:
    case kAudioUnitScope_Output:
        element = mScopes[inScope].GetIOElement(inElement);
        break;
    default:
        Raise(kAudioUnitErr_InvalidScope);
    }
    element->SetStreamFormat(inNewFormat);
    PropertyChanged(kAudioUnitProperty_StreamFormat, inScope, inElement);
    return 0;
}

// ---------------------------------------------------------------------------
// Channel layouts

UInt32 AUBase::GetChannelLayoutTags(AudioUnitScope inScope, AudioUnitElement inElement,
                                    AudioChannelLayoutTag* outLayoutTags) {
    return GetIOElement(inScope, inElement)->GetChannelLayoutTags(outLayoutTags);
}

UInt32 AUBase::GetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                     AudioChannelLayout* outLayoutPtr, Boolean& outWritable) {
    return GetIOElement(inScope, inElement)->GetAudioChannelLayout(outLayoutPtr, outWritable);
}

OSStatus AUBase::SetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                       const AudioChannelLayout* inLayout) {
    AUIOElement* element = GetIOElement(inScope, inElement);
    if (inLayout == nullptr) {
        return kAudio_ParamError;
    }
    if (CAAudioChannelLayout::NumberChannels(*inLayout) != element->NumberChannels()) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    const UInt32 numTags = GetChannelLayoutTags(inScope, inElement, nullptr);
    if (numTags == 0) {
        return kAudioUnitErr_InvalidProperty;
    }
    std::vector<AudioChannelLayoutTag> tags(numTags);
    // The hook may report fewer tags the second time; never read past them.
    const UInt32 written = std::min(numTags, GetChannelLayoutTags(inScope, inElement, tags.data()));
    for (UInt32 i = 0; i < written; ++i) {
        if (tags[i] == kAudioChannelLayoutTag_UseChannelDescriptions ||
            tags[i] == inLayout->mChannelLayoutTag) {
            return element->SetAudioChannelLayout(*inLayout);
        }
    }
    return kAudioUnitErr_InvalidPropertyValue;
}

OSStatus AUBase::RemoveAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement) {
    AUIOElement* element = GetIOElement(inScope, inElement);
    Boolean writable = false;
    if (element->GetAudioChannelLayout(nullptr, writable) == 0) {
        return 0;
    }
    return element->RemoveAudioChannelLayout();
}

// ---------------------------------------------------------------------------
// Connections and input callbacks

OSStatus AUBase::SetConnection(const AudioUnitConnection& inConnection) {
    AUInputElement* input = GetInput(inConnection.destInputNumber);
    if (input == nullptr) {
        Raise(kAudioUnitErr_InvalidElement);
    }
    if (inConnection.sourceAudioUnit != nullptr) {
        AudioStreamBasicDescription sourceFormat{};
        UInt32 size = sizeof(sourceFormat);
        OSStatus result = AudioUnitGetProperty(
            inConnection.sourceAudioUnit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output,
            inConnection.sourceOutputNumber, &sourceFormat, &size);
        if (result != 0) {
            return result;
        }
        result =
            DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                                inConnection.destInputNumber, &sourceFormat, sizeof(sourceFormat));
        if (result != 0) {
            return result;
        }
    }
    input->SetConnection(inConnection);
    PropertyChanged(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input,
                    inConnection.destInputNumber);
    return 0;
}

OSStatus AUBase::SetInputCallback(UInt32 inPropertyID, AudioUnitElement inElement,
                                  AURenderCallback inProc, void* inRefCon) {
    AUInputElement* input = GetInput(inElement);
    if (input == nullptr) {
        Raise(kAudioUnitErr_InvalidElement);
    }
    input->SetInputCallback(inProc, inRefCon);
    PropertyChanged(inPropertyID, kAudioUnitScope_Input, inElement);
    return 0;
}

// ---------------------------------------------------------------------------
// Presets

void AUBase::SetAFactoryPresetAsCurrent(const AUPreset& inPreset) {
    CFStringRef oldName = mCurrentPreset.presetName;
    mCurrentPreset.presetNumber = inPreset.presetNumber;
    mCurrentPreset.presetName = inPreset.presetName;
    if (mCurrentPreset.presetName != nullptr) {
        CFRetain(mCurrentPreset.presetName);
    }
    if (oldName != nullptr) {
        CFRelease(oldName);
    }
}
