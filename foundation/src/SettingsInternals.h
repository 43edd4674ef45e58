// What a settings document keeps only for its own reading and writing: the
// node pools and the reader's and composer's working state. Kept out of the
// public header so that callers see the document, not how it is parsed.
#pragma once

#include "NSVextra/Settings.h"
#include "NodePool.h"

#include <string>

namespace NSVextra {

struct Settings::Internals {
    // The script being composed; written to the file in one go.
    std::string script;
    int parseDepth = 0;
    // The value the reader appended last and its group, so that a group's
    // values are appended without walking its list; forgotten whenever
    // nodes are released.
    GroupNode* parseValueGroup = nullptr;
    PropNode* parseValueTail = nullptr;
    // The terminating zero of the text buffer while parseText runs: text
    // up to it may be read in whole blocks.
    const char* textEnd = nullptr;
    // Every group and value node of the document.
    NodePool<GroupNode> groupPool;
    NodePool<PropNode> valuePool;

    void forgetParseTail() {
        parseValueGroup = nullptr;
        parseValueTail = nullptr;
    }
};

} // namespace NSVextra
