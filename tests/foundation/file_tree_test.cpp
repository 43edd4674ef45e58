#include "support.h"

#include <NSVextra/FileTree.h>

using NSVextra::FileTNode;
using NSVextra::FileTree;
using NSVextra::FTR_Item;
using vxtest::TempDir;
using Names = std::vector<std::string>;

namespace {

FileTNode* child(const FileTree& tree, FileTNode* folder, int pos) {
    return static_cast<FileTNode*>(tree.getSubNodeByPos(folder, pos));
}

Names childNames(const FileTree& tree, FileTNode* folder) {
    Names names;
    for (int i = 0; i < tree.getNumSubnodes(folder); ++i)
        names.push_back(child(tree, folder, i)->name);
    return names;
}

// Leaves out "*.tmp" files, folders named "skip" and anything below
// "/keep/out".
struct FilteredTree : FileTree {
    bool fileAllowed(const std::string& name) override { return !name.ends_with(".tmp"); }
    bool folderAllowed(const std::string& name) override { return name != "skip"; }
    bool pathAllowed(const std::string& path) override {
        return path.find("/keep/out") == std::string::npos;
    }
};

} // namespace

TEST(FileTreeListing, SortsByteWiseWithFoldersAndFilesMixed) {
    TempDir dir;
    for (const char* f : {"b", "a", "ab", "\xC3\xA9"}) // é sorts after every ASCII name
        dir.file(f);
    dir.folder("A");
    dir.folder("B");
    std::vector<FTR_Item> items{{"kept", false}}; // appended to, not replaced
    NSVextra::readFileTree(dir.path(), items);
    Names names;
    std::string kinds;
    for (const FTR_Item& item : items) {
        names.push_back(item.name);
        kinds += item.folder ? 'd' : 'f';
    }
    EXPECT_EQ(names, (Names{"kept", "A", "B", "a", "ab", "b", "\xC3\xA9"}));
    EXPECT_EQ(kinds, "fddffff");
    EXPECT_FALSE(NSVextra::FTR_SortFunc({"a", false}, {"a", true}));
    // A folder that cannot be listed leaves the list as it was.
    std::vector<FTR_Item> none{{"x", true}};
    NSVextra::readFileTree(dir / "missing", none);
    NSVextra::readFileTree(dir / "b", none);
    EXPECT_EQ(none.size(), 1u);
}

TEST(FileTreeScan, DepthFirstIdsSortedChildrenAndNoFinderFiles) {
    TempDir dir;
    dir.folder("a");
    for (const char* f : {"a/f", "a/.DS_Store", "g", ".DS_Store", ".dsstore", ".DS_STORE"})
        dir.file(f);
    FileTree tree;
    EXPECT_FALSE(tree.scanRootFolder()); // no root folder named
    tree.rootFolder = dir / "missing";   // a missing one: a root without children
    EXPECT_TRUE(tree.scanRootFolder());
    EXPECT_EQ(tree.getNodeCount(), 1);
    tree.rootFolder = dir.path(); // scanning again starts over
    ASSERT_TRUE(tree.rescan(false));

    FileTNode* root = tree.getRootNode();
    EXPECT_EQ(root->name, "");
    EXPECT_EQ(root->path, dir.path());
    EXPECT_EQ(root->type, FileTNode::kTypeFolder);
    EXPECT_EQ(childNames(tree, root), (Names{".DS_STORE", "a", "g"}));
    // In id order: root, .DS_STORE, a, a/f, g.
    const struct {
        const char* rel;
        int type, folderID, fileID;
    } rows[] = {{".DS_STORE", FileTNode::kTypeFile, -1, 0},
                {"a", FileTNode::kTypeFolder, 1, -1},
                {"a/f", FileTNode::kTypeFile, -1, 1},
                {"g", FileTNode::kTypeFile, -1, 2}};
    ASSERT_EQ(tree.getNodeCount(), 5);
    for (int i = 0; i < 4; ++i) {
        auto* node = static_cast<FileTNode*>(tree.getNode(i + 1));
        EXPECT_EQ(node->path, dir / rows[i].rel);
        EXPECT_EQ(node->type, rows[i].type) << rows[i].rel;
        EXPECT_EQ(node->folderID, rows[i].folderID) << rows[i].rel;
        EXPECT_EQ(node->fileID, rows[i].fileID) << rows[i].rel;
        std::string rel;
        tree.getRelativePath(node, rel);
        EXPECT_EQ(rel, rows[i].rel);
        EXPECT_EQ(tree.getFTNoteByFileID(rows[i].fileID), rows[i].fileID < 0 ? nullptr : node);
    }
    EXPECT_EQ(tree.getFTNoteByFileID(3), nullptr);
    EXPECT_EQ(tree.getFTNoteByFileID(-1),
              nullptr); // folders carry -1 but are not files
    EXPECT_EQ(tree.getFolderCount(), 2);
    EXPECT_EQ(tree.getFileCount(), 3);
    int folders = 7, files = 7;
    tree.getNumItemsAtLevel(1, folders, files);
    EXPECT_EQ(folders * 10 + files, 12);
    tree.getNumItemsAtLevel(3, folders, files); // beyond the deepest: unchanged
    EXPECT_EQ(folders * 10 + files, 12);
}

TEST(FileTreeScan, FiltersAndLinksBack) {
    TempDir dir;
    for (const char* f : {"a.tmp", "b.txt", "skip/inner", "keep/in", "sub/f", "other/o"}) {
        dir.folder(std::filesystem::path(f).parent_path());
        dir.file(f);
    }
    dir.folder("keep/out");
    dir.folder("tmp.tmp"); // the file filter does not apply to folders
    // Links back to a scanned folder stay empty folders; one outside is
    // followed like any folder.
    std::filesystem::create_directory_symlink("..", dir / "sub/up");
    std::filesystem::create_directory_symlink(dir / "sub", dir / "sub/self");
    std::filesystem::create_directory_symlink(dir / "other", dir / "sub/ext");
    FilteredTree tree;
    tree.rootFolder = dir.path();
    ASSERT_TRUE(tree.rescan(false));
    FileTNode* root = tree.getRootNode();
    EXPECT_EQ(childNames(tree, root), (Names{"b.txt", "keep", "other", "sub", "tmp.tmp"}));
    FileTNode* keep = child(tree, root, 1);
    EXPECT_EQ(childNames(tree, keep), (Names{"in"}));
    EXPECT_EQ(keep->firstChild->siblingIndex,
              0); // even with entries left out before it
    FileTNode* sub = child(tree, root, 3);
    EXPECT_EQ(childNames(tree, sub), (Names{"ext", "f", "self", "up"}));
    EXPECT_EQ(childNames(tree, child(tree, sub, 0)), (Names{"o"}));
    for (int pos : {2, 3}) {
        EXPECT_EQ(child(tree, sub, pos)->type, FileTNode::kTypeFolder) << pos;
        EXPECT_EQ(tree.getNumSubnodes(child(tree, sub, pos)), 0) << pos;
    }
    EXPECT_EQ(tree.getFolderCount(), 8);
    EXPECT_EQ(tree.getFileCount(), 5);
}
