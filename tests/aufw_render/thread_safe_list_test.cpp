// The lock-free list on its own: order, duplicates and removals applied at
// update. (That warm lists recycle their nodes is counted by the effect's
// warm render test, whose notification leaves and comes back every cycle.)
#include <aufw/TThreadSafeList.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(TThreadSafeList, EventsApplyInPostingOrderOnlyAtUpdate) {
    TThreadSafeList<int> list;
    const auto update = [&](std::vector<std::pair<bool, int>> events) { // {add?, value}
        for (auto [add, value] : events) {
            add ? list.deferred_add(value) : list.deferred_remove(value);
        }
        std::vector<int> before(list.begin(), list.end());
        list.update();
        return std::make_pair(before, std::vector<int>(list.begin(), list.end()));
    };
    using Items = std::vector<int>;
    EXPECT_EQ(update({{true, 1}, {true, 2}, {true, 3}}), std::make_pair(Items{}, Items{1, 2, 3}));
    // Duplicates are dropped; a removal takes the first equal entry, or none.
    EXPECT_EQ(update({{true, 2}, {false, 1}, {true, 4}, {false, 9}}).second, (Items{2, 3, 4}));
    // Removed then added in one batch: present, at the end. Added then
    // removed: absent.
    EXPECT_EQ(update({{false, 2}, {true, 2}, {true, 5}, {false, 5}}).second, (Items{3, 4, 2}));
    EXPECT_EQ(update({}).second, (Items{3, 4, 2}));
}

} // namespace
