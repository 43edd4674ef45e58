#include "support.h"

#include <NSVextra/FileTree.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using NSVextra::FileTNode;
using NSVextra::FileTree;
using vxtest::TempDir;

namespace {

struct NodeFacts {
    std::string name, path;
    int type, uid, level, siblingIndex, folderID, fileID, parentUid;
    bool operator==(const NodeFacts&) const = default;
};

std::vector<NodeFacts> facts(const FileTree& tree) {
    std::vector<NodeFacts> out;
    for (int i = 0; i < tree.getNodeCount(); ++i) {
        auto* n = static_cast<FileTNode*>(tree.getNode(i));
        out.push_back({n->name, n->path, n->type, n->uid, n->level, n->siblingIndex, n->folderID,
                       n->fileID, n->parent ? n->parent->uid : -1});
    }
    return out;
}

// A tree that reads only the cache: its root folder does not exist.
struct CacheReader {
    explicit CacheReader(const TempDir& dir, const std::string& bytes) {
        tree.rootFolder = dir / "no-such-root";
        tree.cacheFile = dir / "reader.cache";
        vxtest::writeFile(tree.cacheFile, bytes);
    }
    FileTree tree;
};

} // namespace

TEST(FileTreeCache, ExampleIsWrittenByteForByte) {
    TempDir dir;
    dir.folder("R/a");
    dir.file("R/a/f");
    dir.file("R/g");
    const std::string r = dir / "R";

    FileTree tree;
    tree.rootFolder = r;
    tree.cacheFile = dir / "tree.cache";
    ASSERT_TRUE(tree.rescan(false)); // no cache yet: scans and writes one
    EXPECT_EQ(vxtest::readFile(tree.cacheFile),
              "-" + r + "/a\n" + "+" + r + "/a/f\n" + "~\n" + "+" + r + "/g\n" + "~\n");
}

TEST(FileTreeCache, RoundTripKeepsNamesPathsAndNumbers) {
    TempDir dir;
    dir.folder("R/sub/deeper/deepest");
    dir.folder("R/empty");
    dir.folder("R/z");
    dir.file("R/~tilde");
    dir.file("R/~");
    dir.file("R/-dash");
    dir.file("R/+plus");
    dir.file("R/sub/one.txt");
    dir.file("R/sub/deeper/two");
    dir.file("R/sub/three");
    dir.file("R/z/~");
    dir.file("R/\xC3\xA9t\xC3\xA9 file.wav");

    FileTree scanned;
    scanned.rootFolder = dir / "R";
    scanned.cacheFile = dir / "tree.cache";
    ASSERT_TRUE(scanned.rescan(true));
    ASSERT_TRUE(vxtest::exists(scanned.cacheFile));
    const std::vector<NodeFacts> expected = facts(scanned);
    ASSERT_EQ(expected.size(), 15u);

    // The empty sub-folder is its line followed at once by an end marker.
    const std::string bytes = vxtest::readFile(scanned.cacheFile);
    EXPECT_NE(bytes.find("-" + (dir / "R/empty") + "\n~\n"), std::string::npos);

    // A fresh tree reads the cache without looking at the folder.
    std::filesystem::remove_all(dir / "R");
    FileTree cached;
    cached.rootFolder = dir / "R";
    cached.cacheFile = scanned.cacheFile;
    ASSERT_TRUE(cached.rescan(false));
    EXPECT_EQ(facts(cached), expected);
    EXPECT_EQ(cached.getFolderCount(), scanned.getFolderCount());
    EXPECT_EQ(cached.getFileCount(), scanned.getFileCount());
    EXPECT_EQ(cached.getNumLevels(), scanned.getNumLevels());
    for (int level = 0; level < cached.getNumLevels(); ++level)
        EXPECT_EQ(cached.getNumNodesAtLevel(level), scanned.getNumNodesAtLevel(level));

    // Names beginning with "~" (or with a prefix byte) are plain files, not
    // end markers, at the end of a list or inside it.
    int tildeFiles = 0;
    for (const NodeFacts& n : facts(cached)) {
        if (n.name == "~" || n.name == "~tilde" || n.name == "-dash" || n.name == "+plus") {
            EXPECT_EQ(n.type, FileTNode::kTypeFile) << n.name;
            EXPECT_GE(n.fileID, 0) << n.name;
            ++tildeFiles;
        }
    }
    EXPECT_EQ(tildeFiles, 5); // "~" twice: in the root and in z
}

TEST(FileTreeCache, EmptyRootIsTwoBytes) {
    TempDir dir;
    dir.folder("R");
    FileTree tree;
    tree.rootFolder = dir / "R";
    tree.cacheFile = dir / "tree.cache";
    ASSERT_TRUE(tree.rescan(true));
    EXPECT_EQ(vxtest::readFile(tree.cacheFile), "~\n");

    FileTree cached;
    cached.rootFolder = tree.rootFolder;
    cached.cacheFile = tree.cacheFile;
    ASSERT_TRUE(cached.loadCacheFile());
    EXPECT_EQ(cached.getNodeCount(), 1);
    EXPECT_EQ(cached.getRootNode()->path, tree.rootFolder);
    EXPECT_EQ(cached.getFolderCount(), 1);
    EXPECT_EQ(cached.getFileCount(), 0);
}

TEST(FileTreeCache, RescanUsesTheCacheUntilAskedToRebuild) {
    TempDir dir;
    dir.folder("R");
    dir.file("R/old");
    FileTree tree;
    tree.rootFolder = dir / "R";
    tree.cacheFile = dir / "tree.cache";
    ASSERT_TRUE(tree.rescan(false));
    ASSERT_TRUE(tree.cacheFileExists());

    dir.file("R/new");
    ASSERT_TRUE(tree.rescan(false));
    ASSERT_EQ(tree.getNodeCount(), 2); // the cached view: the folder was not read
    EXPECT_EQ(static_cast<FileTNode*>(tree.getNode(1))->name, "old");

    ASSERT_TRUE(tree.rescan(true));
    ASSERT_EQ(tree.getNodeCount(), 3);
    EXPECT_EQ(vxtest::readFile(tree.cacheFile),
              "+" + (dir / "R/new") + "\n+" + (dir / "R/old") + "\n~\n");

    EXPECT_EQ(tree.removeCacheFile(), 0);
    EXPECT_FALSE(tree.cacheFileExists());
    EXPECT_NE(tree.removeCacheFile(), 0);

    // Without a cache path nothing is written anywhere.
    FileTree plain;
    plain.rootFolder = dir / "R";
    EXPECT_TRUE(plain.rescan(true));
    EXPECT_EQ(plain.getNodeCount(), 3);
    EXPECT_FALSE(plain.saveCacheFile());
    EXPECT_FALSE(vxtest::exists(tree.cacheFile));
}

TEST(FileTreeCache, WriterRefusesPathsTheReaderCouldNotHold) {
    TempDir dir;
    const std::string r = dir / "R";
    // A file path of exactly 498 bytes, the longest a cache line can hold,
    // made of components short enough for the file system.
    std::string rel;
    std::size_t total = r.size() + 1;
    while (total < 498) {
        if (!rel.empty()) {
            rel += '/';
            ++total;
        }
        std::size_t chunk = std::min<std::size_t>(498 - total, 200);
        if (498 - total - chunk == 1)
            --chunk; // room for "/" and one more byte
        rel += std::string(chunk, 'n');
        total += chunk;
    }
    ASSERT_EQ(r.size() + 1 + rel.size(), 498u);
    const std::string folder = rel.substr(0, rel.rfind('/'));
    ASSERT_NE(folder, rel) << "the scratch path is too short for a nested name";
    dir.folder("R/" + folder);
    dir.file("R/" + rel);

    FileTree tree;
    tree.rootFolder = r;
    tree.cacheFile = dir / "tree.cache";
    ASSERT_TRUE(tree.rescan(true));
    ASSERT_TRUE(tree.cacheFileExists());
    FileTree back;
    back.rootFolder = r;
    back.cacheFile = tree.cacheFile;
    ASSERT_TRUE(back.loadCacheFile());
    EXPECT_EQ(facts(back), facts(tree));

    // One byte more and no cache is written; the tree itself is complete.
    const int nodes = tree.getNodeCount();
    dir.file("R/" + rel + "g");
    ASSERT_TRUE(tree.rescan(true));
    EXPECT_EQ(tree.getNodeCount(), nodes + 1);
    EXPECT_FALSE(tree.cacheFileExists());
    EXPECT_FALSE(tree.saveCacheFile());

    // An empty tree writes nothing either.
    FileTree empty;
    empty.cacheFile = dir / "empty.cache";
    EXPECT_FALSE(empty.saveCacheFile());
    EXPECT_FALSE(vxtest::exists(empty.cacheFile));
}

TEST(FileTreeCache, DamagedCachesFailCleanly) {
    TempDir dir;
    const std::string good = "-/R/a\n+/R/a/f\n~\n-/R/e\n~\n+/R/g\n~\n";
    {
        CacheReader r(dir, good);
        ASSERT_TRUE(r.tree.loadCacheFile());
        EXPECT_EQ(r.tree.getNodeCount(), 5);
        EXPECT_EQ(r.tree.getFolderCount(), 3);
        EXPECT_EQ(r.tree.getFileCount(), 2);
    }

    const std::string logBefore = vxtest::readLog();
    const std::string logLine = "error: invalid cache file";
    int rejected = 0;
    auto expectRejected = [&](const std::string& bytes, const char* what) {
        CacheReader r(dir, bytes);
        EXPECT_FALSE(r.tree.loadCacheFile()) << what;
        EXPECT_EQ(r.tree.getNodeCount(), 0) << what;
        EXPECT_EQ(r.tree.getRootNode(), nullptr) << what;
        EXPECT_EQ(r.tree.getFolderCount(), 0) << what;
        ++rejected;
        // rescan still answers true, with the tree left empty.
        EXPECT_TRUE(r.tree.rescan(false)) << what;
        EXPECT_EQ(r.tree.getNodeCount(), 0) << what;
        ++rejected;
    };

    // Every cut of the good file short of its end.
    for (std::size_t n = 0; n < good.size(); ++n)
        expectRejected(good.substr(0, n), "truncated");
    expectRejected(good + "~\n", "bytes after the end");
    expectRejected(good + "\n", "bytes after the end");
    expectRejected("~x", "end marker without line feed");
    expectRejected("\n~\n", "empty line");
    expectRejected("+\n~\n", "no path");
    expectRejected("-\n~\n~\n", "no path");
    expectRejected("-nofolder\n~\n~\n", "folder without a slash");
    expectRejected("+/R/..\n~\n", "dot-dot name");
    expectRejected("-/R/.\n~\n~\n", "dot name");
    expectRejected("+/R/\n~\n", "empty file name");
    expectRejected(std::string("+/R/a\0b\n~\n", 10), "zero byte");
    expectRejected("+/R/" + std::string(496, 'x') + "\n~\n", "line of 500 bytes");
    expectRejected("+/R/" + std::string(5000, 'x') + "\n~\n", "line of 5004 bytes");
    expectRejected("+/R/" + std::string(5000, 'x'), "endless line");
    {
        // Deeper than any path of the format could nest.
        std::string deep;
        for (int i = 0; i < 300; ++i)
            deep += "-/d\n";
        for (int i = 0; i < 301; ++i)
            deep += "~\n";
        expectRejected(deep, "too deep");
        std::string deeper;
        for (int i = 0; i < 200000; ++i)
            deeper += "-/d\n";
        expectRejected(deeper, "endless nesting");
    }

    // A line of exactly 499 bytes is the longest allowed.
    {
        CacheReader r(dir, "+/R/" + std::string(495, 'x') + "\n~\n");
        EXPECT_TRUE(r.tree.loadCacheFile());
        EXPECT_EQ(r.tree.getNodeCount(), 2);
    }

    // Each rejection logged its line once (rescan's load included).
    const std::string log = vxtest::readLog().substr(logBefore.size());
    EXPECT_EQ(vxtest::countLines(log, logLine), rejected);

    // A missing or unreadable cache is not logged.
    FileTree missing;
    missing.cacheFile = dir / "none.cache";
    EXPECT_FALSE(missing.loadCacheFile());
    EXPECT_EQ(missing.getNodeCount(), 0);
    FileTree none;
    EXPECT_FALSE(none.loadCacheFile());
    EXPECT_EQ(vxtest::readLog().size() - logBefore.size(), log.size());
}
