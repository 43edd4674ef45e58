// Trees, file trees scanned from folders, their cache files, and copying and
// removing folders by them.
#include "support.h"

#include <NSVextra/FileTree.h>
#include <NSVextra/FolderOps.h>
#include <NSVextra/Tree.h>

using NSVextra::FileTNode;
using NSVextra::FileTree;
using NSVextra::FTR_Item;
using NSVextra::TNode;
using NSVextra::Tree;
using vxtest::exists;
using vxtest::readFile;
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

// Every node's place and numbers, one line each.
std::string facts(const FileTree& tree) {
    std::string out;
    for (int i = 0; i < tree.getNodeCount(); ++i) {
        auto* n = static_cast<FileTNode*>(tree.getNode(i));
        out +=
            fmt::format("{}|{}|{} {} {} {} {} {} {}\n", n->name, n->path, n->type, n->uid, n->level,
                        n->siblingIndex, n->folderID, n->fileID, n->parent ? n->parent->uid : -1);
    }
    return out;
}

// A tree on `root` with its cache beside it.
struct CachedTree : FileTree {
    CachedTree(const TempDir& dir, const std::string& root, const char* cache = "tree.cache") {
        rootFolder = root.empty() ? std::string() : dir / root;
        cacheFile = dir / cache;
    }
};

// src: a/ (f, b/ (h)), empty/, g, ~t
void makeSource(const TempDir& dir) {
    dir.folder("src/a/b");
    dir.folder("src/empty");
    for (const char* f : {"a/f", "a/b/h", "g", "~t"})
        dir.file(std::string("src/") + f, std::string("file ") + f);
}

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

TEST(FileTreeCache, WrittenByteForByteAndReadBackWithoutTheFolder) {
    TempDir dir;
    dir.folder("R/a/deeper");
    dir.folder("R/empty");
    for (const char* f : {"R/a/f", "R/g", "R/~", "R/~t", "R/-d", "R/+p", "R/a/~", "R/\xC3\xA9 x"})
        dir.file(f);
    const std::string r = dir / "R";
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(false)); // no cache yet: scans and writes one
    EXPECT_EQ(readFile(tree.cacheFile), "+" + r + "/+p\n+" + r + "/-d\n-" + r + "/a\n-" + r +
                                            "/a/deeper\n~\n+" + r + "/a/f\n+" + r + "/a/~\n~\n-" +
                                            r + "/empty\n~\n+" + r + "/g\n+" + r + "/~\n+" + r +
                                            "/~t\n+" + r + "/\xC3\xA9 x\n~\n");
    const auto expected = facts(tree);

    // A fresh tree reads the cache without looking at the folder; names
    // beginning with "~", "-" or "+" are plain files, not markers.
    std::filesystem::remove_all(r);
    CachedTree cached(dir, "R");
    ASSERT_TRUE(cached.rescan(false));
    EXPECT_EQ(facts(cached), expected);
    EXPECT_EQ(cached.getFolderCount(), 4);
    EXPECT_EQ(cached.getFileCount(), 8);
    for (int level = 0; level < 4; ++level)
        EXPECT_EQ(cached.getNumNodesAtLevel(level), tree.getNumNodesAtLevel(level)) << level;

    // An empty root is two bytes.
    dir.folder("E");
    CachedTree empty(dir, "E", "e.cache");
    ASSERT_TRUE(empty.rescan(true));
    EXPECT_EQ(readFile(empty.cacheFile), "~\n");
    ASSERT_TRUE(empty.loadCacheFile());
    EXPECT_EQ(empty.getNodeCount(), 1);
    EXPECT_EQ(empty.getRootNode()->path, dir / "E");
}

TEST(FileTreeCache, RescanUsesTheCacheUntilAskedToRebuild) {
    TempDir dir;
    dir.folder("R");
    dir.file("R/old");
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(false));
    dir.file("R/new");
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_EQ(tree.getNodeCount(), 2); // the cached view: the folder was not read
    ASSERT_TRUE(tree.rescan(true));
    EXPECT_EQ(tree.getNodeCount(), 3);
    EXPECT_EQ(readFile(tree.cacheFile), "+" + (dir / "R/new") + "\n+" + (dir / "R/old") + "\n~\n");
    EXPECT_EQ(tree.removeCacheFile(), 0);
    EXPECT_FALSE(tree.cacheFileExists());
    EXPECT_NE(tree.removeCacheFile(), 0);

    FileTree plain; // without a cache path nothing is written anywhere
    plain.rootFolder = dir / "R";
    EXPECT_TRUE(plain.rescan(true));
    EXPECT_EQ(plain.getNodeCount(), 3);
    EXPECT_FALSE(plain.saveCacheFile());
    CachedTree none(dir, ""); // nor is an empty tree written
    EXPECT_FALSE(none.saveCacheFile());
    EXPECT_FALSE(exists(tree.cacheFile));
}

TEST(FileTreeCache, WriterRefusesPathsTheReaderCouldNotHold) {
    TempDir dir;
    const std::string r = dir / "R";
    // A file path of exactly 498 bytes, the longest a cache line holds.
    const std::string file = vxtest::pathOfLength(r, 498);
    ASSERT_EQ(file.size(), 498u);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    vxtest::writeFile(file, "x");
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(true));
    CachedTree back(dir, "R");
    ASSERT_TRUE(back.loadCacheFile());
    EXPECT_EQ(facts(back), facts(tree));

    // One byte more and no cache is written; the tree itself is complete.
    vxtest::writeFile(file + "g", "x");
    ASSERT_TRUE(tree.rescan(true));
    EXPECT_EQ(tree.getNodeCount(), back.getNodeCount() + 1);
    EXPECT_FALSE(tree.cacheFileExists());
}

TEST(FileTreeCache, DamagedCachesFailCleanlyAndAreLoggedOnce) {
    TempDir dir;
    const std::string good = "-/R/a\n+/R/a/f\n~\n-/R/e\n~\n+/R/g\n~\n";
    const std::string logBefore = vxtest::readLog();
    int rejected = 0;
    // Answers nodes * 100 + folders * 10 + files, or -1 when refused.
    auto load = [&](const std::string& bytes) {
        CachedTree tree(dir, "no-such-root", "reader.cache");
        vxtest::writeFile(tree.cacheFile, bytes);
        if (tree.loadCacheFile())
            return tree.getNodeCount() * 100 + tree.getFolderCount() * 10 + tree.getFileCount();
        EXPECT_EQ(tree.getNodeCount() + tree.getFolderCount(), 0) << bytes.substr(0, 20);
        EXPECT_TRUE(tree.rescan(false)); // still true, the tree left empty
        EXPECT_EQ(tree.getNodeCount(), 0) << bytes.substr(0, 20);
        rejected += 2;
        return -1;
    };
    EXPECT_EQ(load(good), 532);
    EXPECT_EQ(load("+/R/" + std::string(495, 'x') + "\n~\n"), 211); // the longest line
    std::vector<std::string> bad = {good + "~\n", good + "\n", std::string("+/R/a\0b\n~\n", 10),
                                    "+/R/" + std::string(496, 'x') + "\n~\n",
                                    "+/R/" + std::string(5000, 'x')};
    for (const char* b : {"~x", "\n~\n", "+\n~\n", "-\n~\n~\n", "-nofolder\n~\n~\n", "+/R/..\n~\n",
                          "-/R/.\n~\n~\n", "+/R/\n~\n"})
        bad.push_back(b);
    for (std::size_t n = 0; n < good.size(); ++n) // every cut short of the end
        bad.push_back(good.substr(0, n));
    // Deeper than any path of the format could nest, and endless nesting.
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "-/d\n";
    bad.push_back(deep);
    for (int i = 0; i < 301; ++i)
        bad.back() += "~\n";
    bad.push_back(std::string());
    for (int i = 0; i < 200000; ++i)
        bad.back() += "-/d\n";
    for (const std::string& bytes : bad)
        EXPECT_EQ(load(bytes), -1) << bytes.substr(0, 20) << "... (" << bytes.size() << " bytes)";
    const std::string log = vxtest::readLog().substr(logBefore.size());
    EXPECT_EQ(vxtest::countLines(log, "error: invalid cache file"), rejected);
    EXPECT_EQ(vxtest::countLines(log, "error: invalid cache file") * 26,
              static_cast<int>(log.size()));

    // A missing cache, or none named, is not logged.
    CachedTree missing(dir, "R", "none.cache");
    EXPECT_FALSE(missing.loadCacheFile());
    EXPECT_FALSE(FileTree().loadCacheFile());
    EXPECT_EQ(vxtest::readLog().size(), logBefore.size() + log.size());
}

TEST(FileTreeOps, CopyReproducesFoldersAndFilesOrStopsAtTheFirstFailure) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    for (const char* f : {"a/f", "a/b/h", "g", "~t"})
        EXPECT_EQ(readFile(dir / "dst/" + f), std::string("file ") + f);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dst/empty"));

    // A destination that cannot be created, or is already there, stops the
    // copy before any file.
    std::string before = vxtest::readLog();
    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_FALSE(tree.copyToFolder(dir / "missing/parent/dst"));
    EXPECT_FALSE(exists(dir / "missing"));
    dir.folder("taken");
    EXPECT_FALSE(tree.copyToFolder(dir / "taken"));
    EXPECT_FALSE(exists(dir / "taken/g"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to create top folder"), 2);

    // A file that disappeared after the scan ends the copy there.
    std::filesystem::remove(dir / "src/a/f");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.copyToFolder(dir / "dst2"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to copy/remove file"), 1);
    EXPECT_TRUE(exists(dir / "dst2/a"));
    EXPECT_FALSE(exists(dir / "dst2/g"));
    EXPECT_FALSE(FileTree().copyToFolder(dir / "dst3")); // an empty tree copies nothing
    EXPECT_FALSE(exists(dir / "dst3"));
}

TEST(FileTreeOps, RemovalGoesByTheTreeDepthFirstAndStopsAtAnExtraFile) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    dir.file("dst/a/b/extra");
    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));
    std::string before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to remove top folder"), 1);
    // b's listed file went; b stays with the extra file; "f" sorts after "b"
    // and was never reached.
    EXPECT_FALSE(exists(dir / "dst/a/b/h"));
    EXPECT_TRUE(exists(dir / "dst/a/b/extra"));
    EXPECT_EQ(readFile(dir / "dst/a/f"), "file a/f");
    EXPECT_TRUE(exists(dir / "dst/g"));
    EXPECT_EQ(readFile(dir / "src/a/b/h"), "file a/b/h");
    // A second pass fails at the file already removed: by the tree's list.
    std::filesystem::remove(dir / "dst/a/b/extra");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to copy/remove file"), 1);

    EXPECT_TRUE(NSVextra::removeFolder(dir / "src"));
    EXPECT_FALSE(exists(dir / "src"));
    EXPECT_FALSE(NSVextra::removeFolder(dir / "src")); // nothing there
    EXPECT_FALSE(NSVextra::removeFolder(""));
    EXPECT_TRUE(exists(dir.path()));
}

TEST(FileTreeOps, RemovalTakesLinksAwayButNotWhatTheyPointAt) {
    TempDir dir;
    dir.folder("outside/deep");
    dir.file("outside/deep/keep", "kept");
    dir.folder("doomed/sub");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "doomed/sub/link");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "direct");
    EXPECT_TRUE(NSVextra::removeFolder(dir / "doomed"));
    EXPECT_FALSE(exists(dir / "doomed"));
    EXPECT_TRUE(NSVextra::removeFolder(dir / "direct")); // named directly: the link alone
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "direct"));
    EXPECT_EQ(readFile(dir / "outside/deep/keep"), "kept");
}

TEST(FolderOps, CountsNestingAndFilesPerLevel) {
    TempDir dir;
    makeSource(dir);
    dir.folder("files/x"); // files only at the deepest level are no nesting
    dir.file("files/x/y");
    const std::pair<const char*, int> nesting[] = {{"src", 2},       {"src/a", 1},   {"src/a/b", 0},
                                                   {"src/empty", 0}, {"missing", 0}, {"files", 1}};
    for (const auto& [folder, want] : nesting)
        EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / folder), want) << folder;
    const int filesAt[] = {0, 2, 1, 1, 0};
    for (int level = -1; level < 5; ++level)
        EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", level),
                  level < 0 ? 0 : filesAt[level])
            << level;
}
