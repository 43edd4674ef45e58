#include <NSVextra/Tree.h>

#include "support.h"

using NSVextra::TNode;
using NSVextra::Tree;

namespace {

int liveNodes = 0;

struct CountedNode : TNode {
    CountedNode() { ++liveNodes; }
    ~CountedNode() override { --liveNodes; }
};

struct CountedTree : Tree {
    TNode* createNode() override { return new CountedNode(); }
};

// root: a (a0, a1), b (b0), made in the order root, a, a0, a1, b, b0.
std::vector<TNode*> build(Tree& tree) {
    TNode* root = tree.addNextNode(nullptr);
    TNode* a = tree.addSubNode(root);
    TNode* a0 = tree.addSubNode(a);
    tree.addNextNode(a0);
    TNode* b = tree.addNextNode(a);
    tree.addSubNode(b);
    return {root, a, a0, a0->next, b, b->firstChild};
}

// "uid level parent sibling levelIndex next firstChild" for every node, with
// each node found by uid, by level and position, and among its siblings.
std::string layout(const Tree& tree) {
    auto uid = [](const TNode* n) { return n ? n->uid : -1; };
    std::string out;
    for (int i = 0; i < tree.getNodeCount(); ++i) {
        TNode* n = tree.getNodeByUID(i);
        const bool found =
            n == tree.getNode(i) && n == tree.getNodeByPos(n->level, n->levelIndex) &&
            n == tree.getNodeByPos(n->parent ? n->parent->firstChild : n, n->siblingIndex) &&
            (!n->parent || n == tree.getSubNodeByPos(n->parent, n->siblingIndex));
        out += fmt::format("{} {} {} {} {} {} {}{}\n", n->uid, n->level, uid(n->parent),
                           n->siblingIndex, n->levelIndex, uid(n->next), uid(n->firstChild),
                           found ? "" : " (not found)");
    }
    return out;
}

} // namespace

TEST(Tree, LinksAndIndexesFollowCreationOrderAndOutOfRangeIsNull) {
    Tree tree;
    EXPECT_EQ(tree.getRoot(), nullptr);
    EXPECT_EQ(tree.getNodeByPos(0, 0), nullptr);
    EXPECT_EQ(tree.addSubNode(nullptr), nullptr);
    const std::vector<TNode*> n = build(tree);
    EXPECT_EQ(tree.addSubNode(nullptr), nullptr);
    EXPECT_EQ(tree.getRoot(), n[0]);
    EXPECT_EQ(layout(tree), "0 0 -1 0 0 -1 1\n"
                            "1 1 0 0 0 4 2\n"
                            "2 2 1 0 0 3 -1\n"
                            "3 2 1 1 1 -1 -1\n"
                            "4 1 0 1 1 -1 5\n"
                            "5 2 4 0 2 -1 -1\n");
    const int perLevel[] = {1, 2, 3, 0};
    for (int level = -1; level < 4; ++level)
        EXPECT_EQ(tree.getNumNodesAtLevel(level), level < 0 ? 0 : perLevel[level]) << level;
    EXPECT_EQ(tree.getNumLevels(), 3);
    EXPECT_EQ(tree.getNumSubnodes(n[1]), 2);
    EXPECT_EQ(tree.getNumSubnodes(n[3]), 0);
    EXPECT_EQ(tree.getNumSubnodes(nullptr), 0);
    for (int uid : {-1, 6})
        EXPECT_EQ(tree.getNode(uid), nullptr) << uid;
    for (auto [level, pos] : {std::pair{-1, 0}, {1, 2}, {1, -1}, {3, 0}})
        EXPECT_EQ(tree.getNodeByPos(level, pos), nullptr) << level << "," << pos;
    for (auto [parent, pos] : {std::pair{n[1], 2}, {n[1], -1}, {nullptr, 0}})
        EXPECT_EQ(tree.getSubNodeByPos(parent, pos), nullptr) << pos;
    EXPECT_EQ(tree.getNodeByPos(n[1], 5), nullptr);
    EXPECT_EQ(tree.getNodeByPos(nullptr, 0), nullptr);
}

TEST(Tree, ReleaseDeletesEveryNodeAndAllowsRefilling) {
    {
        CountedTree tree;
        const std::string first = (build(tree), layout(tree));
        EXPECT_EQ(liveNodes, 6);
        tree.release();
        EXPECT_EQ(liveNodes, 0);
        EXPECT_EQ(tree.getRoot(), nullptr);
        EXPECT_EQ(tree.getNodeCount() + tree.getNumLevels(), 0);
        EXPECT_EQ(tree.getNode(0), nullptr);
        build(tree);
        EXPECT_EQ(layout(tree), first); // numbered from 0 again
    }
    EXPECT_EQ(liveNodes, 0); // the destructor frees nodes through their own destructors
}
