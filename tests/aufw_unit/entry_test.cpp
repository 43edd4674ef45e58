// The pieces of the entry layer on their own: the status every kind of
// raised error becomes, the open lock, parameter-block slots, the
// component-level requests, and the lookup tables of the whole family.
#include "entry_support.h"

#include <aufw/ComponentEntry.h>

#include <algorithm>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <vector>

using namespace entrytest;

TEST(ComponentEntryErrors, EveryRaisedKindBecomesItsStatus) {
    // 16-bit errors are sign-extended; anything else than a status is -1.
    const std::pair<std::function<void()>, OSStatus> rows[] = {
        {[] { throw CAXException("op", -10877); }, -10877},
        {[] { throw CAException(-10866); }, -10866},
        {[] { throw std::bad_alloc(); }, -108},
        {[] { throw std::bad_array_new_length(); }, -108},
        {[] { throw static_cast<SInt32>(-10878); }, -10878},
        {[] { throw static_cast<SInt32>(0x7FFF0000); }, 0x7FFF0000},
        {[] { throw static_cast<SInt16>(-32768); }, -32768},
        {[] { throw std::runtime_error("x"); }, -1},
        {[] { throw static_cast<UInt32>(5); }, -1},
        {[] { throw static_cast<long>(-50); }, -1},
        {[] { throw 1.0; }, -1},
        {[] {}, 12345}}; // the last: a request that raises nothing keeps its own answer
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(ComponentEntryCall([&]() -> OSStatus {
                      rows[i].first();
                      return 12345;
                  }),
                  rows[i].second)
            << "row " << i;
    }
}

TEST(ComponentEntryLock, IsRecursiveExcludesOtherThreadsAndIsFreedByTheLastRelease) {
    {
        ComponentInitLocker outer;
        {
            ComponentInitLocker inner; // the same thread takes it again
            EXPECT_EQ(VXTestUnitOpenLockHeld(), 1);
        }
        EXPECT_EQ(VXTestUnitOpenLockHeld(), 1);
    }
    EXPECT_EQ(VXTestUnitOpenLockHeld(), 0);
}

// Slots are read by every request the Component Manager tests send; what
// those cannot reach is checked here.
TEST(ComponentEntryBlocks, OnlyCanDoCarriesASelectorAndNothingDispatchesWithoutBoth) {
    Block canDo = makeBlock(kComponentVersionSelect, nullptr, SInt16{14});
    long object = 0;
    EXPECT_EQ((std::vector<long>{ComponentBase::GetSelectorForCanDo(canDo.get()),
                                 ComponentBase::GetSelectorForCanDo(nullptr),
                                 ComponentBase::ComponentEntryDispatch(
                                     nullptr, reinterpret_cast<ComponentBase*>(&object)),
                                 ComponentBase::ComponentEntryDispatch(canDo.get(), nullptr)}),
              (std::vector<long>{0, 0, paramErr, paramErr}));
}

TEST(ComponentEntryLookup, EachTableServesTheBaseSelectorsAndItsOwn) {
    const std::vector<SInt16> base = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 14, 15, 16, 17, 18};
    const std::pair<AudioComponentMethod (*)(SInt16), std::vector<SInt16>> tables[] = {
        {AUBaseLookup::Lookup, {}},
        {AUOutputLookup::Lookup, {513, 514}},
        {AUComplexOutputLookup::Lookup, {513, 514, 19}},
        {AUBaseProcessLookup::Lookup, {20}},
        {AUBaseProcessMultipleLookup::Lookup, {20, 21}},
        {AUMIDILookup::Lookup, {257, 258}},
        {AUMIDIProcessLookup::Lookup, {20, 257, 258}},
        {AUMusicLookup::Lookup, {257, 258, 259, 260, 261, 262}}};
    const auto has = [](const std::vector<SInt16>& v, SInt16 s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    // Every operation has a method of its own, the same in every table.
    std::set<AudioComponentMethod> methods;
    for (size_t t = 0; t < std::size(tables); ++t) {
        for (SInt16 s = -10; s < 600; ++s) {
            const AudioComponentMethod m = tables[t].first(s);
            if (has(tables[t].second, s)) {
                EXPECT_NE(m, nullptr) << "table " << t << " selector " << s;
                methods.insert(m);
            } else {
                EXPECT_EQ(m, has(base, s) ? AUBaseLookup::Lookup(s) : nullptr)
                    << "table " << t << " selector " << s;
            }
        }
    }
    for (SInt16 s : base) {
        methods.insert(AUBaseLookup::Lookup(s));
    }
    EXPECT_EQ(methods.size(), base.size() + 11);
    EXPECT_EQ(methods.count(nullptr), 0u);
}
