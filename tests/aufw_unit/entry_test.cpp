// The pieces of the entry layer on their own: the status every kind of
// raised error becomes, the open lock, parameter-block slots, the
// component-level requests, and the lookup tables of the whole family.

#include "entry_support.h"

#include <aufw/ComponentEntry.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace entrytest;

namespace {

template <class Raise> OSStatus statusOf(Raise raise) {
    return ComponentEntryCall([&]() -> OSStatus {
        raise();
        return 12345; // not reached when something is raised
    });
}

int tryLockElsewhere() {
    int result = 0;
    std::thread other([&] {
        result = pthread_mutex_trylock(&detail::ComponentOpenMutex());
        if (result == 0) {
            pthread_mutex_unlock(&detail::ComponentOpenMutex());
        }
    });
    other.join();
    return result;
}

} // namespace

TEST(ComponentEntryErrors, EveryRaisedKindBecomesItsStatus) {
    EXPECT_EQ(statusOf([] { throw CAXException("op", -10877); }), -10877);
    EXPECT_EQ(statusOf([] { throw CAException(-10866); }), -10866);
    EXPECT_EQ(statusOf([] { throw std::bad_alloc(); }), -108);
    EXPECT_EQ(statusOf([] { throw std::bad_array_new_length(); }), -108);
    EXPECT_EQ(statusOf([] { throw static_cast<SInt32>(-10878); }), -10878);
    EXPECT_EQ(statusOf([] { throw static_cast<SInt32>(0x7FFF0000); }), 0x7FFF0000);
    // 16-bit errors are sign-extended.
    EXPECT_EQ(statusOf([] { throw static_cast<SInt16>(-32768); }), -32768);
    // Anything else is -1, whatever its value.
    EXPECT_EQ(statusOf([] { throw std::runtime_error("x"); }), -1);
    EXPECT_EQ(statusOf([] { throw static_cast<UInt32>(5); }), -1);
    EXPECT_EQ(statusOf([] { throw static_cast<long>(-50); }), -1);
    EXPECT_EQ(statusOf([] { throw 1.0; }), -1);
    // A request that raises nothing keeps its own answer.
    EXPECT_EQ(statusOf([] {}), 12345);
}

TEST(ComponentEntryLock, IsRecursiveExcludesOtherThreadsAndIsFreedByTheLastRelease) {
    {
        ComponentInitLocker outer;
        {
            ComponentInitLocker inner; // the same thread takes it again
            EXPECT_EQ(tryLockElsewhere(), EBUSY);
        }
        EXPECT_EQ(tryLockElsewhere(), EBUSY);
    }
    EXPECT_EQ(tryLockElsewhere(), 0);
}

TEST(ComponentEntryBlocks, ArgumentsAreReadFromTheStartOfTheirSlots) {
    Block b = makeBlock(kAudioUnitSetParameterSelect, madeUpInstance(1), UInt32{7}, UInt32{1},
                        UInt32{3}, Float32{0.5f}, UInt32{64});
    ComponentParameters* p = b.get();
    EXPECT_EQ(ComponentEntryArg<AudioComponentInstance>(p, 0), madeUpInstance(1));
    EXPECT_EQ(ComponentEntryArg<UInt32>(p, 1), 7u);
    EXPECT_EQ(ComponentEntryArg<UInt32>(p, 3), 3u);
    EXPECT_FLOAT_EQ(ComponentEntryArg<Float32>(p, 4), 0.5f);
    EXPECT_EQ(ComponentEntryArg<UInt32>(p, 5), 64u);
    EXPECT_TRUE(ComponentEntryHasArgs(p, 5));
    EXPECT_FALSE(ComponentEntryHasArgs(p, 6));
    // Only a can-do request carries an asked selector.
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(
                  makeBlock(kComponentCanDoSelect, nullptr, SInt16{14}).get()),
              14);
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(
                  makeBlock(kComponentVersionSelect, nullptr, SInt16{14}).get()),
              0);
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(nullptr), 0);
    // Without a request or an object nothing is dispatched.
    long object = 0;
    EXPECT_EQ(
        ComponentBase::ComponentEntryDispatch(nullptr, reinterpret_cast<ComponentBase*>(&object)),
        paramErr);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(makeBlock(kComponentCloseSelect, nullptr).get(),
                                                    nullptr),
              paramErr);
}

TEST(ComponentEntryLookup, BaseTableServesExactlyTheUnitSelectors) {
    const std::vector<SInt16> served = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 14, 15, 16, 17, 18};
    for (SInt16 s = -10; s < 600; ++s) {
        const bool expected = std::find(served.begin(), served.end(), s) != served.end();
        EXPECT_EQ(AUBaseLookup::Lookup(s) != nullptr, expected) << "selector " << s;
    }
    // Every selector has a method of its own.
    for (size_t i = 0; i < served.size(); ++i) {
        for (size_t j = i + 1; j < served.size(); ++j) {
            EXPECT_NE(AUBaseLookup::Lookup(served[i]), AUBaseLookup::Lookup(served[j]));
        }
    }
}

TEST(ComponentEntryLookup, TheOtherTablesAddTheirOwnSelectors) {
    struct Table {
        const char* name;
        AudioComponentMethod (*lookup)(SInt16);
        std::vector<SInt16> extra;
    };
    const std::vector<Table> tables = {
        {"output", AUOutputLookup::Lookup, {513, 514}},
        {"complex output", AUComplexOutputLookup::Lookup, {513, 514, 19}},
        {"process", AUBaseProcessLookup::Lookup, {20}},
        {"process multiple", AUBaseProcessMultipleLookup::Lookup, {20, 21}},
        {"MIDI", AUMIDILookup::Lookup, {257, 258}},
        {"MIDI process", AUMIDIProcessLookup::Lookup, {20, 257, 258}},
        {"music", AUMusicLookup::Lookup, {257, 258, 259, 260, 261, 262}},
    };
    for (const Table& t : tables) {
        for (SInt16 s = -10; s < 600; ++s) {
            const bool extra = std::find(t.extra.begin(), t.extra.end(), s) != t.extra.end();
            if (extra) {
                EXPECT_NE(t.lookup(s), nullptr) << t.name << " selector " << s;
            } else {
                // Everything else is exactly the base table's answer.
                EXPECT_EQ(t.lookup(s), AUBaseLookup::Lookup(s)) << t.name << " selector " << s;
            }
        }
    }
    // The same operation is the same method in every table; different ones differ.
    EXPECT_EQ(AUBaseProcessLookup::Lookup(20), AUMIDIProcessLookup::Lookup(20));
    EXPECT_EQ(AUMIDILookup::Lookup(257), AUMusicLookup::Lookup(257));
    EXPECT_EQ(AUOutputLookup::Lookup(513), AUComplexOutputLookup::Lookup(513));
    EXPECT_NE(AUMIDILookup::Lookup(257), AUMIDILookup::Lookup(258));
    EXPECT_NE(AUOutputLookup::Lookup(513), AUOutputLookup::Lookup(514));
}
