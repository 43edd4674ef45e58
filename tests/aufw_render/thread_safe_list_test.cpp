// The lock-free list on its own: order, duplicates, removals, and the
// recycling of its nodes.
#include <aufw/TThreadSafeList.h>

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item {
    int id = 0;
    int payload = 0;
    bool operator==(const Item& o) const { return id == o.id && payload == o.payload; }
};

std::vector<int> Ids(const TThreadSafeList<Item>& list) {
    std::vector<int> ids;
    for (const Item& item : list) {
        ids.push_back(item.id);
    }
    return ids;
}

TEST(TThreadSafeList, EventsApplyInPostingOrderOnlyAtUpdate) {
    TThreadSafeList<Item> list;
    list.deferred_add({1});
    list.deferred_add({2});
    list.deferred_add({3});
    EXPECT_TRUE(Ids(list).empty());
    list.update();
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 3}));

    // Duplicates are dropped; a removal takes the first equal entry.
    list.deferred_add({2});
    list.deferred_remove({1});
    list.deferred_add({4});
    list.deferred_remove({9}); // not there
    list.update();
    EXPECT_EQ(Ids(list), (std::vector<int>{2, 3, 4}));

    // Removed then added in one batch: present, at the end.
    list.deferred_remove({2});
    list.deferred_add({2});
    // Added then removed: absent.
    list.deferred_add({5});
    list.deferred_remove({5});
    list.update();
    EXPECT_EQ(Ids(list), (std::vector<int>{3, 4, 2}));
    list.update(); // nothing pending
    EXPECT_EQ(Ids(list), (std::vector<int>{3, 4, 2}));
}

TEST(TThreadSafeList, NodesAreRecycledSoAWarmListDoesNotAllocate) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    TThreadSafeList<Item> list;
    // Warm up: enough nodes for one add and one remove of each of 8 items.
    for (int i = 0; i < 8; ++i) {
        list.deferred_add({i});
    }
    list.update();
    for (int i = 0; i < 8; ++i) {
        list.deferred_remove({i});
    }
    list.update();
    EXPECT_TRUE(Ids(list).empty());

    rtcheck::Scope scope;
    for (int round = 0; round < 100; ++round) {
        for (int i = 0; i < 8; ++i) {
            list.deferred_add({i});
        }
        list.update();
        for (int i = 0; i < 8; ++i) {
            list.deferred_remove({i});
        }
        list.update();
    }
    EXPECT_EQ(scope.counts().allocations, 0);
    EXPECT_EQ(scope.counts().frees, 0);
    EXPECT_EQ(scope.counts().locks, 0);
}

} // namespace
