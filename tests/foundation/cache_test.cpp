#include "support.h"

#include <NSVextra/FileTree.h>

using NSVextra::FileTNode;
using NSVextra::FileTree;
using vxtest::TempDir;

namespace {

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

} // namespace

TEST(FileTreeCache, WrittenByteForByteAndReadBackWithoutTheFolder) {
    TempDir dir;
    dir.folder("R/a/deeper");
    dir.folder("R/empty");
    for (const char* f : {"R/a/f", "R/g", "R/~", "R/~t", "R/-d", "R/+p", "R/a/~", "R/\xC3\xA9 x"})
        dir.file(f);
    const std::string r = dir / "R";
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(false)); // no cache yet: scans and writes one
    EXPECT_EQ(vxtest::readFile(tree.cacheFile),
              "+" + r + "/+p\n+" + r + "/-d\n-" + r + "/a\n-" + r + "/a/deeper\n~\n+" + r +
                  "/a/f\n+" + r + "/a/~\n~\n-" + r + "/empty\n~\n+" + r + "/g\n+" + r + "/~\n+" +
                  r + "/~t\n+" + r + "/\xC3\xA9 x\n~\n");
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
    EXPECT_EQ(vxtest::readFile(empty.cacheFile), "~\n");
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
    EXPECT_EQ(vxtest::readFile(tree.cacheFile),
              "+" + (dir / "R/new") + "\n+" + (dir / "R/old") + "\n~\n");
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
    EXPECT_FALSE(vxtest::exists(tree.cacheFile));
}

TEST(FileTreeCache, WriterRefusesPathsTheReaderCouldNotHold) {
    TempDir dir;
    const std::string r = dir / "R";
    // A file path of exactly 498 bytes, the longest a cache line holds, in
    // components short enough for the file system.
    std::string rel;
    for (std::size_t total = r.size() + 1; total < 498;) {
        if (!rel.empty())
            rel += '/', ++total;
        std::size_t chunk = std::min<std::size_t>(498 - total, 200);
        chunk -= 498 - total - chunk == 1 ? 1 : 0; // room for "/" and one more byte
        rel += std::string(chunk, 'n');
        total += chunk;
    }
    ASSERT_EQ(r.size() + 1 + rel.size(), 498u);
    dir.folder("R/" + rel.substr(0, rel.rfind('/')));
    dir.file("R/" + rel);
    CachedTree tree(dir, "R");
    ASSERT_TRUE(tree.rescan(true));
    CachedTree back(dir, "R");
    ASSERT_TRUE(back.loadCacheFile());
    EXPECT_EQ(facts(back), facts(tree));

    // One byte more and no cache is written; the tree itself is complete.
    dir.file("R/" + rel + "g");
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
    std::vector<std::string> bad = {good + "~\n",
                                    good + "\n",
                                    "~x",
                                    "\n~\n",
                                    "+\n~\n",
                                    "-\n~\n~\n",
                                    "-nofolder\n~\n~\n",
                                    "+/R/..\n~\n",
                                    "-/R/.\n~\n~\n",
                                    "+/R/\n~\n",
                                    std::string("+/R/a\0b\n~\n", 10),
                                    "+/R/" + std::string(496, 'x') + "\n~\n",
                                    "+/R/" + std::string(5000, 'x')};
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
