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
    for (std::size_t i = 0; i < n->children.size(); ++i)
        out += (i ? " " : "(") + shape(n->children[i]);
    return n->type == FileTNode::kTypeFolder ? out + (n->children.empty() ? "()" : ")") : out;
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

// The node count at each level from -1 to one past the deepest.
std::string levels(const Tree& tree) {
    std::string out;
    for (int level = -1; level <= tree.getNumLevels(); ++level)
        out += std::to_string(tree.getNumNodesAtLevel(level)) + " ";
    return out;
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
    return out + levels(tree);
}

// Every node's place and numbers, one line each, then the counts.
std::string facts(const FileTree& tree) {
    std::string out;
    for (int i = 0; i < tree.getNodeCount(); ++i) {
        auto* n = static_cast<FileTNode*>(tree.getNode(i));
        out +=
            fmt::format("{}|{}|{} {} {} {} {} {} {}\n", n->name, n->path, n->type, n->uid, n->level,
                        n->siblingIndex, n->folderID, n->fileID, n->parent ? n->parent->uid : -1);
    }
    return fmt::format("{}{} {} | {}", out, tree.getFolderCount(), tree.getFileCount(),
                       levels(tree));
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
    // "é" sorts after every ASCII name.
    dir.make(
        {"B/", "a/f", "a/.DS_Store", "g", "ab", ".DS_Store", ".dsstore", ".DS_STORE", "\xC3\xA9"});
    std::vector<FTR_Item> items{{"kept", false}}; // appended to, not replaced
    readFileTree(dir / "g", items);               // unlistable: left as it was
    readFileTree(dir / "a", items);
    EXPECT_EQ(items.size() == 3 ? items[1].name + items[2].name : "?", ".DS_Storef");

    FileTree tree;
    EXPECT_FALSE(tree.scanRootFolder()); // no root folder named
    tree.rootFolder = dir / "missing";   // a missing one: a root without children
    EXPECT_TRUE(tree.scanRootFolder() && tree.getNodeCount() == 1);
    tree.rootFolder = dir.path(); // scanning again starts over
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_EQ(facts(tree),
              fmt::format("|{0}|0 0 0 0 0 -1 -1\n.DS_STORE|{0}/.DS_STORE|1 1 1 0 -1 0 0\n"
                          "B|{0}/B|0 2 1 1 1 -1 0\na|{0}/a|0 3 1 2 2 -1 0\n"
                          "f|{0}/a/f|1 4 2 0 -1 1 3\nab|{0}/ab|1 5 1 3 -1 2 0\n"
                          "g|{0}/g|1 6 1 4 -1 3 0\n\xC3\xA9|{0}/\xC3\xA9|1 7 1 5 -1 4 0\n"
                          "3 5 | 0 1 6 1 0 ",
                          dir.path()));
    std::string rel;
    tree.getRelativePath(tree.getFTNoteByFileID(1), rel);
    int counts[4] = {7, 7, 7, 7};
    tree.getNumItemsAtLevel(1, counts[0], counts[1]);
    tree.getNumItemsAtLevel(3, counts[2], counts[3]); // beyond the deepest: unchanged
    EXPECT_EQ(fmt::format("{} {} {} {} {}", rel, counts[0], counts[1], counts[2], counts[3]),
              "a/f 2 4 7 7");
    // Folders carry file id -1 but are not files.
    EXPECT_FALSE(tree.getFTNoteByFileID(5) || tree.getFTNoteByFileID(-1));
}

TEST(FileTreeScan, FiltersAndLinksBack) {
    TempDir dir;
    // The file filter does not apply to folders.
    dir.make({"keep/out/x", "skip/inner", "keep/in", "sub/f", "other/o", "tmp.tmp/y", "a.tmp"});
    // Links back to a scanned folder stay empty folders; one outside is
    // followed like any folder.
    std::filesystem::create_directory_symlink("..", dir / "sub/up");
    std::filesystem::create_directory_symlink(dir / "sub", dir / "sub/self");
    std::filesystem::create_directory_symlink(dir / "other", dir / "sub/ext");
    FilteredTree tree;
    tree.rootFolder = dir.path();
    ASSERT_TRUE(tree.rescan(false));
    // The first sibling is 0 even after "a.tmp" was left out.
    EXPECT_EQ(fmt::format("{} {} {} {}", shape(tree.getRootNode()),
                          tree.getRootNode()->firstChild->siblingIndex, tree.getFolderCount(),
                          tree.getFileCount()),
              "(keep(in) other(o) sub(ext(o) f self() up()) tmp.tmp(y)) 0 8 5");
}

TEST(Tree, LinksIndexesReleaseAndOutOfRange) {
    Tree tree;
    EXPECT_TRUE(tree.getRoot() == nullptr && tree.addSubNode(nullptr) == nullptr);
    build(tree);
    EXPECT_EQ(tree.getRoot(), tree.getNode(0));
    const std::string first = layout(tree);
    EXPECT_EQ(first, "0 0 -1 0 0 -1 1\n1 1 0 0 0 4 2\n2 2 1 0 0 3 -1\n"
                     "3 2 1 1 1 -1 -1\n4 1 0 1 1 -1 5\n5 2 4 0 2 -1 -1\n0 1 2 3 0 ");
    EXPECT_EQ(tree.getNumSubnodes(tree.getNode(1)) * 10 + tree.getNumSubnodes(nullptr), 20);
    TNode* a = tree.getNode(1);
    for (TNode* none :
         {tree.getNode(-1), tree.getNode(6), tree.getNodeByPos(-1, 0), tree.getNodeByPos(1, 2),
          tree.getNodeByPos(1, -1), tree.getNodeByPos(3, 0), tree.getSubNodeByPos(a, 2),
          tree.getSubNodeByPos(a, -1), tree.getNodeByPos(a, 5), tree.getNodeByPos(nullptr, 0)})
        EXPECT_EQ(none, nullptr);
    tree.release();
    EXPECT_EQ(layout(tree), "0 0 ");
    // The emptied list is not read past its end.
    EXPECT_TRUE(tree.getRoot() == nullptr && tree.getNode(0) == nullptr);
    build(tree);
    EXPECT_EQ(layout(tree), first); // numbered from 0 again
}

TEST(FileTreeCache, WrittenByteForByteUsedUntilRebuiltAndReadWithoutTheFolder) {
    TempDir dir;
    dir.make({"R/a/deeper/", "R/empty/", "R/a/f", "R/g", "R/~", "R/~t", "R/-d", "R/+p", "R/a/~"});
    const std::string r = dir / "R";
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(false)); // no cache yet: scans and writes one
    EXPECT_EQ(readFile(tree.cacheFile),
              fmt::format("+{0}/+p\n+{0}/-d\n-{0}/a\n-{0}/a/deeper\n~\n+{0}/a/f\n+{0}/a/~\n~\n"
                          "-{0}/empty\n~\n+{0}/g\n+{0}/~\n+{0}/~t\n~\n",
                          r));
    dir.file("R/new");
    // The cached view until rebuilt: the folder was not read.
    EXPECT_TRUE(tree.rescan(false) && tree.getNodeCount() == 11) << tree.getNodeCount();
    EXPECT_TRUE(tree.rescan(true) && tree.getNodeCount() == 12) << tree.getNodeCount();

    // A fresh tree reads the cache without looking at the folder; names
    // beginning with "~", "-" or "+" are plain files, not markers.
    std::filesystem::remove_all(r);
    CachedTree cached(dir, "R");
    EXPECT_TRUE(cached.rescan(false) && facts(cached) == facts(tree)) << facts(cached);
    EXPECT_TRUE(tree.removeCacheFile() == 0 && !tree.cacheFileExists());

    // An empty root is two bytes; without a cache path, or a tree, nothing is
    // written anywhere.
    dir.folder("E");
    CachedTree empty(dir, "E", "e.cache");
    EXPECT_TRUE(empty.rescan(true) && readFile(empty.cacheFile) == "~\n");
    EXPECT_TRUE(empty.loadCacheFile() && empty.getNodeCount() == 1);
    FileTree plain;
    plain.rootFolder = dir / "E";
    EXPECT_TRUE(plain.rescan(true));
    EXPECT_FALSE(plain.saveCacheFile() || CachedTree(dir, "").saveCacheFile() ||
                 exists(tree.cacheFile));

    // A file path of exactly 498 bytes, the longest a cache line holds; one
    // byte more and no cache is written, the tree itself complete.
    const std::string file = vxtest::pathOfLength(dir / "L", 498);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    vxtest::writeFile(file, "x");
    CachedTree longest(dir, "L"), back(dir, "L");
    ASSERT_TRUE(longest.rescan(true) && back.loadCacheFile());
    EXPECT_EQ(facts(back), facts(longest));
    vxtest::writeFile(file + "g", "x");
    EXPECT_TRUE(longest.rescan(true) && !longest.cacheFileExists());
    EXPECT_EQ(longest.getNodeCount(), back.getNodeCount() + 1);
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
        const int left = tree.getNodeCount() + tree.getFolderCount();
        const bool rescanned = tree.rescan(false); // still true, the tree left empty
        EXPECT_TRUE(left == 0 && rescanned && tree.getNodeCount() == 0) << bytes.substr(0, 20);
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
    // A missing cache, or none named, is not logged.
    EXPECT_FALSE(CachedTree(dir, "R", "none.cache").loadCacheFile() || FileTree().loadCacheFile());
    const std::string log = vxtest::readLog().substr(logBefore.size());
    EXPECT_EQ(vxtest::countLines(log, "error: invalid cache file"), rejected);
    EXPECT_EQ(rejected * 26, static_cast<int>(log.size()));
}

TEST(FileTreeOps, CopyAndRemovalFollowTheTreeAndStopAtTheFirstFailure) {
    TempDir dir;
    dir.make({"src/a/b/", "src/empty/"});
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
    EXPECT_FALSE(tree.copyToFolder(dir / "missing/parent/dst") || tree.copyToFolder(dir / "dst") ||
                 FileTree().copyToFolder(dir / "dst3"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to create top folder"), 2);
    EXPECT_FALSE(exists(dir / "missing") || exists(dir / "dst3"));

    // Removal goes by the tree, depth first: b's listed file goes, b stays
    // with an extra file, and "f" (after "b") is never reached.
    dir.file("dst/a/b/extra");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to remove top folder"), 1);
    EXPECT_TRUE(!exists(dir / "dst/a/b/h") && exists(dir / "dst/a/b/extra") &&
                exists(dir / "dst/a/f") && exists(dir / "dst/g"));
    EXPECT_EQ(readFile(dir / "src/a/b/h"), "a/b/h");
    // A second pass fails at the file already removed; so does a copy whose
    // file went after the scan.
    std::filesystem::remove(dir / "dst/a/b/extra");
    std::filesystem::remove(dir / "src/a/f");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst") || tree.copyToFolder(dir / "dst2"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to copy/remove file"), 2);
    EXPECT_TRUE(exists(dir / "dst2/a/b/h") && !exists(dir / "dst2/g"));

    EXPECT_TRUE(removeFolder(dir / "src") && !exists(dir / "src"));
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
    dir.make({"src/a/b/c/", "src/empty/", "src/a/f", "src/a/b/h", "src/g", "src/~t", "files/x/y"});
    // Files alone at the deepest level are no nesting; an empty folder is.
    std::string counts;
    for (const char* folder : {"src", "src/a", "src/a/b", "src/empty", "missing", "files"})
        counts += std::to_string(folderGetNumNestedSubfolders(dir / folder)) + " ";
    for (int level = -1; level < 5; ++level)
        counts += std::to_string(folderGetNumFilesAtLevel(dir / "src", level)) + " ";
    EXPECT_EQ(counts, "3 2 1 0 0 1 0 0 2 1 1 0 ");
}
