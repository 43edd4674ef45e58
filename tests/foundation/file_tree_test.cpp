#include "support.h"

#include <NSVextra/FileTree.h>

#include <gtest/gtest.h>

#include <algorithm>

using NSVextra::FileTNode;
using NSVextra::FileTree;
using NSVextra::FTR_Item;
using vxtest::TempDir;

namespace {

FileTNode* node(const FileTree& tree, int uid) {
    return static_cast<FileTNode*>(tree.getNode(uid));
}

std::vector<std::string> childNames(const FileTree& tree, FileTNode* folder) {
    std::vector<std::string> names;
    for (int i = 0; i < tree.getNumSubnodes(folder); ++i)
        names.push_back(static_cast<FileTNode*>(tree.getSubNodeByPos(folder, i))->name);
    return names;
}

} // namespace

TEST(FileTreeListing, SortsByteWiseWithFoldersAndFilesMixed) {
    TempDir dir;
    dir.file("b");
    dir.folder("A");
    dir.file("a");
    dir.file("ab");
    dir.folder("B");
    dir.file("\xC3\xA9"); // é: its UTF-8 bytes sort after every ASCII name

    std::vector<FTR_Item> items;
    items.push_back({"kept", false});
    NSVextra::readFileTree(dir.path(), items);
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(items[0].name, "kept"); // appended to, not replaced
    const char* expected[] = {"A", "B", "a", "ab", "b", "\xC3\xA9"};
    const bool folder[] = {true, true, false, false, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(items[i + 1].name, expected[i]);
        EXPECT_EQ(items[i + 1].folder, folder[i]) << expected[i];
    }

    EXPECT_TRUE(NSVextra::FTR_SortFunc({"a", false}, {"ab", true}));
    EXPECT_FALSE(NSVextra::FTR_SortFunc({"ab", false}, {"a", true}));
    EXPECT_FALSE(NSVextra::FTR_SortFunc({"a", false}, {"a", true}));

    // A folder that cannot be listed leaves the list as it was.
    std::vector<FTR_Item> none{{"x", true}};
    NSVextra::readFileTree(dir / "missing", none);
    NSVextra::readFileTree(dir / "b", none); // a plain file
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].name, "x");
}

TEST(FileTreeScan, TreeFollowsSortedListingAndSkipsFinderFiles) {
    TempDir dir;
    dir.file("b");
    dir.folder("A");
    dir.file("a");
    dir.file(".DS_Store");
    dir.file(".dsstore");
    dir.file(".DS_STORE");
    dir.file("A/.DS_Store");
    dir.file("A/~lock");

    FileTree tree;
    tree.rootFolder = dir.path();
    ASSERT_TRUE(tree.rescan(false));

    FileTNode* root = tree.getRootNode();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "");
    EXPECT_EQ(root->path, dir.path());
    EXPECT_EQ(root->type, FileTNode::kTypeFolder);
    EXPECT_EQ(root->folderID, 0);
    EXPECT_EQ(childNames(tree, root), (std::vector<std::string>{".DS_STORE", "A", "a", "b"}));
    FileTNode* folderA = static_cast<FileTNode*>(tree.getSubNodeByPos(root, 1));
    EXPECT_EQ(childNames(tree, folderA), (std::vector<std::string>{"~lock"}));
    EXPECT_EQ(static_cast<FileTNode*>(tree.getSubNodeByPos(folderA, 0))->path, dir / "A/~lock");
    EXPECT_EQ(tree.getFolderCount(), 2);
    EXPECT_EQ(tree.getFileCount(), 4);
}

TEST(FileTreeScan, IdsAreGivenDepthFirst) {
    // root: a/ (holding f) and g
    TempDir dir;
    dir.folder("a");
    dir.file("a/f");
    dir.file("g");

    FileTree tree;
    tree.rootFolder = dir.path();
    ASSERT_TRUE(tree.scanRootFolder());
    ASSERT_EQ(tree.getNodeCount(), 4);

    FileTNode* a = node(tree, 1);
    FileTNode* f = node(tree, 2);
    FileTNode* g = node(tree, 3);
    EXPECT_EQ(a->name, "a");
    EXPECT_EQ(a->type, FileTNode::kTypeFolder);
    EXPECT_EQ(a->folderID, 1);
    EXPECT_EQ(a->fileID, -1);
    EXPECT_EQ(f->name, "f");
    EXPECT_EQ(f->path, dir / "a/f");
    EXPECT_EQ(f->type, FileTNode::kTypeFile);
    EXPECT_EQ(f->fileID, 0);
    EXPECT_EQ(f->folderID, -1);
    EXPECT_EQ(g->name, "g");
    EXPECT_EQ(g->fileID, 1);
    EXPECT_EQ(g->parent, tree.getRoot());

    std::string rel;
    tree.getRelativePath(f, rel);
    EXPECT_EQ(rel, "a/f");
    tree.getRelativePath(g, rel);
    EXPECT_EQ(rel, "g");
    tree.getRelativePath(tree.getRootNode(), rel);
    EXPECT_EQ(rel, "");

    EXPECT_EQ(tree.getFTNoteByFileID(0), f);
    EXPECT_EQ(tree.getFTNoteByFileID(1), g);
    EXPECT_EQ(tree.getFTNoteByFileID(2), nullptr);
    EXPECT_EQ(tree.getFTNoteByFileID(-1), nullptr); // folders carry -1 but are not files

    int folders = 7, files = 7;
    tree.getNumItemsAtLevel(1, folders, files);
    EXPECT_EQ(folders, 1);
    EXPECT_EQ(files, 1);
    tree.getNumItemsAtLevel(2, folders, files);
    EXPECT_EQ(folders, 0);
    EXPECT_EQ(files, 1);
    folders = 7, files = 8;
    tree.getNumItemsAtLevel(3, folders, files);
    EXPECT_EQ(folders, 7);
    EXPECT_EQ(files, 8);
}

TEST(FileTreeScan, EmptyOrMissingRootFolder) {
    FileTree tree;
    EXPECT_FALSE(tree.scanRootFolder());
    EXPECT_TRUE(tree.rescan(false));
    EXPECT_EQ(tree.getNodeCount(), 0);
    EXPECT_EQ(tree.getRootNode(), nullptr);

    // A folder that is not there gives a root without children.
    TempDir dir;
    tree.rootFolder = dir / "missing";
    EXPECT_TRUE(tree.scanRootFolder());
    EXPECT_EQ(tree.getNodeCount(), 1);
    EXPECT_EQ(tree.getFolderCount(), 1);
    EXPECT_EQ(tree.getFileCount(), 0);

    // Scanning again starts over rather than adding a second root.
    tree.rootFolder = dir.path();
    dir.file("x");
    EXPECT_TRUE(tree.scanRootFolder());
    EXPECT_EQ(tree.getNodeCount(), 2);
    EXPECT_EQ(tree.getFileCount(), 1);
    EXPECT_EQ(node(tree, 1)->fileID, 0);
}

namespace {

// Leaves out "*.tmp" files, folders named "skip" and anything below "/keep/out".
class FilteredTree : public FileTree {
public:
    bool fileAllowed(const std::string& name) override {
        return name.size() < 4 || name.compare(name.size() - 4, 4, ".tmp") != 0;
    }
    bool folderAllowed(const std::string& name) override { return name != "skip"; }
    bool pathAllowed(const std::string& path) override {
        return path.find("/keep/out") == std::string::npos;
    }
};

} // namespace

TEST(FileTreeScan, FiltersLeaveOutEntriesAndTheirNumbers) {
    TempDir dir;
    dir.file("a.tmp");
    dir.file("b.txt");
    dir.folder("skip");
    dir.file("skip/inner");
    dir.folder("keep/out");
    dir.file("keep/in");
    dir.folder("tmp.tmp"); // the file filter does not apply to folders

    FilteredTree tree;
    tree.rootFolder = dir.path();
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_EQ(childNames(tree, tree.getRootNode()),
              (std::vector<std::string>{"b.txt", "keep", "tmp.tmp"}));
    FileTNode* keep = static_cast<FileTNode*>(tree.getSubNodeByPos(tree.getRootNode(), 1));
    EXPECT_EQ(childNames(tree, keep), (std::vector<std::string>{"in"}));
    EXPECT_EQ(tree.getFolderCount(), 3);
    EXPECT_EQ(tree.getFileCount(), 2);
    // The first kept child is the folder's first child even when entries
    // before it were left out.
    EXPECT_EQ(keep->firstChild->siblingIndex, 0);
}

TEST(FileTreeScan, LinkBackToAScannedFolderIsNotFollowed) {
    TempDir dir;
    dir.folder("root/sub");
    dir.file("root/sub/f");
    std::filesystem::create_directory_symlink("..", dir / "root/sub/up");
    std::filesystem::create_directory_symlink(dir / "root/sub", dir / "root/sub/self");
    // A link to a folder outside the scan is followed like any folder.
    dir.folder("other");
    dir.file("other/o");
    std::filesystem::create_directory_symlink(dir / "other", dir / "root/ext");

    FileTree tree;
    tree.rootFolder = dir / "root";
    ASSERT_TRUE(tree.rescan(false));
    FileTNode* root = tree.getRootNode();
    EXPECT_EQ(childNames(tree, root), (std::vector<std::string>{"ext", "sub"}));
    FileTNode* ext = static_cast<FileTNode*>(tree.getSubNodeByPos(root, 0));
    FileTNode* sub = static_cast<FileTNode*>(tree.getSubNodeByPos(root, 1));
    EXPECT_EQ(childNames(tree, ext), (std::vector<std::string>{"o"}));
    EXPECT_EQ(childNames(tree, sub), (std::vector<std::string>{"f", "self", "up"}));
    // The links back stay folders of their own, without children.
    for (int pos = 1; pos < 3; ++pos) {
        auto* link = static_cast<FileTNode*>(tree.getSubNodeByPos(sub, pos));
        EXPECT_EQ(link->type, FileTNode::kTypeFolder) << link->name;
        EXPECT_EQ(tree.getNumSubnodes(link), 0) << link->name;
    }
    EXPECT_EQ(tree.getFolderCount(), 5);
    EXPECT_EQ(tree.getFileCount(), 2);
}
