#include <NSVextra/Tree.h>

#include <gtest/gtest.h>

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

// root
// ├── a
// │   ├── a0
// │   └── a1
// └── b
//     └── b0
struct Shape {
    TNode *root, *a, *a0, *a1, *b, *b0;
};

Shape build(Tree& tree) {
    Shape s{};
    s.root = tree.addNextNode(nullptr);
    s.a = tree.addSubNode(s.root);
    s.a0 = tree.addSubNode(s.a);
    s.a1 = tree.addNextNode(s.a0);
    s.b = tree.addNextNode(s.a);
    s.b0 = tree.addSubNode(s.b);
    return s;
}

} // namespace

TEST(Tree, LinksAndIndexesFollowCreationOrder) {
    Tree tree;
    const Shape s = build(tree);

    ASSERT_EQ(tree.getNodeCount(), 6);
    EXPECT_EQ(tree.getRoot(), s.root);
    const TNode* byUid[] = {s.root, s.a, s.a0, s.a1, s.b, s.b0};
    for (int uid = 0; uid < 6; ++uid) {
        EXPECT_EQ(tree.getNode(uid), byUid[uid]);
        EXPECT_EQ(tree.getNodeByUID(uid), byUid[uid]);
        EXPECT_EQ(byUid[uid]->uid, uid);
    }

    EXPECT_EQ(s.root->level, 0);
    EXPECT_EQ(s.root->parent, nullptr);
    EXPECT_EQ(s.a->level, 1);
    EXPECT_EQ(s.b0->level, 2);
    EXPECT_EQ(s.a1->parent, s.a);
    EXPECT_EQ(s.b->parent, s.root);

    EXPECT_EQ(s.a->siblingIndex, 0);
    EXPECT_EQ(s.b->siblingIndex, 1);
    EXPECT_EQ(s.a1->siblingIndex, 1);
    EXPECT_EQ(s.a->next, s.b);
    EXPECT_EQ(s.b->next, nullptr);
    EXPECT_EQ(s.root->firstChild, s.a);

    // Level lists hold each depth in creation order, across parents.
    ASSERT_EQ(tree.getNumLevels(), 3);
    EXPECT_EQ(tree.getNumNodesAtLevel(0), 1);
    EXPECT_EQ(tree.getNumNodesAtLevel(1), 2);
    EXPECT_EQ(tree.getNumNodesAtLevel(2), 3);
    EXPECT_EQ(tree.getNumNodesAtLevel(3), 0);
    EXPECT_EQ(tree.getNodeByPos(2, 0), s.a0);
    EXPECT_EQ(tree.getNodeByPos(2, 1), s.a1);
    EXPECT_EQ(tree.getNodeByPos(2, 2), s.b0);
    EXPECT_EQ(s.b0->levelIndex, 2);

    EXPECT_EQ(tree.getNumSubnodes(s.root), 2);
    EXPECT_EQ(tree.getNumSubnodes(s.a), 2);
    EXPECT_EQ(tree.getNumSubnodes(s.a1), 0);
    EXPECT_EQ(tree.getNumSubnodes(nullptr), 0);
    EXPECT_EQ(tree.getSubNodeByPos(s.root, 1), s.b);
    EXPECT_EQ(tree.getSubNodeByPos(s.a, 1), s.a1);
    EXPECT_EQ(tree.getNodeByPos(s.a, 1), s.b);
    EXPECT_EQ(tree.getNodeByPos(s.a0, 1), s.a1);
}

TEST(Tree, OutOfRangeLookupsAnswerNull) {
    Tree tree;
    EXPECT_EQ(tree.getRoot(), nullptr);
    EXPECT_EQ(tree.getNode(0), nullptr);
    EXPECT_EQ(tree.getNodeByPos(0, 0), nullptr);

    const Shape s = build(tree);
    EXPECT_EQ(tree.getNode(-1), nullptr);
    EXPECT_EQ(tree.getNode(6), nullptr);
    EXPECT_EQ(tree.getNodeByPos(-1, 0), nullptr);
    EXPECT_EQ(tree.getNodeByPos(1, 2), nullptr);
    EXPECT_EQ(tree.getNodeByPos(1, -1), nullptr);
    EXPECT_EQ(tree.getNodeByPos(7, 0), nullptr);
    EXPECT_EQ(tree.getSubNodeByPos(s.a, 2), nullptr);
    EXPECT_EQ(tree.getSubNodeByPos(s.a, -1), nullptr);
    EXPECT_EQ(tree.getSubNodeByPos(nullptr, 0), nullptr);
    EXPECT_EQ(tree.getNodeByPos(s.a, 5), nullptr);
    EXPECT_EQ(tree.getNodeByPos(nullptr, 0), nullptr);
    EXPECT_EQ(tree.getNumNodesAtLevel(-1), 0);
}

TEST(Tree, SubNodeOfNullAddsNothing) {
    Tree tree;
    EXPECT_EQ(tree.addSubNode(nullptr), nullptr);
    EXPECT_EQ(tree.getNodeCount(), 0);
    EXPECT_EQ(tree.getNumLevels(), 0);

    build(tree);
    EXPECT_EQ(tree.addSubNode(nullptr), nullptr);
    EXPECT_EQ(tree.getNodeCount(), 6);
}

TEST(Tree, ReleaseDeletesEveryNodeAndAllowsRefilling) {
    {
        CountedTree tree;
        build(tree);
        EXPECT_EQ(liveNodes, 6);

        tree.release();
        EXPECT_EQ(liveNodes, 0);
        EXPECT_EQ(tree.getRoot(), nullptr);
        EXPECT_EQ(tree.getNodeCount(), 0);
        EXPECT_EQ(tree.getNumLevels(), 0);
        EXPECT_EQ(tree.getNode(0), nullptr);
        tree.release(); // releasing an empty tree is harmless

        // A refilled tree numbers its nodes from 0 again.
        const Shape s = build(tree);
        EXPECT_EQ(liveNodes, 6);
        EXPECT_EQ(s.root->uid, 0);
        EXPECT_EQ(s.b0->uid, 5);
        EXPECT_EQ(tree.getNodeByPos(2, 2), s.b0);
    }
    // The destructor frees the nodes through their own destructors.
    EXPECT_EQ(liveNodes, 0);
}
