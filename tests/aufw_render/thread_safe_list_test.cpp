// The lock-free list on its own: order, duplicates, removals, and the
// recycling of its nodes.
#include <aufw/TThreadSafeList.h>

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> Items(const TThreadSafeList<int>& list) {
    return std::vector<int>(list.begin(), list.end());
}

TEST(TThreadSafeList, EventsApplyInPostingOrderOnlyAtUpdate) {
    TThreadSafeList<int> list;
    for (int i : {1, 2, 3}) {
        list.deferred_add(i);
    }
    EXPECT_TRUE(Items(list).empty());
    list.update();
    EXPECT_EQ(Items(list), (std::vector<int>{1, 2, 3}));

    // Duplicates are dropped; a removal takes the first equal entry.
    list.deferred_add(2);
    list.deferred_remove(1);
    list.deferred_add(4);
    list.deferred_remove(9); // not there
    list.update();
    EXPECT_EQ(Items(list), (std::vector<int>{2, 3, 4}));

    // Removed then added in one batch: present, at the end. Added then
    // removed: absent.
    list.deferred_remove(2);
    list.deferred_add(2);
    list.deferred_add(5);
    list.deferred_remove(5);
    list.update();
    EXPECT_EQ(Items(list), (std::vector<int>{3, 4, 2}));
    list.update(); // nothing pending
    EXPECT_EQ(Items(list), (std::vector<int>{3, 4, 2}));
}

TEST(TThreadSafeList, NodesAreRecycledSoAWarmListDoesNotAllocate) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    TThreadSafeList<int> list;
    auto addAndRemoveEight = [&] {
        for (int i = 0; i < 8; ++i) {
            list.deferred_add(i);
        }
        list.update();
        for (int i = 0; i < 8; ++i) {
            list.deferred_remove(i);
        }
        list.update();
    };
    addAndRemoveEight(); // warm: enough nodes for one add and one remove of each
    EXPECT_TRUE(Items(list).empty());
    rtcheck::Scope scope;
    for (int round = 0; round < 100; ++round) {
        addAndRemoveEight();
    }
    EXPECT_EQ(scope.counts().allocations, 0);
    EXPECT_EQ(scope.counts().frees, 0);
    EXPECT_EQ(scope.counts().locks, 0);
}

} // namespace
