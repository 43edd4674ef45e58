// A general n-ary tree that indexes its nodes by creation number (UID) and,
// per depth, in creation order, so that lookups need no traversal.
#pragma once

#include <vector>

namespace NSVextra {

// Base of all tree nodes. The tree owns every node; a node's destructor frees
// only its own children vector, never the children themselves.
class TNode {
public:
    TNode() = default;
    virtual ~TNode() = default;

    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;

    int level = 0;        // depth; level-0 nodes have no parent
    int siblingIndex = 0; // position among the parent's children
    int levelIndex = 0;   // position in the list of its level
    int uid = 0;          // creation number: 0, 1, 2, ...
    TNode* parent = nullptr;
    TNode* firstChild = nullptr;  // set by addSubNode on this node
    TNode* next = nullptr;        // following sibling
    std::vector<TNode*> children; // in creation order
};

// The nodes of one level, in creation order.
typedef std::vector<TNode*> TreeLevItem;

class Tree {
public:
    Tree() = default;
    virtual ~Tree();

    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // Factory for the nodes, so that a derived tree can use its own node class.
    virtual TNode* createNode();

    // A node following `prev` among its siblings; with a null `prev`, a
    // level-0 node (the root when the tree is empty).
    TNode* addNextNode(TNode* prev);
    // A node at sibling index 0 below `parent`; null (and nothing added) when
    // `parent` is null. Further children go in with addNextNode on the
    // previous child.
    TNode* addSubNode(TNode* parent);

    // Deletes every node and empties the indexes; the tree can be filled again.
    void release();

    // Null when i is negative or not below the node count.
    TNode* getNode(int i) const;
    TNode* getNodeByUID(int uid) const { return getNode(uid); }
    // The pos-th node of the level, or null.
    TNode* getNodeByPos(int level, int pos) const;
    // Walks the next links from `first` to the node whose sibling index is pos.
    TNode* getNodeByPos(TNode* first, int pos) const;
    TNode* getSubNodeByPos(TNode* parent, int pos) const;
    int getNumSubnodes(TNode* node) const;
    int getNumNodesAtLevel(int level) const;

    TNode* getRoot() const { return m_pRoot; }
    int getNodeCount() const { return m_numNodes; }
    int getNumLevels() const { return static_cast<int>(m_levels.size()); }

private:
    void indexNode(TNode* node);

    TNode* m_pRoot = nullptr;
    std::vector<TreeLevItem> m_levels;
    std::vector<TNode*> m_nodes; // indexed by UID
    int m_numNodes = 0;
};

} // namespace NSVextra
