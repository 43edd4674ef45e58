#include <NSVextra/Tree.h>

namespace NSVextra {

Tree::~Tree() {
    release();
}

TNode* Tree::createNode() {
    return new TNode();
}

TNode* Tree::addNextNode(TNode* prev) {
    TNode* node = createNode();
    if (prev) {
        prev->next = node;
        node->level = prev->level;
        node->parent = prev->parent;
        node->siblingIndex = prev->siblingIndex + 1;
    } else {
        node->level = 0;
        node->parent = nullptr;
        node->siblingIndex = 0;
        if (!m_pRoot)
            m_pRoot = node;
    }
    indexNode(node);
    return node;
}

TNode* Tree::addSubNode(TNode* parent) {
    if (!parent)
        return nullptr;
    TNode* node = createNode();
    parent->firstChild = node;
    node->level = parent->level + 1;
    node->parent = parent;
    node->siblingIndex = 0;
    indexNode(node);
    return node;
}

void Tree::indexNode(TNode* node) {
    node->uid = m_numNodes;
    // Levels grow one at a time: a node is never more than one level below
    // the deepest node already in the tree.
    while (static_cast<int>(m_levels.size()) <= node->level)
        m_levels.emplace_back();
    TreeLevItem& level = m_levels[node->level];
    node->levelIndex = static_cast<int>(level.size());
    level.push_back(node);
    m_nodes.push_back(node);
    ++m_numNodes;
    if (node->parent)
        node->parent->children.push_back(node);
}

void Tree::release() {
    m_pRoot = nullptr;
    for (TNode* node : m_nodes)
        delete node;
    m_levels.clear();
    m_nodes.clear();
    m_numNodes = 0;
}

TNode* Tree::getNode(int i) const {
    if (i < 0 || i >= m_numNodes)
        return nullptr;
    return m_nodes[i];
}

TNode* Tree::getNodeByPos(int level, int pos) const {
    if (level < 0 || level >= static_cast<int>(m_levels.size()))
        return nullptr;
    const TreeLevItem& nodes = m_levels[level];
    if (pos < 0 || pos >= static_cast<int>(nodes.size()))
        return nullptr;
    return nodes[pos];
}

TNode* Tree::getNodeByPos(TNode* first, int pos) const {
    for (TNode* node = first; node; node = node->next) {
        if (node->siblingIndex == pos)
            return node;
    }
    return nullptr;
}

TNode* Tree::getSubNodeByPos(TNode* parent, int pos) const {
    if (!parent || pos < 0 || pos >= static_cast<int>(parent->children.size()))
        return nullptr;
    return parent->children[pos];
}

int Tree::getNumSubnodes(TNode* node) const {
    return node ? static_cast<int>(node->children.size()) : 0;
}

int Tree::getNumNodesAtLevel(int level) const {
    if (level < 0 || level >= static_cast<int>(m_levels.size()))
        return 0;
    return static_cast<int>(m_levels[level].size());
}

} // namespace NSVextra
