// Element lookups of the render path for units whose elements are of the
// framework's own I/O classes, of classes derived from them, or of no I/O
// class at all; and the time stamp a render keeps.
#include "RenderTestUnit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class DerivedInput : public AUInputElement {
public:
    using AUInputElement::AUInputElement;
};

class DerivedOutput : public AUOutputElement {
public:
    using AUOutputElement::AUOutputElement;
};

// Input and output element 0 of derived classes; element 1 of either scope
// a plain element, which is no I/O element at all.
class DerivedElementsUnit : public RenderTestUnit {
public:
    DerivedElementsUnit() : RenderTestUnit(2, 2) {}

    AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override {
        if (inElement == 1 &&
            (inScope == kAudioUnitScope_Input || inScope == kAudioUnitScope_Output))
            return new AUElement(this);
        if (inScope == kAudioUnitScope_Input)
            return new DerivedInput(this);
        if (inScope == kAudioUnitScope_Output)
            return new DerivedOutput(this);
        return RenderTestUnit::CreateElement(inScope, inElement);
    }
};

TEST(RenderPathElements, EachScopeAnswersItsOwnClassDerivedClassesAndNothingElse) {
    UnitHolder<RenderTestUnit> plain;
    EXPECT_EQ(static_cast<AUElement*>(plain->GetInput(0)), plain->Inputs().GetElement(0));
    EXPECT_EQ(static_cast<AUElement*>(plain->GetOutput(0)), plain->Outputs().GetElement(0));
    EXPECT_EQ(plain->GetInput(1), nullptr);
    EXPECT_EQ(plain->GetOutput(1), nullptr);

    UnitHolder<DerivedElementsUnit> derived;
    EXPECT_NE(derived->GetInput(0), nullptr);
    EXPECT_EQ(derived->GetInput(0), dynamic_cast<DerivedInput*>(derived->Inputs().GetElement(0)));
    EXPECT_NE(derived->GetOutput(0), nullptr);
    EXPECT_EQ(derived->GetOutput(0),
              dynamic_cast<DerivedOutput*>(derived->Outputs().GetElement(0)));
    ASSERT_NE(derived->Inputs().GetElement(1), nullptr);
    ASSERT_NE(derived->Outputs().GetElement(1), nullptr);
    EXPECT_EQ(derived->GetInput(1), nullptr);
    EXPECT_EQ(derived->GetOutput(1), nullptr);
}

TEST(RenderPathElements, RenderFollowsTheOutputElementOfTheCurrentInitialization) {
    // The render path keeps output element 0 from the last initialization;
    // an element replaced while uninitialized must be the one used next.
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    TestBuffers stereo(2, 32);
    ASSERT_EQ(unit->RenderAt(0, stereo, 32), 0);

    unit->DoCleanup();
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    unit->SetNumberOfElements(kAudioUnitScope_Output, 1);
    CAStreamBasicDescription mono = unit->GetOutput(0)->GetStreamFormat();
    mono.ChangeNumberChannels(1, false);
    ASSERT_EQ(unit->GetOutput(0)->SetStreamFormat(mono), 0);
    ASSERT_EQ(unit->DoInitialize(), 0);

    EXPECT_EQ(unit->RenderAt(32, stereo, 32), -50);
    TestBuffers single(1, 32);
    ASSERT_EQ(unit->RenderAt(64, single, 32), 0);
    EXPECT_EQ(single.samples(0)[5], RenderTestUnit::Pattern(64, 0, 5));

    // Without output elements the render finds none.
    unit->DoCleanup();
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->RenderAt(96, single, 32), kAudioUnitErr_InvalidElement);
}

TEST(RenderPathTime, TheRenderedTimeStampIsKeptWholeAndAResetForgetsIt) {
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    TestBuffers out(2, 32);
    AudioTimeStamp ts;
    std::memset(&ts, 0xA5, sizeof ts); // every field, the reserved word too
    ts.mSampleTime = 4096;
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(unit->DoRender(flags, ts, 0, 32, out.list()), 0);
    const AudioTimeStamp kept = unit->CurrentRenderTime();
    EXPECT_EQ(std::memcmp(&kept, &ts, sizeof ts), 0);

    unit->ResetRenderTime();
    const AudioTimeStamp reset = unit->CurrentRenderTime();
    EXPECT_EQ(reset.mSampleTime, -1.0);
    EXPECT_EQ(reset.mHostTime, 0u);
    EXPECT_EQ(reset.mReserved, 0u);
}

} // namespace
