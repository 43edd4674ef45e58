// Trees, file trees scanned from folders, their cache files, and copying and
// removing folders by them.
#include "support.h"

#include <NSVextra/FileTree.h>
#include <NSVextra/FolderOps.h>
#include <NSVextra/Tree.h>

using namespace NSVextra;
using vxtest::exists;
using vxtest::readFile;
using vxtest::TempDir;

namespace {

// Names below `node`, a folder's children in parentheses: "(a(f) g)".
std::string shape(const TNode* node) {
    auto* n = static_cast<const FileTNode*>(node);
    std::string out = n->name;
    if (n->type == FileTNode::kTypeFolder) {
        out += "(";
        for (std::size_t i = 0; i < n->children.size(); ++i)
            out += (i ? " " : "") + shape(n->children[i]);
        out += ")";
    }
    return out;
}

// Leaves out "*.tmp" files, folders named "skip" and anything below "/keep/out".
struct FilteredTree : FileTree {
    bool fileAllowed(const std::string& name) override { return !name.ends_with(".tmp"); }
    bool folderAllowed(const std::string& name) override { return name != "skip"; }
    bool pathAllowed(const std::string& path) override {
        return path.find("/keep/out") == std::string::npos;
    }
};

// root: a (a0, a1), b (b0), made in the order root, a, a0, a1, b, b0.
void build(Tree& tree) {
    TNode* a = tree.addSubNode(tree.addNextNode(nullptr));
    tree.addNextNode(tree.addSubNode(a));
    tree.addSubNode(tree.addNextNode(a));
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

// A tree on `root` (none when empty) with its cache beside it.
struct CachedTree : FileTree {
    CachedTree(const TempDir& dir, const std::string& root, const char* cache = "tree.cache") {
        rootFolder = root.empty() ? std::string() : dir / root;
        cacheFile = dir / cache;
    }
};

} // namespace

TEST(FileTreeScan, SortedDepthFirstIdsWithoutFinderFiles) {
    TempDir dir;
    dir.folder("a");
    dir.folder("B");
    for (const char* f : {"a/f", "a/.DS_Store", "g", "ab", ".DS_Store", ".dsstore", ".DS_STORE",
                          "\xC3\xA9"}) // é sorts after every ASCII name
        dir.file(f);
    std::vector<FTR_Item> items{{"kept", false}}; // appended to, not replaced
    readFileTree(dir / "g", items);               // unlistable: left as it was
    readFileTree(dir / "a", items);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].name + items[2].name, ".DS_Storef");

    FileTree tree;
    EXPECT_FALSE(tree.scanRootFolder()); // no root folder named
    tree.rootFolder = dir / "missing";   // a missing one: a root without children
    EXPECT_TRUE(tree.scanRootFolder());
    EXPECT_EQ(tree.getNodeCount(), 1);
    tree.rootFolder = dir.path(); // scanning again starts over
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_EQ(facts(tree),
              fmt::format("|{0}|0 0 0 0 0 -1 -1\n.DS_STORE|{0}/.DS_STORE|1 1 1 0 -1 0 0\n"
                          "B|{0}/B|0 2 1 1 1 -1 0\na|{0}/a|0 3 1 2 2 -1 0\n"
                          "f|{0}/a/f|1 4 2 0 -1 1 3\nab|{0}/ab|1 5 1 3 -1 2 0\n"
                          "g|{0}/g|1 6 1 4 -1 3 0\n\xC3\xA9|{0}/\xC3\xA9|1 7 1 5 -1 4 0\n",
                          dir.path()));
    std::string rel;
    tree.getRelativePath(tree.getFTNoteByFileID(1), rel);
    EXPECT_EQ(rel, "a/f");
    EXPECT_EQ(tree.getFTNoteByFileID(5), nullptr);
    EXPECT_EQ(tree.getFTNoteByFileID(-1), nullptr); // folders carry -1 but are not files
    EXPECT_EQ(tree.getFolderCount() * 10 + tree.getFileCount(), 35);
    int folders = 7, files = 7;
    tree.getNumItemsAtLevel(1, folders, files);
    EXPECT_EQ(folders * 10 + files, 24);
    tree.getNumItemsAtLevel(3, folders, files); // beyond the deepest: unchanged
    EXPECT_EQ(folders * 10 + files, 24);
}

TEST(FileTreeScan, FiltersAndLinksBack) {
    TempDir dir;
    for (const char* f : {"keep/out/x", "skip/inner", "keep/in", "sub/f", "other/o", "tmp.tmp/y"}) {
        dir.folder(std::filesystem::path(f).parent_path());
        dir.file(f);
    }
    dir.file("a.tmp"); // the file filter does not apply to folders
    // Links back to a scanned folder stay empty folders; one outside is
    // followed like any folder.
    std::filesystem::create_directory_symlink("..", dir / "sub/up");
    std::filesystem::create_directory_symlink(dir / "sub", dir / "sub/self");
    std::filesystem::create_directory_symlink(dir / "other", dir / "sub/ext");
    FilteredTree tree;
    tree.rootFolder = dir.path();
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_EQ(shape(tree.getRootNode()),
              "(keep(in) other(o) sub(ext(o) f self() up()) tmp.tmp(y))");
    EXPECT_EQ(tree.getRootNode()->firstChild->siblingIndex, 0); // even after "a.tmp" was left out
    EXPECT_EQ(tree.getFolderCount() * 10 + tree.getFileCount(), 85);
}

TEST(Tree, LinksIndexesReleaseAndOutOfRange) {
    Tree tree;
    EXPECT_EQ(tree.getRoot(), nullptr);
    EXPECT_EQ(tree.addSubNode(nullptr), nullptr);
    build(tree);
    EXPECT_EQ(tree.getRoot(), tree.getNode(0));
    const std::string first = layout(tree);
    EXPECT_EQ(first, "0 0 -1 0 0 -1 1\n1 1 0 0 0 4 2\n2 2 1 0 0 3 -1\n"
                     "3 2 1 1 1 -1 -1\n4 1 0 1 1 -1 5\n5 2 4 0 2 -1 -1\n");
    const int perLevel[] = {0, 1, 2, 3, 0};
    for (int level = -1; level < 4; ++level)
        EXPECT_EQ(tree.getNumNodesAtLevel(level), perLevel[level + 1]) << level;
    EXPECT_EQ(tree.getNumLevels(), 3);
    EXPECT_EQ(tree.getNumSubnodes(tree.getNode(1)) * 10 + tree.getNumSubnodes(nullptr), 20);
    TNode* a = tree.getNode(1);
    for (TNode* none :
         {tree.getNode(-1), tree.getNode(6), tree.getNodeByPos(-1, 0), tree.getNodeByPos(1, 2),
          tree.getNodeByPos(1, -1), tree.getNodeByPos(3, 0), tree.getSubNodeByPos(a, 2),
          tree.getSubNodeByPos(a, -1), tree.getNodeByPos(a, 5), tree.getNodeByPos(nullptr, 0)})
        EXPECT_EQ(none, nullptr);
    tree.release();
    EXPECT_EQ(tree.getRoot(), nullptr);
    EXPECT_EQ(tree.getNodeCount() + tree.getNumLevels(), 0);
    EXPECT_EQ(tree.getNode(0), nullptr); // the emptied list is not read past its end
    build(tree);
    EXPECT_EQ(layout(tree), first); // numbered from 0 again
}

TEST(FileTreeCache, WrittenByteForByteUsedUntilRebuiltAndReadWithoutTheFolder) {
    TempDir dir;
    dir.folder("R/a/deeper");
    dir.folder("R/empty");
    for (const char* f : {"R/a/f", "R/g", "R/~", "R/~t", "R/-d", "R/+p", "R/a/~"})
        dir.file(f);
    const std::string r = dir / "R";
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(false)); // no cache yet: scans and writes one
    EXPECT_EQ(readFile(tree.cacheFile),
              fmt::format("+{0}/+p\n+{0}/-d\n-{0}/a\n-{0}/a/deeper\n~\n+{0}/a/f\n+{0}/a/~\n~\n"
                          "-{0}/empty\n~\n+{0}/g\n+{0}/~\n+{0}/~t\n~\n",
                          r));
    dir.file("R/new");
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_EQ(tree.getNodeCount(), 11); // the cached view: the folder was not read
    ASSERT_TRUE(tree.rescan(true));
    EXPECT_EQ(tree.getNodeCount(), 12);

    // A fresh tree reads the cache without looking at the folder; names
    // beginning with "~", "-" or "+" are plain files, not markers.
    std::filesystem::remove_all(r);
    CachedTree cached(dir, "R");
    ASSERT_TRUE(cached.rescan(false));
    EXPECT_EQ(facts(cached), facts(tree));
    EXPECT_EQ(cached.getFolderCount() * 10 + cached.getFileCount(), 48);
    for (int level = 0; level < 4; ++level)
        EXPECT_EQ(cached.getNumNodesAtLevel(level), tree.getNumNodesAtLevel(level)) << level;
    EXPECT_EQ(tree.removeCacheFile(), 0);
    EXPECT_FALSE(tree.cacheFileExists());

    // An empty root is two bytes; without a cache path, or a tree, nothing is
    // written anywhere.
    dir.folder("E");
    CachedTree empty(dir, "E", "e.cache");
    ASSERT_TRUE(empty.rescan(true));
    EXPECT_EQ(readFile(empty.cacheFile), "~\n");
    ASSERT_TRUE(empty.loadCacheFile());
    EXPECT_EQ(empty.getNodeCount(), 1);
    FileTree plain;
    plain.rootFolder = dir / "E";
    EXPECT_TRUE(plain.rescan(true));
    EXPECT_FALSE(plain.saveCacheFile() || CachedTree(dir, "").saveCacheFile());
    EXPECT_FALSE(exists(tree.cacheFile));
}

TEST(FileTreeCache, WriterRefusesPathsTheReaderCouldNotHold) {
    TempDir dir;
    // A file path of exactly 498 bytes, the longest a cache line holds.
    const std::string file = vxtest::pathOfLength(dir / "R", 498);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    vxtest::writeFile(file, "x");
    CachedTree tree(dir, "R"), back(dir, "R");
    ASSERT_TRUE(tree.rescan(true));
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
    std::string deep = "~\n"; // deeper than any path of the format could nest
    for (int i = 0; i < 300; ++i)
        deep = "-/d\n" + deep + "~\n";
    bad.push_back(deep);
    for (const std::string& bytes : bad)
        EXPECT_EQ(load(bytes), -1) << bytes.substr(0, 20) << "... (" << bytes.size() << " bytes)";
    const std::string log = vxtest::readLog().substr(logBefore.size());
    EXPECT_EQ(vxtest::countLines(log, "error: invalid cache file"), rejected);
    EXPECT_EQ(rejected * 26, static_cast<int>(log.size()));
    // A missing cache, or none named, is not logged.
    EXPECT_FALSE(CachedTree(dir, "R", "none.cache").loadCacheFile());
    EXPECT_FALSE(FileTree().loadCacheFile());
    EXPECT_EQ(vxtest::readLog().size(), logBefore.size() + log.size());
}

TEST(FileTreeOps, CopyAndRemovalFollowTheTreeAndStopAtTheFirstFailure) {
    TempDir dir;
    dir.folder("src/a/b");
    dir.folder("src/empty");
    for (const char* f : {"a/f", "a/b/h", "g", "~t"})
        dir.file(std::string("src/") + f, f);
    ASSERT_TRUE(copyFolder(dir / "src", dir / "dst"));
    for (const char* f : {"a/f", "a/b/h", "g", "~t"})
        EXPECT_EQ(readFile(dir / "dst/" + f), f);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dst/empty"));
    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));

    // A destination that cannot be created, or is already there, stops the
    // copy before any file; so does an empty tree.
    std::string before = vxtest::readLog();
    EXPECT_FALSE(tree.copyToFolder(dir / "missing/parent/dst"));
    EXPECT_FALSE(tree.copyToFolder(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to create top folder"), 2);
    EXPECT_FALSE(FileTree().copyToFolder(dir / "dst3"));
    EXPECT_FALSE(exists(dir / "missing") || exists(dir / "dst3"));

    // Removal goes by the tree, depth first: b's listed file goes, b stays
    // with an extra file, and "f" (after "b") is never reached.
    dir.file("dst/a/b/extra");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to remove top folder"), 1);
    EXPECT_FALSE(exists(dir / "dst/a/b/h"));
    EXPECT_TRUE(exists(dir / "dst/a/b/extra") && exists(dir / "dst/a/f") && exists(dir / "dst/g"));
    EXPECT_EQ(readFile(dir / "src/a/b/h"), "a/b/h");
    // A second pass fails at the file already removed; so does a copy whose
    // file went after the scan.
    std::filesystem::remove(dir / "dst/a/b/extra");
    std::filesystem::remove(dir / "src/a/f");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_FALSE(tree.copyToFolder(dir / "dst2"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to copy/remove file"), 2);
    EXPECT_TRUE(exists(dir / "dst2/a/b/h"));
    EXPECT_FALSE(exists(dir / "dst2/g"));

    EXPECT_TRUE(removeFolder(dir / "src"));
    EXPECT_FALSE(exists(dir / "src"));
    EXPECT_FALSE(removeFolder(dir / "src") || removeFolder("")); // nothing there
    // Links go, but not what they point at, whether inside or named directly.
    dir.folder("doomed/sub");
    std::filesystem::create_directory_symlink(dir / "dst2", dir / "doomed/sub/link");
    std::filesystem::create_directory_symlink(dir / "dst2", dir / "direct");
    EXPECT_TRUE(removeFolder(dir / "doomed") && removeFolder(dir / "direct"));
    EXPECT_FALSE(exists(dir / "doomed") || std::filesystem::is_symlink(dir / "direct"));
    EXPECT_EQ(readFile(dir / "dst2/a/b/h"), "a/b/h");
}

TEST(FolderOps, CountsNestingAndFilesPerLevel) {
    TempDir dir;
    dir.folder("src/a/b/c");
    dir.folder("src/empty");
    dir.folder("files/x");
    for (const char* f : {"src/a/f", "src/a/b/h", "src/g", "src/~t", "files/x/y"})
        dir.file(f);
    // Files alone at the deepest level are no nesting; an empty folder is.
    const std::pair<const char*, int> nesting[] = {{"src", 3},       {"src/a", 2},   {"src/a/b", 1},
                                                   {"src/empty", 0}, {"missing", 0}, {"files", 1}};
    for (const auto& [folder, want] : nesting)
        EXPECT_EQ(folderGetNumNestedSubfolders(dir / folder), want) << folder;
    const int filesAt[] = {0, 0, 2, 1, 1, 0};
    for (int level = -1; level < 5; ++level)
        EXPECT_EQ(folderGetNumFilesAtLevel(dir / "src", level), filesAt[level + 1]) << level;
}
