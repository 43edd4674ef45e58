// A file-tree cache file as found on disk. The reader either rebuilds a tree
// whose numbering matches a scan, or refuses the file and leaves the tree
// empty; a tree it accepts writes back the same file.
#include "FuzzSupport.h"

#include <NSVextra/FileTree.h>

#include <vector>

namespace {

using NSVextra::FileTNode;
using NSVextra::FileTree;

// Folders and files are numbered in tree order, depth first, from the root
// (folder 0); returns the node count.
int checkNumbering(FileTNode* node, int& folders, int& files) {
    int count = 1;
    if (node->type == FileTNode::kTypeFolder) {
        FUZZ_CHECK(node->folderID == folders++);
        FUZZ_CHECK(node->fileID == -1);
    } else {
        FUZZ_CHECK(node->type == FileTNode::kTypeFile);
        FUZZ_CHECK(node->fileID == files++);
        FUZZ_CHECK(node->folderID == -1);
        FUZZ_CHECK(node->children.empty());
    }
    FUZZ_CHECK(node->name != "." && node->name != "..");
    for (NSVextra::TNode* child : node->children)
        count += checkNumbering(static_cast<FileTNode*>(child), folders, files);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = fuzzsupport::scratchDir();
    const std::string cache = dir + "/tree.cache";
    FUZZ_CHECK(fuzzsupport::writeFile(cache, data, size));

    FileTree tree;
    tree.rootFolder = "/fuzz-root";
    tree.cacheFile = cache;
    const bool loaded = tree.loadCacheFile();
    if (!loaded) {
        FUZZ_CHECK(tree.getRootNode() == nullptr);
        FUZZ_CHECK(tree.getNodeCount() == 0);
    }

    // The recursive reader on a buffer of exactly the file's size, with no
    // terminator behind it: it must stop at the end of the data.
    {
        FileTree direct;
        direct.rootFolder = "/fuzz-root";
        auto* root = static_cast<FileTNode*>(direct.addNextNode(nullptr));
        root->path = direct.rootFolder;
        root->type = FileTNode::kTypeFolder;
        root->folderID = 0;
        std::vector<char> exact(data, data + size);
        int pos = 0;
        const bool ok =
            direct.loadCacheFileInt(root, exact.data(), pos, static_cast<int>(exact.size()));
        FUZZ_CHECK(pos >= 0 && static_cast<size_t>(pos) <= size);
        if (loaded)
            FUZZ_CHECK(ok && static_cast<size_t>(pos) == size);
    }
    if (!loaded)
        return 0;

    FileTNode* root = tree.getRootNode();
    FUZZ_CHECK(root != nullptr && root->path == tree.rootFolder);
    int folders = 0;
    int files = 0;
    const int nodes = checkNumbering(root, folders, files);
    FUZZ_CHECK(folders == tree.getFolderCount());
    FUZZ_CHECK(files == tree.getFileCount());
    FUZZ_CHECK(nodes == tree.getNodeCount());

    // Written back, the file is the same but for line prefixes: any prefix
    // other than "-" reads as a file and is written as "+".
    tree.cacheFile = dir + "/tree-again.cache";
    FUZZ_CHECK(tree.saveCacheFile());
    std::string again;
    FUZZ_CHECK(fuzzsupport::readFile(tree.cacheFile, again));
    FUZZ_CHECK(again.size() == size);
    bool lineStart = true;
    for (size_t i = 0; i < size; ++i) {
        const char in = static_cast<char>(data[i]);
        if (lineStart && in != '-' && in != '~')
            FUZZ_CHECK(again[i] == '+');
        else
            FUZZ_CHECK(again[i] == in);
        lineStart = in == '\n';
    }
    return 0;
}
